#include "upgrade/transfer_addresses.h"

#include "core/convert.h"

namespace varnix {

namespace {

constexpr std::uint32_t Net24 = 0xFFFFFF00U;

std::string Slash24(std::uint32_t a) {
    return IntToIPText(a & Net24) + "/24";
}

} // namespace

TResult<TAddressRange> ParseAddressRange(std::string_view text) {
    const std::size_t dash = text.find('-');
    const auto first = dash == std::string_view::npos ? std::nullopt : ParseIPv4Text(text.substr(0, dash));
    const auto last = dash == std::string_view::npos ? std::nullopt : ParseIPv4Text(text.substr(dash + 1));
    if (!first || !last)
        return FieldError("pool", std::string(text),
                          "'" + std::string(text) + "' is not FIRST-LAST (two IPv4 addresses)");
    if (*first > *last)
        return FieldError("pool", std::string(text), "the first address is above the last");
    if (*last - *first >= 256)
        return FieldError("pool", std::string(text), "at most 256 addresses");
    return TAddressRange{*first, *last};
}

TTransferAddresses::TTransferAddresses(std::uint32_t local, std::optional<TAddressRange> pool)
    : local_(local), pool_(pool) {}

TStatus TTransferAddresses::CheckPool() const {
    if (!pool_)
        return {};
    if ((pool_->First & Net24) != (local_ & Net24) || (pool_->Last & Net24) != (local_ & Net24))
        return FieldError("pool", IntToIPText(pool_->First) + "-" + IntToIPText(pool_->Last),
                          "not inside the local address's " + Slash24(local_));
    return {};
}

bool TTransferAddresses::Usable(std::uint32_t a) const {
    const std::uint32_t host = a & 0xFFU;
    return (a & Net24) == (local_ & Net24) && host != 0 && host != 255 && a != local_;
}

std::optional<std::uint32_t> TTransferAddresses::FreePoolAddress() const {
    if (!pool_)
        return std::nullopt;
    for (std::uint32_t a = pool_->First; a <= pool_->Last && a >= pool_->First; ++a)
        if (Usable(a) && !leased_.count(a) && !reserved_.count(a))
            return a;
    return std::nullopt;
}

bool TTransferAddresses::PoolHasRoom() const {
    for (std::uint32_t a = pool_ ? pool_->First : 1; pool_ && a <= pool_->Last && a >= pool_->First; ++a)
        if (Usable(a) && !reserved_.count(a))
            return true;
    return false;
}

std::optional<std::string> TTransferAddresses::Refusal(std::uint32_t current) const {
    if (Usable(current) || pool_)
        return std::nullopt;
    if (current == 0)
        return "its address is not known and no --pool was given";
    if (current == local_)
        return "it answers at this PC's own address " + IntToIPText(current) + "; give --pool FIRST-LAST";
    return "its address " + IntToIPText(current) + " is outside the local " + Slash24(local_) +
           "; give --pool FIRST-LAST for the transfer";
}

TLease TTransferAddresses::Lease(std::uint32_t current) {
    if (auto why = Refusal(current))
        return TLease{TLeaseKind::Refused, 0, false, *why};
    if (Usable(current) && !leased_.count(current)) {
        leased_.insert(current);
        return TLease{TLeaseKind::Granted, current, false, {}};
    }
    if (const auto a = FreePoolAddress()) {
        leased_.insert(*a);
        return TLease{TLeaseKind::Granted, *a, true, {}};
    }
    if (!Usable(current) && !PoolHasRoom())
        return TLease{TLeaseKind::Refused, 0, false,
                      "the pool has no address that is free of modules (every one answers as a module)"};
    // Every pool address (or the module's own one) is in use by another transfer right now.
    return TLease{TLeaseKind::Wait, 0, false, {}};
}

} // namespace varnix
