#include "engine/lan_session.h"

#include "engine/event_wait.h"
#include "engine/find_job.h"
#include "engine/parallel_runner.h"

#include <algorithm>

namespace varnix {

QString FamilyText(std::int32_t family) {
    switch (family) {
    case FamilyZ2:
        return QStringLiteral("Z2");
    case FamilyZ3:
        return QStringLiteral("Z3");
    default:
        return QStringLiteral("incompatible");
    }
}

TUdpSvrOptions EndpointOptions(const TSessionOptions& options) {
    TUdpSvrOptions o;
    o.DestinationAddr = options.Broadcast;
    o.IncludeLoopback = options.Loopback;
    if (!options.Interface.empty()) {
        const std::string address = options.Interface;
        o.LocalAddresses = [address] { return std::vector<std::string>{address}; };
    }
    o.PortZ2 = options.PortZ2;
    o.PortZ3 = options.PortZ3;
    o.Capture = options.Capture;
    return o;
}

TLanSession::TLanSession(const TSessionOptions& options, TClock& clock)
    : options_(options), clock_(clock), pool_(EndpointOptions(options), clock) {
    searchLane_ = &pool_.Acquire();
    searchLane_->Endpoint().OnStatus = [this](std::int32_t code, const std::string& text) {
        if (code == stVerIncompatible)
            ++incompatible_;
        else if (code == stPortInUse)
            bindingProblem_ = QString::fromStdString(text);
    };
}

TLanSession::~TLanSession() = default;

std::vector<std::string> TLanSession::SearchAddresses() {
    std::vector<std::string> out;
    TUdpSvr& svr = searchLane_->Endpoint();
    for (int i = 0; i < svr.BindingCount(); ++i)
        out.push_back(svr.BindingAddress(i));
    return out;
}

std::vector<TFoundModule>
TLanSession::Search(int timeoutMs, int repeatMs,
                    const std::function<bool(const std::vector<TFoundModule>&)>& enough,
                    const std::function<void(const TFoundModule&)>& onFound) {
    std::vector<TFoundModule> seen, out;
    bool over = false;
    TFindJob job(*searchLane_, clock_, TFindRequest{{}, timeoutMs, repeatMs});
    job.OnFound = [&](const TFoundModule& m) {
        seen.push_back(m);
        if (onFound)
            onFound(m);
        return enough && enough(seen);
    };
    job.OnDone = [&](std::vector<TFoundModule> found) {
        out = std::move(found);
        over = true;
    };
    job.Start();
    if (searchLane_->Endpoint().BindingCount() == 0 && bindingProblem_.isEmpty())
        bindingProblem_ = QStringLiteral("no local IPv4 address to search from");
    WaitUntil([&] { return over; }, -1);
    if (observer_.Searched)
        observer_.Searched(out);
    return out;
}

std::vector<TFoundModule> TLanSession::Find(const std::vector<std::string>& macs, int timeoutMs) {
    std::vector<TFoundModule> out, all;
    bool over = false;
    TFindJob job(*searchLane_, clock_, TFindRequest{macs, timeoutMs, 500});
    job.OnDone = [&](std::vector<TFoundModule> found) {
        out = TFindJob::FirstOfEach(macs, found);
        all = std::move(found);
        over = true;
    };
    job.Start();
    if (searchLane_->Endpoint().BindingCount() == 0 && bindingProblem_.isEmpty())
        bindingProblem_ = QStringLiteral("no local IPv4 address to search from");
    WaitUntil([&] { return over; }, -1);
    if (observer_.Searched)
        observer_.Searched(all);
    return out;
}

TReadResult TLanSession::Read(const TFoundModule& m, const TLogin& login, int timeoutMs) {
    return std::move(ReadMany({TReadRequest{m, login, timeoutMs, options_.QuietMs}}, 1).front());
}

std::vector<TReadResult> TLanSession::ReadMany(const std::vector<TReadRequest>& requests, int parallel) {
    std::vector<TReadResult> results(requests.size());
    std::vector<std::unique_ptr<TReadJob>> jobs(requests.size());
    TParallelRunner runner(pool_, clock_, parallel);
    for (std::size_t i = 0; i < requests.size(); ++i)
        runner.Add([&, i](TLane& lane, std::function<void()> done) {
            jobs[i] = std::make_unique<TReadJob>(lane, clock_, requests[i]);
            jobs[i]->OnDone = [&results, i, done](TReadResult r) {
                results[i] = std::move(r);
                done();
            };
            jobs[i]->Start();
        });
    runner.Start();
    WaitUntil([&] { return runner.Done(); }, -1);
    if (observer_.Read)
        for (std::size_t i = 0; i < results.size(); ++i)
            if (results[i].Status == TOutcome::Ok)
                observer_.Read(requests[i].Module, results[i]);
    return results;
}

TSaveReport TLanSession::Command(const TFoundModule& m, const TLogin& login, std::uint8_t code,
                                 int timeoutMs) {
    TLane& lane = pool_.Acquire();
    lane.Serve(m);
    const TSaveStep step{code, lane.PortFor(code), {}, 0};
    TSaveJob job(lane, clock_, m, login, {step}, timeoutMs);
    TSaveReport report;
    bool over = false;
    job.OnDone = [&](const TSaveReport& r) {
        report = r;
        over = true;
    };
    job.Start();
    WaitUntil([&] { return over; }, -1);
    pool_.Release(lane);
    return report;
}

std::vector<TSaveReport> TLanSession::SaveMany(const std::vector<TPlannedSave>& saves, const TLogin& login,
                                               int parallel, int ackWaitMs,
                                               const std::function<void(int, const TSaveReport&)>& onDone) {
    // The first modules start spread over most of one 500 ms pause (40 ms apart for eight, 4 ms
    // for a hundred), so their datagrams do not leave in one burst and the first wave is under
    // way within 400 ms however large it is.
    const int stagger = std::clamp(400 / std::max(1, parallel), 1, 40);
    std::vector<TSaveReport> reports(saves.size());
    std::vector<std::unique_ptr<TSaveJob>> jobs(saves.size());
    TParallelRunner runner(pool_, clock_, parallel, stagger);
    for (std::size_t i = 0; i < saves.size(); ++i)
        runner.Add([&, i](TLane& lane, std::function<void()> done) {
            const TPlannedSave& s = saves[i];
            jobs[i] = std::make_unique<TSaveJob>(lane, clock_, s.Module, login,
                                                 s.Plan.Ok ? s.Plan.Steps : std::vector<TSaveStep>{},
                                                 std::min(ackWaitMs, 1000));
            jobs[i]->OnDone = [&reports, &onDone, i, done](const TSaveReport& r) {
                reports[i] = r;
                if (onDone)
                    onDone(static_cast<int>(i), r);
                done();
            };
            jobs[i]->Start();
        });
    runner.Start();
    WaitUntil([&] { return runner.Done(); }, -1);
    return reports;
}

std::vector<TVerifyOutcome> TLanSession::Verify(std::vector<TVerifyItem> items,
                                                const TVerifyOptions& options) {
    std::vector<TVerifyOutcome> out;
    bool over = false;
    TVerifyJob job(pool_, clock_, std::move(items), options);
    job.OnDone = [&](std::vector<TVerifyOutcome> o) {
        out = std::move(o);
        over = true;
    };
    job.Start();
    WaitUntil([&] { return over; }, -1);
    if (observer_.Read)
        for (const TVerifyOutcome& o : out)
            if (o.ReadBack && o.ReadBack->Status == TOutcome::Ok)
                observer_.Read(o.Where, *o.ReadBack);
    return out;
}

} // namespace varnix
