#pragma once
// A module as the engine addresses it: what its search reply said and where it came from. The
// MAC names the module inside every command; the binding (local address) is where commands to it
// leave from; the peer address and port are where its replies must come from to count as its own.

#include "core/types.h"

#include <QString>

#include <cstdint>
#include <string>

namespace varnix {

struct TFoundModule {
    std::string Ip, Name, Mac; // from the search reply; Mac as "00 1A 2B 3C 4D 5E"
    int Firmware = 0;
    std::int32_t Family = FamilyUnknown;
    int Binding = -1;     // index of the binding of the endpoint that heard it
    std::string Local;    // that binding's local address
    std::string PeerAddr; // where its search reply came from
    std::uint16_t PeerPort = 0;
};

// The log-in every addressed command carries.
struct TLogin {
    std::string User, Password;
};

QString FamilyText(std::int32_t family); // "Z2", "Z3", "incompatible"

} // namespace varnix
