#pragma once
// The log-in user name and password that every addressed LAN command carries. One per
// application context: the password dialog edits it and keeps it in the settings file, the LAN
// commands read it. Used on the GUI thread only.

#include <QString>
#include <QStringView>

namespace varnix {

inline constexpr QStringView DefaultLoginText = u"vesta";

struct TLoginText {
    QString UserName = DefaultLoginText.toString();
    QString Password = DefaultLoginText.toString();
};

} // namespace varnix
