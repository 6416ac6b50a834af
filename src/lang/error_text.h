#pragma once
// A TError's message where a Qt text is wanted: Message is UTF-8.

#include "core/result.h"

#include <QString>

namespace varnix {

inline QString ErrorMessage(const TError& error) {
    return QString::fromStdString(error.Message);
}

} // namespace varnix
