#include "app/settings.h"

#include "app/app_paths.h"
#include "app/login.h"
#include "core/convert.h"
#include "lang/lang_list.h"
#include "lang/text_codec.h"

#include <memory>
#include <vector>

namespace varnix {

namespace {

std::unique_ptr<TSettings> GIni;

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

TSettings* Ini() {
    return GIni.get();
}

void LoadIni(const QString& programDir, TLangList& lang, ISettingsTarget& target, bool systemIsChinese) {
    GIni = std::make_unique<TSettings>(ProgramFilePath(programDir, IniFileName.toString()));
    // Only one copy of the program runs (the single-instance guard comes first), so any
    // temporary file of the settings is a leftover of a copy that was killed mid-write.
    RemoveStaleTempFiles(GIni->Path());
    const TSettings& ini = *GIni;

    lang.IsChinese = ini.ReadBool(IniLanguage, systemIsChinese);
    target.setLanguageChecked(lang.IsChinese);
    target.setAboutMenuVisible(true);
    target.setRealTimeHelpChecked(ini.ReadBool(IniRealTimeHelp));
    target.setUpdateMenusVisible(false);
    target.setHintHidePause(HintHidePauseMs);
    target.setHintsEnabled(ini.ReadBool(IniRealTimeHelp));
    target.setLocalCom(ini.ReadString(IniLocalCom));
    target.setModelChecked(ModelOf(ini.ReadInteger(IniZNum)));
    target.setCmdFilePath(ini.ReadString(IniFilePath, target.cmdFilePath()));
    // The log-in fields are saved at every exit; restoring them lets the user keep a changed
    // module password across runs instead of typing it again.
    // A log-in that does not fit its six bytes (a file edited by hand) is not taken: commands
    // would have to cut it, possibly inside a character.
    const auto fits = [](const char* field, const QString& text) {
        return CheckLoginText(field, DisplayToBytes(text)).Ok();
    };
    if (const QString user = ini.ReadString(IniUserName, LoginUserName); fits("UserName", user))
        LoginUserName = user;
    if (const QString password = ini.ReadString(IniPassword, LoginPassword); fits("Password", password))
        LoginPassword = password;
}

void LoadIni(const QString& programDir, TLangList& lang, ISettingsTarget& target) {
    LoadIni(programDir, lang, target, TLangList::IsSysChinese());
}

void LoadIniUpgrade(IUpgradeSettingsTarget& target) {
    const TSettings* ini = Ini();
    target.setUpgradeIP(ini ? ini->ReadString(IniUpgradeIP) : QString());
    target.setUpgradeMAC(ini ? ini->ReadString(IniUpgradeMAC) : QString());
    target.setUpgradeFileName(ini ? ini->ReadString(IniUpgradeFileName) : QString());
}

TIniResult SaveIniLanguage(const TLangList& lang) {
    TSettings* ini = Ini();
    if (!ini)
        return {};
    if (!ini->WriteBool(IniLanguage, lang.IsChinese))
        return {false, IniWriteErrorText(ini->Path())};
    return {};
}

TIniResult SaveIni(const TLangList& lang, const ISettingsTarget& main,
                   const IUpgradeSettingsTarget* upgrade) {
    if (TIniResult r = SaveIniLanguage(lang); !r)
        return r;
    TSettings* ini = Ini();
    if (!ini)
        return {};
    const bool ok = ini->WriteBool(IniRealTimeHelp, main.realTimeHelpChecked()) &&
                    ini->WriteString(IniLocalCom, main.localCom()) &&
                    ini->WriteInteger(IniZNum, ModelOf(main.checkedModel())) &&
                    ini->WriteString(IniUserName, LoginUserName) &&
                    ini->WriteString(IniPassword, LoginPassword) &&
                    (!upgrade || (ini->WriteString(IniUpgradeIP, upgrade->upgradeIP()) &&
                                  ini->WriteString(IniUpgradeMAC, upgrade->upgradeMAC()) &&
                                  ini->WriteString(IniUpgradeFileName, upgrade->upgradeFileName()))) &&
                    ini->WriteString(IniFilePath, main.cmdFilePath());
    if (!ok)
        return {false, IniWriteErrorText(ini->Path())};
    return {};
}

void FreeIni() {
    GIni.reset();
}

} // namespace varnix
