#include "upgrade/upgrade_server.h"

#include "core/convert.h"

#include <algorithm>
#include <cstring>

namespace varnix {

namespace {

// Why a session refused its start, in words (the label keys are the window's texts).
std::string RefusalText(const TUpgradeOutput& out) {
    const std::string key = out.MessageKey.value_or(out.LabelKey.value_or(std::string()));
    if (key == "lang_Hint_UpNoSamNetwork")
        return "the target address is not in the local address's /24";
    if (key == "lang_Hint_UpNoClient")
        return "no target address, MAC or local address";
    if (key == "lang_Hint_UpNoFileName")
        return "no firmware file";
    if (key == "lang_Hint_UpNotFirmware")
        return "the image is shorter than its 4-byte signature";
    return "refused:" + out.LabelSuffix;
}

std::string SendErrorText(const TEndpointError& e) {
    return " port " + std::to_string(e.Port) + ": " + std::strerror(e.Errno);
}

} // namespace

TUpgradeServer::TUpgradeServer(IUpgradeLink& link, TClock& clock) : link_(link), clock_(clock) {
    link_.OnReceived = [this](std::uint16_t port, const std::string& sender, std::uint16_t senderPort,
                              std::span<const std::uint8_t> data) {
        Received(port, sender, senderPort, data);
    };
}

TUpgradeServer::~TUpgradeServer() {
    Close();
    link_.OnReceived = nullptr;
}

std::optional<TEndpointError> TUpgradeServer::Open(const std::string& localIP) {
    Close();
    if (auto e = link_.Open(localIP))
        return e;
    localIP_ = localIP;
    return std::nullopt;
}

void TUpgradeServer::Close() {
    for (auto& [id, run] : runs_) {
        (void)run->Session.Stop();
        run->Timer->Stop();
    }
    link_.Close();
    localIP_.clear();
}

TResult<TUpgradeServer::TRunId> TUpgradeServer::Start(TUpgradeStart start, TOutputFn onOutput) {
    if (!IsOpen())
        return TError{"", "", "the upgrade ports are not bound"};
    start.LocalIP = localIP_;
    auto run = std::make_unique<TRun>();
    TUpgradeOutput out = run->Session.Start(std::move(start));
    const TUpgradeSession& s = run->Session;
    if (!s.Active())
        return TError{"", "", RefusalText(out)};
    for (const auto& [id, other] : runs_) {
        const TUpgradeSession& o = other->Session;
        if (!o.Active())
            continue;
        if (o.targetMac() == s.targetMac())
            return TError{"", "", "a run for this MAC is already under way"};
        if (o.targetIP() == s.targetIP())
            return TError{"", s.targetIP(), "another module's run uses " + s.targetIP()};
    }
    run->Timer = clock_.NewTimer();
    run->OnOutput = std::move(onOutput);
    const TRunId id = next_++;
    runs_.emplace(id, std::move(run));
    Apply(id, std::move(out));
    return id;
}

void TUpgradeServer::Stop(TRunId id) {
    const auto it = runs_.find(id);
    if (it == runs_.end())
        return;
    (void)it->second->Session.Stop();
    it->second->Timer->Stop();
}

void TUpgradeServer::Forget(TRunId id) {
    Stop(id);
    runs_.erase(id);
}

const TUpgradeSession* TUpgradeServer::Session(TRunId id) const {
    const auto it = runs_.find(id);
    return it == runs_.end() ? nullptr : &it->second->Session;
}

int TUpgradeServer::Running() const {
    return static_cast<int>(
        std::count_if(runs_.begin(), runs_.end(), [](const auto& r) { return r.second->Session.Active(); }));
}

void TUpgradeServer::Apply(TRunId id, TUpgradeOutput out) {
    const auto it = runs_.find(id);
    if (it == runs_.end())
        return;
    TRun& run = *it->second;
    // The bindings belong to the server: a run's own open and close are not carried out.
    for (const TUpgradeSend& d : out.Sends)
        if (auto e = link_.Send(d)) {
            run.Timer->Stop();
            Apply(id, run.Session.Fail(SendErrorText(*e)));
            return;
        }
    if (out.TimerMs) {
        run.TimerMs = *out.TimerMs;
        if (run.TimerMs == 0) {
            run.Timer->Stop();
        } else {
            // The session's timer repeats while it is enabled; a tick that sets no interval keeps it.
            run.Timer->Start(run.TimerMs, [this, id] {
                const auto r = runs_.find(id);
                if (r == runs_.end())
                    return;
                TUpgradeOutput tick = r->second->Session.TimerTick();
                if (!tick.TimerMs && r->second->Session.Active())
                    tick.TimerMs = r->second->TimerMs;
                Apply(id, std::move(tick));
            });
        }
    }
    // The callback may forget this run (or start others): take it first, touch nothing after.
    const TOutputFn fn = run.OnOutput;
    if (fn)
        fn(out);
}

TUpgradeServer::TRunId TUpgradeServer::RunFor(std::uint16_t localPort, const std::string& senderIP,
                                              std::span<const std::uint8_t> data) const {
    for (auto& [id, run] : runs_) {
        const TUpgradeSession& s = run->Session;
        if (!s.Active())
            continue;
        if (localPort == BootServerPort) {
            if (data.size() == BootRecordSize &&
                std::equal(s.targetMac().begin(), s.targetMac().end(), data.begin() + 28))
                return id;
        } else if (s.targetIP() == senderIP) {
            return id;
        }
    }
    return 0;
}

void TUpgradeServer::Received(std::uint16_t localPort, const std::string& senderIP, std::uint16_t senderPort,
                              std::span<const std::uint8_t> data) {
    const TRunId id = RunFor(localPort, senderIP, data);
    if (id == 0) {
        std::string what = std::to_string(data.size()) + " bytes to port " + std::to_string(localPort) +
                           " from " + senderIP + ":" + std::to_string(senderPort);
        if (localPort == BootServerPort && data.size() == BootRecordSize)
            what += " (boot request of " + BytesToHexDump(data.subspan(28, 6)) + "; no run for it)";
        else
            what += " (no run for that address)";
        Ignored(what);
        return;
    }
    TUpgradeOutput out = runs_.at(id)->Session.Datagram(localPort, senderIP, senderPort, data);
    if (out.Ignored)
        Ignored(*out.Ignored);
    Apply(id, std::move(out));
}

void TUpgradeServer::Ignored(const std::string& why) {
    ++foreign_;
    if (OnIgnored)
        OnIgnored(why);
}

} // namespace varnix
