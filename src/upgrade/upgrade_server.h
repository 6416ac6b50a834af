#pragma once
// Many firmware upgrade runs side by side over one set of ports (9, 67, 69 and 40300 on one local
// address). Each run is a TUpgradeSession of its own with its own timer on the injected clock:
// its target MAC and address, its block number, re-sends and time-outs are its own, so a module's
// run goes exactly as if it were alone.
//
// What arrives is handed to the run it belongs to: a boot request by its client hardware address
// (bytes 28..33), a read request or an acknowledgement by the address it came from. The run then
// applies its own checks (the MAC, the data port, the phase). A datagram no run claims is counted
// as foreign and reported, never guessed at.

#include "core/result.h"
#include "engine/clock.h"
#include "upgrade/upgrade_link.h"
#include "upgrade/upgrade_session.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace varnix {

class TUpgradeServer {
public:
    using TRunId = int;
    using TOutputFn = std::function<void(const TUpgradeOutput&)>;

    TUpgradeServer(IUpgradeLink& link, TClock& clock);
    ~TUpgradeServer();
    TUpgradeServer(const TUpgradeServer&) = delete;
    TUpgradeServer& operator=(const TUpgradeServer&) = delete;

    // Binds the ports for localIP; every run works from that address.
    std::optional<TEndpointError> Open(const std::string& localIP);
    // Stops every run (no output) and drops the bindings.
    void Close();
    bool IsOpen() const { return link_.IsOpen(); }
    const std::string& LocalIP() const { return localIP_; }

    // Starts a run from the server's local address (start.LocalIP is replaced). Refused with the
    // reason when the server is not open, when a running run has the same MAC or target address
    // (their datagrams could not be told apart), or when the session refuses the start (the
    // address checks, the image); nothing is sent then. `onOutput` sees every later output of
    // the run and the one of its start; it may call Stop, Forget or Start.
    TResult<TRunId> Start(TUpgradeStart start, TOutputFn onOutput);
    // Ends a run without output (Exit); its bindings stay for the others.
    void Stop(TRunId id);
    // Stops the run and drops it.
    void Forget(TRunId id);
    const TUpgradeSession* Session(TRunId id) const;
    int Running() const;

    // Datagrams that reached the ports but no run took, and the runs' own ignored ones.
    int Foreign() const { return foreign_; }
    // One line per such datagram, for a log (who sent what and why it did not count).
    std::function<void(const std::string&)> OnIgnored;

private:
    struct TRun {
        TUpgradeSession Session;
        std::unique_ptr<ITimer> Timer;
        int TimerMs = 0;
        TOutputFn OnOutput;
    };
    void Received(std::uint16_t localPort, const std::string& senderIP, std::uint16_t senderPort,
                  std::span<const std::uint8_t> data);
    // The running run a datagram belongs to; 0 for none.
    TRunId RunFor(std::uint16_t localPort, const std::string& senderIP,
                  std::span<const std::uint8_t> data) const;
    void Apply(TRunId id, TUpgradeOutput out);
    void Ignored(const std::string& why);

    IUpgradeLink& link_;
    TClock& clock_;
    std::string localIP_;
    std::map<TRunId, std::unique_ptr<TRun>> runs_;
    TRunId next_ = 1;
    int foreign_ = 0;
};

} // namespace varnix
