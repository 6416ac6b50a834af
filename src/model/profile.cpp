#include "model/profile.h"

#include "lang/error_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace varnix {

namespace {

const QString FormatTag = QStringLiteral("varnix-profile");
constexpr int FormatVersion = 1;

QString FamilyName(std::int32_t family) {
    return family == FamilyZ2 ? QStringLiteral("Z2") : family == FamilyZ3 ? QStringLiteral("Z3") : QString();
}

} // namespace

QByteArray WriteProfile(const TModuleSettings& s, const TProfileSource& source) {
    QJsonObject fields;
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldWritable(f, s))
            continue;
        const QJsonValue v = f.Get(s);
        if (!v.isNull() && !v.isUndefined())
            fields.insert(f.Name, v);
    }
    QJsonObject src;
    src.insert(QStringLiteral("mac"), source.Mac);
    src.insert(QStringLiteral("ip"), source.Ip);
    src.insert(QStringLiteral("name"), source.Name);
    QJsonObject root;
    root.insert(QStringLiteral("format"), FormatTag);
    root.insert(QStringLiteral("version"), FormatVersion);
    root.insert(QStringLiteral("family"), FamilyName(s.Family));
    root.insert(QStringLiteral("firmware"), s.Firmware);
    root.insert(QStringLiteral("source"), src);
    root.insert(QStringLiteral("fields"), fields);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<TProfile> ReadProfile(const QByteArray& data, QStringList* errors) {
    QStringList errs;
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (errors)
            *errors << QStringLiteral("not valid JSON at byte %1: %2").arg(pe.offset).arg(pe.errorString());
        return std::nullopt;
    }
    if (!doc.isObject()) {
        if (errors)
            *errors << QStringLiteral("a profile is a JSON object");
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toString() != FormatTag)
        errs << QStringLiteral("\"format\" is not \"%1\"").arg(FormatTag);
    const QJsonValue version = root.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toInt() < 1 || version.toInt() > FormatVersion)
        errs << QStringLiteral("\"version\" must be %1").arg(FormatVersion);
    TProfile profile;
    const QString family = root.value(QStringLiteral("family")).toString();
    if (family == QLatin1String("Z2"))
        profile.Family = FamilyZ2;
    else if (family == QLatin1String("Z3"))
        profile.Family = FamilyZ3;
    const QJsonValue fieldsValue = root.value(QStringLiteral("fields"));
    if (!fieldsValue.isObject()) {
        errs << QStringLiteral("\"fields\" must be an object of field names and values");
    } else {
        const QJsonObject fields = fieldsValue.toObject();
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            const TFieldDef* f = FindField(it.key());
            if (!f) {
                QString message = QStringLiteral("unknown field '%1'").arg(it.key());
                const QStringList near = SimilarFieldNames(it.key());
                if (!near.isEmpty())
                    message += QStringLiteral(" (did you mean %1?)").arg(near.join(QStringLiteral(", ")));
                errs << message;
                continue;
            }
            if (f->Writable == 0) {
                errs << QStringLiteral("%1: read-only (%2)").arg(f->Name, f->Help);
                continue;
            }
            const TResult<QJsonValue> v = ParseFieldJson(*f, it.value());
            if (!v) {
                errs << ErrorMessage(v.Error());
                continue;
            }
            profile.Assignments << TAssignment{f, *v};
        }
    }
    if (!errs.isEmpty()) {
        if (errors)
            *errors << errs;
        return std::nullopt;
    }
    return profile;
}

TProfileApplication SelectForModule(const TProfile& profile, const TModuleSettings& target,
                                    bool withIdentity) {
    TProfileApplication out;
    const unsigned fam = FamilyBit(target.Family);
    for (const TAssignment& a : profile.Assignments) {
        const TFieldDef& f = *a.Field;
        if (f.Identity && !withIdentity) {
            out.Skipped << QStringLiteral("%1: identity field, kept (use --with-identity)").arg(f.Name);
        } else if ((f.Writable & fam) == 0) {
            out.Skipped << QStringLiteral("%1: a %2 save does not write it").arg(f.Name, FamiliesText(fam));
        } else if (!FieldWritable(f, target)) {
            out.Skipped
                << QStringLiteral("%1: the module sent no %2 settings").arg(f.Name, GroupName(f.Group));
        } else {
            out.Applied << a;
        }
    }
    return out;
}

} // namespace varnix
