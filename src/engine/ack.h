#pragma once
// A module's answer to a command: an acknowledgement FF 01 xx S with status S = 'K' (done), 'P'
// (user name or password wrong) or 'E' (another error), or the 2-byte checksum-error reply 'E' and
// the sum the module expected. Byte 2 of an acknowledgement (xx) is left open by the protocol and
// never examined: which command an acknowledgement answers follows from the lane it came back to
// and the order of the sends.

#include "engine/outcome.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

namespace varnix {

struct TAck {
    char Result = 0; // 'K', 'P', 'E', or 'C' (checksum error; Expected holds the module's sum)
    int Expected = 0;
    bool operator==(const TAck&) const = default;
};

// The acknowledgement an endpoint status event reports (stAck, stPswdError, stOtherError,
// stCheckError with the module's sum as two hex digits in `text`); none for other events.
std::optional<TAck> AckOfStatus(std::int32_t code, const std::string& text);

QString AckResultText(const TAck& a); // "K (acknowledged)", "checksum error (the module expected 3A)"
QString AckShortText(const TAck& a);  // "K", "P", "E", "checksum" (the journal's form)
TOutcome AckOutcome(const TAck& a);   // K -> Ok, P -> Password, E/C -> ModuleError

} // namespace varnix
