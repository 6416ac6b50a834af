#pragma once
// The log-in user name and password that every addressed LAN command carries. Program-wide:
// the password dialog edits them, the settings file saves them at exit and restores them at
// start, the LAN commands read them. Used on the GUI thread only.

#include <QString>
#include <QStringView>

namespace varnix {

inline constexpr QStringView DefaultLoginText = u"vesta";

extern QString LoginUserName;
extern QString LoginPassword;

} // namespace varnix
