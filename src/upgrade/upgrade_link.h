#pragma once
// The sockets of a firmware upgrade as its drivers see them: bind the four ports for a local
// address, send a datagram from one of them, and hear what arrives with its sender. The real one
// is TUpgradeEndpoint; tests hand the drivers a link of their own and play the modules on it.

#include "upgrade/upgrade_session.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

namespace varnix {

// Why a socket could not be set up or used: the port (0: the local address itself) and the errno.
struct TEndpointError {
    std::uint16_t Port = 0;
    int Errno = 0;
};

class IUpgradeLink {
public:
    virtual ~IUpgradeLink() = default;
    // Binds ports 9, 67, 69 and 40300 for localIP (dotted text); on failure nothing stays bound.
    virtual std::optional<TEndpointError> Open(const std::string& localIP) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual std::optional<TEndpointError> Send(const TUpgradeSend& d) = 0;

    // Every datagram received: the local port it reached and its sender. Set by the driver.
    std::function<void(std::uint16_t localPort, const std::string& senderIP, std::uint16_t senderPort,
                       std::span<const std::uint8_t> data)>
        OnReceived;
};

} // namespace varnix
