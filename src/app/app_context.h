#pragma once
// What the windows of one run share: the language list, the settings file, the log-in the LAN
// commands carry and the hint switch. main.cpp makes one and passes it to every window it
// builds; nothing reaches it any other way, so a test that makes two contexts gets two windows
// that share nothing. Each window reads and writes its own keys of Settings() itself.

#include "app/hint_switch.h"
#include "app/login.h"
#include "app/settings.h"
#include "capture/capture.h"
#include "lang/lang_list.h"

#include <QString>

#include <memory>

namespace varnix {

class TAppContext {
public:
    // Registers the built-in texts, then reads (and, when absent, writes) Lang.txt in
    // `programDir`; opens Cfg.ini there without reading it yet (a missing file is created by
    // the first save). Stale temporary files of Cfg.ini are removed: only one copy of the
    // program runs per directory (the single-instance guard comes first), so any is a leftover
    // of a copy killed mid-write.
    explicit TAppContext(const QString& programDir);
    TAppContext(const TAppContext&) = delete;
    TAppContext& operator=(const TAppContext&) = delete;

    const QString& ProgramDir() const { return programDir_; }
    TLangList& Lang() { return lang_; }
    const TLangList& Lang() const { return lang_; }
    TSettings& Settings() { return settings_; }
    const TSettings& Settings() const { return settings_; }
    TLoginText& Login() { return login_; }
    const TLoginText& Login() const { return login_; }
    // Everything the windows exchange with modules (LAN, upgrade, debugging window, serial port)
    // since the start or the last search, kept in memory for File > Save capture, passwords masked.
    capture::TCapture& Capture() const { return *capture_; }
    THintSwitch& Hints() { return hints_; }
    const THintSwitch& Hints() const { return hints_; }

    // The text of `key` (or of a text already shown) in the current language; a key found
    // nowhere, or any failure inside the lookup, gives the key itself.
    QString Text(const QString& key) const;
    QString Text(const char* key) const { return Text(QString::fromLatin1(key)); }

private:
    QString programDir_;
    TLangList lang_;
    TSettings settings_;
    TLoginText login_;
    THintSwitch hints_;
    std::unique_ptr<capture::TCapture> capture_;
};

} // namespace varnix
