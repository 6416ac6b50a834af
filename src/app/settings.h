#pragma once
// The settings file Cfg.ini in the program's directory: one section "System" with the keys
// below. Each window reads its own keys when it is made and writes them back when it closes
// (and when the program ends); the language is also written the moment it is switched.
//
// Booleans are written 1/0 and read as integers (any non-zero value is true). Integers are
// written in decimal and read in decimal, or in hexadecimal after "0x"/"0X". A missing key or
// a number that does not parse gives the default; a string key present with an empty value
// gives the empty text. The file holds the log-in password in plain text, so it is created
// with mode 0600, and every write replaces it atomically.

#include "app/login.h"
#include "app/settings_ini.h"
#include "core/result.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>
#include <span>

namespace varnix {

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
// Each window's size, place and state (maximised) as Qt saves them, in Base64; written after
// the keys above, which keep their order.
inline constexpr QStringView IniMainGeometry = u"MainGeometry";
inline constexpr QStringView IniUpgradeGeometry = u"UpgradeGeometry";
inline constexpr QStringView IniDebugGeometry = u"DebugGeometry";
inline constexpr QStringView IniRolloutGeometry = u"RolloutGeometry";
// The inventory window's size and place, in the same form.
inline constexpr QStringView IniInventoryGeometry = u"InventoryGeometry";

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

// A save's outcome is a TStatus: on failure its Message is the text to show ("Unable to write to
// <path>") and its Text the file's path.

// Each window reads its own keys when it is made and writes them itself, through the functions
// below: the main window its language, hint switch, serial port and model; the password dialog
// the log-in; the upgrade window its three edits; the debugging window its command-list path.

// The main window's keys. "Language" defaults to `systemIsChinese`.
struct TMainSettings {
    bool Chinese = false;
    bool RealTimeHelp = true;
    QString LocalCom;
    int Model = 1; // 1, 2 or 3 (ZNum; any other value reads as 1)
};
TMainSettings LoadMainSettings(const TSettings& ini, bool systemIsChinese);
// Writes "Language", "RealTimeHelp", "LocalCom" and "ZNum" in that order; stops at the first
// write that fails.
TStatus SaveMainSettings(TSettings& ini, const TMainSettings& values);
// A window's geometry under one of the *Geometry keys (Qt's saved form); "" when none was saved.
QByteArray LoadGeometry(const TSettings& ini, QStringView key);
TStatus SaveGeometry(TSettings& ini, QStringView key, const QByteArray& geometry);
// Writes "Language" at once (after a language switch).
TStatus SaveLanguage(TSettings& ini, bool chinese);

// The log-in. A value that does not fit its six bytes (a file edited by hand) is not taken:
// commands would have to cut it, possibly inside a character; `current` stays then, as it does
// for a missing key.
TLoginText LoadLoginSettings(const TSettings& ini, const TLoginText& current);
TStatus SaveLoginSettings(TSettings& ini, const TLoginText& login);

// The upgrade window's edits (each empty by default).
struct TUpgradeSettings {
    QString IP;
    QString MAC;
    QString FileName;
};
TUpgradeSettings LoadUpgradeSettings(const TSettings& ini);
TStatus SaveUpgradeSettings(TSettings& ini, const TUpgradeSettings& values);

// The debugging window's command-list file ("" = DataSelf.txt); a missing key keeps `current`.
QString LoadCmdFilePath(const TSettings& ini, const QString& current);
TStatus SaveCmdFilePath(TSettings& ini, const QString& path);

} // namespace varnix
