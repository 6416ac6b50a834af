#include "debug/cmd_text.h"

#include "core/convert.h"
#include "lang/text_codec.h"

#include <QRegularExpression>
#include <QStringList>

#include <string>

namespace varnix {

namespace {

bool IsHexDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}

// The hex digits of `text` with white space removed; std::nullopt when anything else is there or
// the count is odd.
std::optional<std::string> HexDigitsOf(const QString& text) {
    std::string digits;
    digits.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (!IsHexDigit(c))
            return std::nullopt;
        digits += static_cast<char>(c.toUpper().toLatin1());
    }
    if (digits.size() % 2 != 0)
        return std::nullopt;
    return digits;
}

QString SpacedPairs(std::string_view digits) {
    QString out;
    out.reserve(static_cast<qsizetype>(digits.size() / 2 * 3));
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        if (!out.isEmpty())
            out += u' ';
        out += QLatin1Char(digits[i]);
        out += QLatin1Char(digits[i + 1]);
    }
    return out;
}

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            return true;
    return false;
}

} // namespace

bool LooksLikeHexPairs(const QString& text) {
    const QStringList groups = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (groups.size() < 2)
        return false;
    for (const QString& g : groups)
        if (g.size() != 2 || !IsHexDigit(g[0]) || !IsHexDigit(g[1]))
            return false;
    return true;
}

QString CmdTextToHex(const QString& text) {
    if (LooksLikeHexPairs(text))
        return SpacedPairs(*HexDigitsOf(text));
    return SpacedPairs(TextToHex(DisplayToBytes(text)));
}

std::optional<QString> CmdHexToText(const QString& hex) {
    const std::optional<std::string> digits = HexDigitsOf(hex);
    if (!digits)
        return hex;
    const std::string bytes = HexToText(*digits);
    const QString text = BytesToDisplay(bytes);
    if (HasControlCharacter(text) || DisplayToBytes(text) != bytes || LooksLikeHexPairs(text))
        return std::nullopt;
    return text;
}

} // namespace varnix
