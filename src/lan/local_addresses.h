#pragma once
// The PC's local IPv4 addresses, one UDP binding each.

#include <string>
#include <vector>

namespace varnix {

// Replaces the list by the IPv4 addresses (dotted text) of every interface that is up, in
// interface order; loopback interfaces only when includeLoopback is set. Returns the number of
// entries. When the interfaces cannot be enumerated the list is left as it was and 0 is returned.
int GetLocalIPList(std::vector<std::string>& list, bool includeLoopback = false);

// The netmask (dotted text) of a local IPv4 address, from the interface that holds it; "" when no
// interface that is up holds that address.
std::string LocalNetmask(const std::string& address);

} // namespace varnix
