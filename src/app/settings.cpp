#include "app/settings.h"

#include "app/app_paths.h"
#include "core/convert.h"
#include "lang/lang_list.h"
#include "lang/text_codec.h"

#include <memory>
#include <vector>

namespace varnix {

namespace {

int ModelOf(int zNum) {
    return zNum == 2 || zNum == 3 ? zNum : 1;
}

} // namespace

std::span<const TSettingDef> SettingsTable() {
    static const std::vector<TSettingDef> table = [] {
        const QString login = DefaultLoginText.toString();
        return std::vector<TSettingDef>{
            {IniLanguage, TSettingType::Boolean, FormatIniBoolean(TLangList::IsSysChinese())},
            {IniRealTimeHelp, TSettingType::Boolean, QStringLiteral("1")},
            // No port until one is found: the serial tab takes the first port it finds.
            {IniLocalCom, TSettingType::String, QString()},
            {IniZNum, TSettingType::Integer, QStringLiteral("1")},
            {IniUserName, TSettingType::String, login},
            {IniPassword, TSettingType::String, login},
            {IniUpgradeIP, TSettingType::String, QString()},
            {IniUpgradeMAC, TSettingType::String, QString()},
            {IniUpgradeFileName, TSettingType::String, QString()},
            {IniFilePath, TSettingType::String, QString()},
            {IniMainGeometry, TSettingType::String, QString()},
            {IniUpgradeGeometry, TSettingType::String, QString()},
            {IniDebugGeometry, TSettingType::String, QString()},
            {IniRolloutGeometry, TSettingType::String, QString()},
            {IniInventoryGeometry, TSettingType::String, QString()},
        };
    }();
    return table;
}

const TSettingDef* FindSetting(QStringView key) {
    for (const TSettingDef& d : SettingsTable())
        if (d.Key.compare(key, Qt::CaseInsensitive) == 0)
            return &d;
    return nullptr;
}

std::optional<int> ParseIniInteger(QStringView text) {
    const QStringView t = text.trimmed();
    bool ok = false;
    int v = 0;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) {
        const QStringView digits = t.mid(2);
        // toUInt would accept a sign or a second "0x"; only hexadecimal digits may follow.
        for (QChar c : digits) {
            const char16_t u = c.unicode();
            if (!((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F')))
                return std::nullopt;
        }
        const uint u = digits.toUInt(&ok, 16);
        v = static_cast<int>(u); // 0xFFFFFFFF reads as -1, as a 32-bit integer does
    } else {
        v = t.toInt(&ok, 10);
    }
    if (!ok)
        return std::nullopt;
    return v;
}

QString IniWriteErrorText(const QString& path) {
    return QStringLiteral("Unable to write to %1").arg(path);
}

QString TSettings::TableDefault(QStringView key) const {
    const TSettingDef* d = FindSetting(key);
    return d ? d->Default : QString();
}

bool TSettings::ReadBool(QStringView key) const {
    return ReadBool(key, ParseIniInteger(TableDefault(key)).value_or(0) != 0);
}

bool TSettings::ReadBool(QStringView key, bool def) const {
    return ReadInteger(key, def ? 1 : 0) != 0;
}

int TSettings::ReadInteger(QStringView key) const {
    return ReadInteger(key, ParseIniInteger(TableDefault(key)).value_or(0));
}

int TSettings::ReadInteger(QStringView key, int def) const {
    const auto text = file_.Read(IniSection, key);
    if (!text)
        return def;
    return ParseIniInteger(*text).value_or(def);
}

QString TSettings::ReadString(QStringView key) const {
    return ReadString(key, TableDefault(key));
}

QString TSettings::ReadString(QStringView key, const QString& def) const {
    return file_.Read(IniSection, key).value_or(def);
}

bool TSettings::WriteBool(QStringView key, bool value) {
    return WriteString(key, FormatIniBoolean(value));
}

bool TSettings::WriteInteger(QStringView key, int value) {
    return WriteString(key, QString::number(value));
}

bool TSettings::WriteString(QStringView key, const QString& value) {
    return file_.Write(IniSection.toString(), key.toString(), value);
}

namespace {

TStatus Written(const TSettings& ini, bool ok) {
    if (!ok)
        return TError{"", ini.Path().toStdString(), IniWriteErrorText(ini.Path()).toStdString()};
    return {};
}

} // namespace

TMainSettings LoadMainSettings(const TSettings& ini, bool systemIsChinese) {
    TMainSettings s;
    s.Chinese = ini.ReadBool(IniLanguage, systemIsChinese);
    s.RealTimeHelp = ini.ReadBool(IniRealTimeHelp);
    s.LocalCom = ini.ReadString(IniLocalCom);
    s.Model = ModelOf(ini.ReadInteger(IniZNum));
    return s;
}

TStatus SaveMainSettings(TSettings& ini, const TMainSettings& values) {
    return Written(ini, ini.WriteBool(IniLanguage, values.Chinese) &&
                            ini.WriteBool(IniRealTimeHelp, values.RealTimeHelp) &&
                            ini.WriteString(IniLocalCom, values.LocalCom) &&
                            ini.WriteInteger(IniZNum, ModelOf(values.Model)));
}

QByteArray LoadGeometry(const TSettings& ini, QStringView key) {
    return QByteArray::fromBase64(ini.ReadString(key).toLatin1());
}

TStatus SaveGeometry(TSettings& ini, QStringView key, const QByteArray& geometry) {
    return Written(ini, ini.WriteString(key, QString::fromLatin1(geometry.toBase64())));
}

TStatus SaveLanguage(TSettings& ini, bool chinese) {
    return Written(ini, ini.WriteBool(IniLanguage, chinese));
}

TLoginText LoadLoginSettings(const TSettings& ini, const TLoginText& current) {
    // The log-in fields are saved at every exit; restoring them lets the user keep a changed
    // module password across runs instead of typing it again.
    const auto fits = [](const char* field, const QString& text) {
        return CheckLoginText(field, DisplayToBytes(text)).Ok();
    };
    TLoginText login = current;
    if (const QString user = ini.ReadString(IniUserName, current.UserName); fits("UserName", user))
        login.UserName = user;
    if (const QString password = ini.ReadString(IniPassword, current.Password); fits("Password", password))
        login.Password = password;
    return login;
}

TStatus SaveLoginSettings(TSettings& ini, const TLoginText& login) {
    return Written(ini, ini.WriteString(IniUserName, login.UserName) &&
                            ini.WriteString(IniPassword, login.Password));
}

TUpgradeSettings LoadUpgradeSettings(const TSettings& ini) {
    return {ini.ReadString(IniUpgradeIP), ini.ReadString(IniUpgradeMAC), ini.ReadString(IniUpgradeFileName)};
}

TStatus SaveUpgradeSettings(TSettings& ini, const TUpgradeSettings& values) {
    return Written(ini, ini.WriteString(IniUpgradeIP, values.IP) &&
                            ini.WriteString(IniUpgradeMAC, values.MAC) &&
                            ini.WriteString(IniUpgradeFileName, values.FileName));
}

QString LoadCmdFilePath(const TSettings& ini, const QString& current) {
    return ini.ReadString(IniFilePath, current);
}

TStatus SaveCmdFilePath(TSettings& ini, const QString& path) {
    return Written(ini, ini.WriteString(IniFilePath, path));
}

} // namespace varnix
