#pragma once
// The --json forms of a module that answered the search and of its acknowledgements.

#include "engine/lan_session.h"

#include <QJsonObject>
#include <QString>

#include <string>

namespace varnix::cli {

// Text the endpoint built (addresses, MACs) as a QString.
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QJsonObject ModuleJson(const TFoundModule& m);
// An acknowledgement and the code of the send it belongs to (-1: none).
QJsonObject AckJson(int code, const TAck& a);

} // namespace varnix::cli
