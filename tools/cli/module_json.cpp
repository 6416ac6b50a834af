#include "cli/module_json.h"

#include "lang/text_codec.h"

namespace varnix::cli {

QJsonObject ModuleJson(const TFoundModule& m) {
    QJsonObject o;
    o.insert(QStringLiteral("ip"), Q(m.Ip));
    o.insert(QStringLiteral("name"), BytesToDisplay(m.Name));
    o.insert(QStringLiteral("mac"), Q(m.Mac));
    o.insert(QStringLiteral("firmware"), m.Firmware);
    o.insert(QStringLiteral("family"), FamilyText(m.Family));
    o.insert(QStringLiteral("familyCode"), m.Family);
    o.insert(QStringLiteral("local"), Q(m.Local));
    return o;
}

QJsonObject AckJson(int code, const TAck& a) {
    QJsonObject o;
    if (code >= 0)
        o.insert(QStringLiteral("code"), code);
    o.insert(QStringLiteral("result"),
             a.Result == 'C' ? QStringLiteral("checksum") : QString(QLatin1Char(a.Result)));
    if (a.Result == 'C')
        o.insert(QStringLiteral("expected"), a.Expected);
    return o;
}

} // namespace varnix::cli
