#pragma once
// The text lines that show a module to a person: the search table and the one-line title of a
// read, set or restart. A module's name is bytes from the network, so it is escaped (see
// lang/safe_text.h) and every line is built in one formatting step: a name such as "%3" is
// text, never a place for the next value.

#include "engine/lan_session.h"

#include <QString>
#include <string>

namespace varnix::cli {

// Text from a module (bytes as text, see lang/text_codec.h) with its control characters
// escaped: never more than one line, never a terminal control sequence.
QString TerminalText(const std::string& wireBytes);

// The header and one row of the search table; a row is one line whatever the module sent.
QString SearchHeader();
QString SearchRow(const TFoundModule& m);

// "00 1A 2B 3C 4D 5E  Line-1  10.77.0.50  Z2 firmware 4017 (on 10.77.0.1)"
QString ModuleTitle(const TFoundModule& m);

} // namespace varnix::cli
