#pragma once
// The upgrade's own UDP endpoint: four sockets for one local IPv4 address, read on the thread
// that owns the endpoint through socket notifiers.
//
//   port 9      bound to LocalIP, sends the upgrade request as a broadcast
//   port 67     bound to 0.0.0.0: the module has no address yet and broadcasts its boot request
//               to 255.255.255.255:67, which Linux never delivers to a socket bound to a unicast
//               address. Only datagrams that arrived on LocalIP's interface are kept, and the
//               boot reply leaves that interface with LocalIP as its source (IP_PKTINFO).
//   port 69     bound to LocalIP, receives the file read request
//   port 40300  bound to LocalIP, sends the blocks and receives their acknowledgements

#include "core/capture_sink.h"
#include "core/types.h"
#include "upgrade/upgrade_link.h"

#include <QObject>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace varnix {

class TUpgradeEndpoint final : public QObject, public IUpgradeLink {
    Q_OBJECT
public:
    explicit TUpgradeEndpoint(QObject* parent = nullptr);
    ~TUpgradeEndpoint() override;

    std::optional<TEndpointError> Open(const std::string& localIP) override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    std::optional<TEndpointError> Send(const TUpgradeSend& d) override;
    // Every datagram sent and received (the boot port's only from LocalIP's interface) is handed
    // to sink as well; nullptr stops it. The sink must outlive the endpoint.
    void SetCapture(capture::ICaptureSink* sink) { capture_ = sink; }

private:
    struct TBinding {
        std::uint16_t Port = 0;
        int Fd = -1;
        QSocketNotifier* Notifier = nullptr;
    };
    std::optional<TEndpointError> Bind(TBinding& b, std::uint32_t addr);
    void Drain(TBinding& b);

    std::array<TBinding, 4> bindings_;
    std::uint32_t local_ = 0; // network order
    int ifIndex_ = 0;         // LocalIP's interface
    bool open_ = false;
    std::string localText_; // LocalIP as given, for the capture
    capture::ICaptureSink* capture_ = nullptr;
};

// The interface index that holds the IPv4 address (network order); 0 when none does.
int InterfaceIndexOf(std::uint32_t addrNetworkOrder);

} // namespace varnix
