#include "model/field_codec.h"

#include "core/convert.h"
#include "lang/text_codec.h"
#include "model/fields.h"

#include <QRegularExpression>

#include <algorithm>

namespace varnix::fieldcodec {

QJsonValue Num(std::int64_t v) {
    return QJsonValue(static_cast<double>(v));
}
std::int64_t AsInt(const QJsonValue& v) {
    const double d = v.toDouble();
    return WholeNumberInRange(d) ? static_cast<std::int64_t>(d) : -1;
}
// Module texts go through the one byte/text conversion; plain ASCII is the same in every form it
// chooses, and is by far the common case, so it skips the converter set-up.
QString Wire(const std::string& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return BytesToDisplay(bytes);
}
std::string TextBytes(const QString& text) {
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1().toStdString();
    return DisplayToBytes(text);
}
std::string ToWire(const QJsonValue& v) {
    return TextBytes(v.toString());
}

bool HeartBit(const TModuleSettings& s, std::uint8_t bit) {
    return (s.Heart.Flags & bit) != 0;
}
void SetHeartBit(TModuleSettings& s, std::uint8_t bit, bool on) {
    s.Heart.Flags = static_cast<std::uint8_t>(on ? (s.Heart.Flags | bit) : (s.Heart.Flags & ~bit));
}

QJsonValue DataValue(const std::vector<std::uint8_t>& data, bool hex) {
    const std::string bytes(data.begin(), data.end());
    return hex ? QJsonValue(QString::fromStdString(TextToHex(bytes))) : QJsonValue(Wire(bytes));
}

std::optional<std::vector<std::uint8_t>> StrictHex(const QString& text) {
    QString t = text;
    t.remove(QLatin1Char(' '));
    if (t.size() % 2 != 0)
        return std::nullopt;
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]*$"));
    if (!hex.match(t).hasMatch())
        return std::nullopt;
    std::vector<std::uint8_t> out;
    for (qsizetype i = 0; i < t.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(t.mid(i, 2).toUInt(nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> DataFromValue(const QJsonValue& v, bool hex) {
    if (hex)
        return StrictHex(v.toString()).value_or(std::vector<std::uint8_t>{});
    const std::string bytes = ToWire(v);
    return {bytes.begin(), bytes.end()};
}

} // namespace varnix::fieldcodec
