#include "lang/safe_text.h"

#include <algorithm>

namespace varnix {

namespace {

// "\x1B" for a character up to U+00FF, "\u2028" above; upper-case hexadecimal digits.
QString HexEscape(char16_t c) {
    const int digits = c <= 0xFF ? 2 : 4;
    QString out = c <= 0xFF ? QStringLiteral("\\x") : QStringLiteral("\\u");
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += QLatin1Char("0123456789ABCDEF"[(c >> shift) & 0xF]);
    return out;
}

bool NeedsWork(QStringView text, bool backslash) {
    return std::any_of(text.begin(), text.end(), [backslash](QChar c) {
        return IsUnsafeForDisplay(c.unicode()) || (backslash && c == u'\\');
    });
}

} // namespace

bool IsUnsafeForDisplay(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

QString EscapeForTerminal(QStringView text, bool escapeBackslash) {
    if (!NeedsWork(text, escapeBackslash))
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        if (escapeBackslash && c == u'\\')
            out += QStringLiteral("\\\\");
        else if (IsUnsafeForDisplay(c.unicode()))
            out += HexEscape(c.unicode());
        else
            out += c;
    }
    return out;
}

QString ShowControls(QStringView text) {
    // The control pictures (U+2400-U+2421) would say it more briefly, but the usual desktop
    // fonts have no glyphs for them and show empty boxes; "\x1B" reads everywhere.
    return EscapeForTerminal(text, false);
}

} // namespace varnix
