#pragma once
// The address each module is given for its firmware transfer. The boot reply hands the module an
// address, and its read request, blocks and acknowledgements are told apart from every other
// module's by that address alone, so no two transfers may share one, and it must lie in the local
// address's /24 (the module talks to the PC directly, without a router).
//
// A module keeps its own address when that is in the local /24. One whose address is elsewhere
// (a factory address, another subnet) takes a free one of the pool the user gave, or is refused
// with the reason when there is none. A pool address is never one another module answers at.
// A module whose address another transfer is using right now (two modules with one address, as
// modules fresh from the box have) waits for it or takes a pool address.

#include "core/result.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace varnix {

struct TAddressRange {
    std::uint32_t First = 0, Last = 0;
};

// "FIRST-LAST", both dotted quads, FIRST not above LAST, at most 256 addresses.
TResult<TAddressRange> ParseAddressRange(std::string_view text);

enum class TLeaseKind { Granted, Wait, Refused };

struct TLease {
    TLeaseKind Kind = TLeaseKind::Refused;
    std::uint32_t Address = 0;
    bool FromPool = false;
    std::string Reason; // Refused: why, in words
};

class TTransferAddresses {
public:
    TTransferAddresses(std::uint32_t local, std::optional<TAddressRange> pool);

    // The pool must lie in the local /24; checked before anything is sent.
    TStatus CheckPool() const;
    // An address a module answers at: never handed out from the pool.
    void Reserve(std::uint32_t address) { reserved_.insert(address); }
    // Whether a module at `current` (0: not known) would be refused outright.
    std::optional<std::string> Refusal(std::uint32_t current) const;
    TLease Lease(std::uint32_t current);
    void Release(std::uint32_t address) { leased_.erase(address); }

private:
    bool Usable(std::uint32_t a) const;
    std::optional<std::uint32_t> FreePoolAddress() const;
    bool PoolHasRoom() const; // some pool address is neither unusable nor a module's

    std::uint32_t local_;
    std::optional<TAddressRange> pool_;
    std::set<std::uint32_t> reserved_, leased_;
};

} // namespace varnix
