#pragma once
// The settings file Cfg.ini in the program's directory: one section "System" with the keys
// below, read once while the main window is created and written back when it closes; the
// language is also written the moment it is switched.
//
// Booleans are written 1/0 and read as integers (any non-zero value is true). Integers are
// written in decimal and read in decimal, or in hexadecimal after "0x"/"0X". A missing key or
// a number that does not parse gives the default; a string key present with an empty value
// gives the empty text. The file holds the log-in password in plain text, so it is created
// with mode 0600, and every write replaces it atomically.

#include "app/settings_ini.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <span>

namespace varnix {

class TLangList;

inline constexpr QStringView IniFileName = u"Cfg.ini";
inline constexpr QStringView IniSection = u"System";

// The keys, in the order a full save writes them.
inline constexpr QStringView IniLanguage = u"Language";
inline constexpr QStringView IniRealTimeHelp = u"RealTimeHelp";
inline constexpr QStringView IniLocalCom = u"LocalCom";
inline constexpr QStringView IniZNum = u"ZNum";
inline constexpr QStringView IniUserName = u"UserName";
inline constexpr QStringView IniPassword = u"Password";
inline constexpr QStringView IniUpgradeIP = u"UpgradeIP";
inline constexpr QStringView IniUpgradeMAC = u"UpgradeMAC";
inline constexpr QStringView IniUpgradeFileName = u"UpgradeFileName";
inline constexpr QStringView IniFilePath = u"FilePath";

// How long a pop-up hint stays visible once shown.
inline constexpr int HintHidePauseMs = 600000;

enum class TSettingType { Boolean, Integer, String };

struct TSettingDef {
    QStringView Key;
    TSettingType Type;
    QString Default; // in the file's text form ("1", "/dev/ttyUSB0", "")
};

// Every key with its type and default, in save order. "Language" defaults to the system
// language; "FilePath" to the empty text (the debugging window's command list then comes from
// DataSelf.txt in the program directory); "UserName" and "Password" to "vesta".
std::span<const TSettingDef> SettingsTable();
const TSettingDef* FindSetting(QStringView key);

// Value encodings.
std::optional<int> ParseIniInteger(QStringView text);
inline QString FormatIniBoolean(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

// The message shown when the settings file cannot be written.
QString IniWriteErrorText(const QString& path);

// Typed access to Cfg.ini. Getters without a default take the table's.
class TSettings {
public:
    explicit TSettings(QString path) : file_(std::move(path), 0600) {}
    const QString& Path() const { return file_.Path(); }

    bool ReadBool(QStringView key) const;
    bool ReadBool(QStringView key, bool def) const;
    int ReadInteger(QStringView key) const;
    int ReadInteger(QStringView key, int def) const;
    QString ReadString(QStringView key) const;
    QString ReadString(QStringView key, const QString& def) const;

    [[nodiscard]] bool WriteBool(QStringView key, bool value);
    [[nodiscard]] bool WriteInteger(QStringView key, int value);
    [[nodiscard]] bool WriteString(QStringView key, const QString& value);

private:
    QString TableDefault(QStringView key) const;
    TIniFile file_;
};

// Outcome of a save: on failure, the message to show ("Unable to write to <path>").
struct TIniResult {
    bool Ok = true;
    QString Error;
    explicit operator bool() const { return Ok; }
};

// The controls of the main window that the settings load fills and the save reads. The main
// window implements this; tests use a fake.
class ISettingsTarget {
public:
    virtual ~ISettingsTarget() = default;
    // Load: check mni_Cn (chinese) or mni_En (not chinese).
    virtual void setLanguageChecked(bool chinese) = 0;
    // Load: show or hide mni_About.
    virtual void setAboutMenuVisible(bool visible) = 0;
    // Load: check mark of mni_Hint.
    virtual void setRealTimeHelpChecked(bool checked) = 0;
    // Load: show or hide mni_Up and mni_WorkOrder.
    virtual void setUpdateMenusVisible(bool visible) = 0;
    // Load: how long a shown hint stays visible.
    virtual void setHintHidePause(int ms) = 0;
    // Load: hints shown or suppressed application-wide.
    virtual void setHintsEnabled(bool enabled) = 0;
    // Load: text of cbb_SelectCom, set as it is (the port need not exist).
    virtual void setLocalCom(const QString& port) = 0;
    // Load: check rbZ1, rbZ2 or rbZ3 (zNum is 1, 2 or 3).
    virtual void setModelChecked(int zNum) = 0;
    // Load and save: CmdFilePath, the debugging window's command-list file ("" = DataSelf.txt).
    virtual QString cmdFilePath() const = 0;
    virtual void setCmdFilePath(const QString& path) = 0;
    // Save: mni_Hint checked.
    virtual bool realTimeHelpChecked() const = 0;
    // Save: text of cbb_SelectCom.
    virtual QString localCom() const = 0;
    // Save: 1, 2 or 3 for the checked model radio button, 0 when none is checked.
    virtual int checkedModel() const = 0;
};

// The upgrade window's three edits: edt_IP, edt_MAC, edt_BinFileName.
class IUpgradeSettingsTarget {
public:
    virtual ~IUpgradeSettingsTarget() = default;
    virtual void setUpgradeIP(const QString& text) = 0;
    virtual void setUpgradeMAC(const QString& text) = 0;
    virtual void setUpgradeFileName(const QString& text) = 0;
    virtual QString upgradeIP() const = 0;
    virtual QString upgradeMAC() const = 0;
    virtual QString upgradeFileName() const = 0;
};

// The one settings object of the run: created by LoadIni, released by FreeIni.
TSettings* Ini();

// Opens Cfg.ini in `programDir` (the file need not exist: every key then has its default) and
// applies it: the language into `lang.IsChinese` and the menu, the about menu shown, the hint
// switch, the update menus hidden, the hint pause, the serial port text, the model, the
// command-list path, and the log-in user name and password (LoginUserName, LoginPassword;
// unchanged when the file lacks them). `systemIsChinese` is the default of "Language".
void LoadIni(const QString& programDir, TLangList& lang, ISettingsTarget& target, bool systemIsChinese);
// The same with the system language test.
void LoadIni(const QString& programDir, TLangList& lang, ISettingsTarget& target);

// Fills the upgrade window's three edits (default empty each).
void LoadIniUpgrade(IUpgradeSettingsTarget& target);

// Writes "Language" at once (after a language switch).
TIniResult SaveIniLanguage(const TLangList& lang);

// Writes every key in table order; stops at the first write that fails.
// Without an upgrade window (`upgrade` null) its three keys are left as the file has them.
TIniResult SaveIni(const TLangList& lang, const ISettingsTarget& main, const IUpgradeSettingsTarget* upgrade);

// Releases the settings object.
void FreeIni();

} // namespace varnix
