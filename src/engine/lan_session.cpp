#include "engine/lan_session.h"

#include "engine/module_lane.h"
#include "engine/parallel_saves.h"
#include "engine/save_executor.h"
#include "lan/lan_protocol.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <limits>

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

QString AckResultText(const TAck& a) {
    switch (a.Result) {
    case 'K':
        return QStringLiteral("K (acknowledged)");
    case 'P':
        return QStringLiteral("P (user name or password wrong)");
    case 'E':
        return QStringLiteral("E (the module reported an error)");
    case 'C':
        return QStringLiteral("checksum error (the module expected %1)")
            .arg(a.Expected, 2, 16, QLatin1Char('0'))
            .toUpper();
    default:
        return QStringLiteral("?");
    }
}

TExit AckExit(const TAck& a) {
    switch (a.Result) {
    case 'K':
        return TExit::Ok;
    case 'P':
        return TExit::Password;
    default:
        return TExit::ModuleError;
    }
}

TUdpSvrOptions TLanSession::EndpointOptions(TBlockStore* store) const {
    TUdpSvrOptions o;
    o.DestinationAddr = options_.Broadcast;
    o.IncludeLoopback = options_.Loopback;
    if (!options_.Interface.empty()) {
        const std::string address = options_.Interface;
        o.LocalAddresses = [address] { return std::vector<std::string>{address}; };
    }
    o.Store = store;
    o.PortZ2 = options_.PortZ2;
    o.PortZ3 = options_.PortZ3;
    return o;
}

std::optional<TAck> AckOfStatus(std::int32_t code, const std::string& text, const TIdBytes& datagram) {
    TAck ack;
    if (code == stAck)
        ack.Result = 'K';
    else if (code == stPswdError)
        ack.Result = 'P';
    else if (code == stOtherError)
        ack.Result = 'E';
    else if (code == stCheckError) {
        ack.Result = 'C';
        ack.Expected = QString::fromStdString(text).toInt(nullptr, 16);
    } else {
        return std::nullopt;
    }
    if (ack.Result != 'C' && datagram.size() == 4)
        ack.Code = datagram[2];
    return ack;
}

TLanSession::TLanSession(const TSessionOptions& options) : options_(options) {
    const TUdpSvrOptions o = EndpointOptions(&store_);
    svr_ = std::make_unique<TUdpSvr>(o);

    svr_->OnReceive = [this](const TIdBytes& data, const std::string&, const std::string&, std::uint16_t,
                             std::uint16_t) { lastDatagram_ = data; };
    svr_->OnSearchReply = [this](const std::string& ip, const std::string& name, const std::string& mac,
                                 const std::string& firmware, std::int32_t family, std::int32_t binding) {
        if (!found_)
            return;
        TFoundModule m;
        m.Ip = ip;
        m.Name = name;
        m.Mac = mac;
        m.Firmware = std::atoi(firmware.c_str());
        m.Family = family;
        m.Binding = binding;
        m.Local = svr_->BindingAddress(binding);
        found_->push_back(m);
        if (onFound_)
            onFound_(found_->back());
        Activity();
    };
    svr_->OnStatus = [this](std::int32_t code, const std::string& text) {
        if (code == stVerIncompatible) {
            ++incompatible_;
            return;
        }
        if (code == stPortInUse) {
            bindingProblem_ = QString::fromStdString(text);
            return;
        }
        const std::optional<TAck> ack = AckOfStatus(code, text, lastDatagram_);
        if (!ack)
            return;
        if (acks_)
            acks_->push_back(*ack);
        Activity();
    };
}

TLanSession::~TLanSession() = default;

void TLanSession::Activity() {
    if (activity_)
        activity_();
}

void TLanSession::Wait(int timeoutMs, const std::function<bool()>& done, int quietMs) {
    if (done && done())
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    // A coarse timer may end a one-second search 50 ms early.
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer quiet;
    quiet.setSingleShot(true);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    activity_ = [&] {
        if (done && done()) {
            loop.quit();
        } else if (quietMs > 0) {
            quiet.start(quietMs);
        }
    };
    deadline.start(std::max(0, timeoutMs));
    loop.exec();
    activity_ = nullptr;
}

std::vector<TFoundModule>
TLanSession::Search(int timeoutMs, int repeatMs,
                    const std::function<bool(const std::vector<TFoundModule>&)>& done,
                    const std::function<void(const TFoundModule&)>& onFound) {
    std::vector<TFoundModule> out;
    found_ = &out;
    onFound_ = onFound;
    QTimer repeat;
    if (repeatMs > 0) {
        QObject::connect(&repeat, &QTimer::timeout, [this] { svr_->Search(); });
        repeat.start(repeatMs);
    }
    svr_->Search();
    if (svr_->BindingCount() == 0 && bindingProblem_.isEmpty())
        bindingProblem_ = QStringLiteral("no local IPv4 address to search from");
    Wait(timeoutMs, done ? std::function<bool()>([&] { return done(out); }) : std::function<bool()>());
    found_ = nullptr;
    onFound_ = nullptr;
    return out;
}

std::vector<TFoundModule> TLanSession::Find(const std::vector<std::string>& macs, int timeoutMs) {
    std::vector<std::string> keys;
    for (const auto& m : macs)
        keys.push_back(MacKey(m));
    const auto all = [&keys](const std::vector<TFoundModule>& found) {
        return std::all_of(keys.begin(), keys.end(), [&found](const std::string& k) {
            return std::any_of(found.begin(), found.end(),
                               [&k](const TFoundModule& f) { return MacKey(f.Mac) == k; });
        });
    };
    const auto found = Search(timeoutMs, 500, all);
    std::vector<TFoundModule> out;
    for (const auto& k : keys) {
        auto it = std::find_if(found.begin(), found.end(),
                               [&k](const TFoundModule& f) { return MacKey(f.Mac) == k; });
        if (it != found.end())
            out.push_back(*it);
    }
    return out;
}

void TLanSession::Lanes(std::size_t count) {
    while (lanes_.size() < count)
        lanes_.push_back(std::make_unique<TModuleLane>(EndpointOptions(nullptr)));
}

TReadResult TLanSession::Read(const TFoundModule& m, const TLogin& login, int timeoutMs) {
    return std::move(ReadMany({{m, login}}, timeoutMs, 1).front());
}

std::vector<TReadResult> TLanSession::ReadMany(const std::vector<TReadRequest>& requests, int timeoutMs,
                                               int parallel) {
    std::vector<TReadResult> results(requests.size());
    const std::size_t want =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(1, parallel)), requests.size());
    Lanes(want);
    std::size_t next = 0, finished = 0;
    std::function<void(TModuleLane&)> feed = [&](TModuleLane& lane) {
        if (next >= requests.size())
            return;
        const std::size_t i = next++;
        lane.StartRead(requests[i].Module, requests[i].Login, timeoutMs, options_.QuietMs,
                       [&, i](TReadResult r) {
                           results[i] = std::move(r);
                           ++finished;
                           feed(lane);
                           Activity();
                       });
    };
    for (std::size_t l = 0; l < want; ++l)
        feed(*lanes_[l]);
    Wait(std::numeric_limits<int>::max(), [&] { return finished == requests.size(); });
    return results;
}

std::vector<TAck> TLanSession::Command(const TFoundModule& m, const TLogin& login, std::uint8_t code,
                                       bool z3Port, int timeoutMs) {
    std::vector<TAck> acks;
    acks_ = &acks;
    if (z3Port)
        svr_->SendCommandZ3(m.Binding, m.Mac, login.User, login.Password, code);
    else
        svr_->SendCommandZ2(m.Binding, m.Mac, login.User, login.Password, code);
    Wait(timeoutMs, [&acks] { return !acks.empty(); });
    acks_ = nullptr;
    return acks;
}

std::vector<TAck> TLanSession::ExecutePlan(const TFoundModule& m, const TLogin& login, const TSavePlan& plan,
                                           int waitMs) {
    std::vector<TAck> acks;
    acks_ = &acks;
    const TLanTarget target{m.Binding, m.Mac};
    ExecuteSavePlan(*svr_, plan, target, target, login.User, login.Password);
    const std::size_t expected = plan.Steps.size();
    Wait(waitMs, [&acks, expected] { return acks.size() >= expected; });
    acks_ = nullptr;
    return acks;
}

std::vector<std::vector<TAck>>
TLanSession::ExecutePlans(const std::vector<TPlannedSave>& saves, const TLogin& login, int parallel,
                          int waitMs, const std::function<void(int, const std::vector<TAck>&)>& onDone) {
    // The first modules start spread over most of one 500 ms pause (40 ms apart for eight, 4 ms
    // for a hundred), so their datagrams do not leave in one burst and the first wave is under
    // way within 400 ms however large it is.
    const int stagger = std::clamp(400 / std::max(1, parallel), 1, 40);
    // Each running module is written from a lane of its own, so its acknowledgements are known
    // to be its own by the port they come back to.
    const std::size_t laneCount =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(1, parallel)), saves.size());
    Lanes(laneCount);
    std::vector<int> laneOf(saves.size(), -1), moduleOn(laneCount, -1);
    std::vector<std::size_t> free;
    for (std::size_t l = laneCount; l-- > 0;)
        free.push_back(l);
    TParallelSaves runner(parallel, stagger, std::min(waitMs, 1000), EventLoopScheduler(),
                          [&](int i, const TSaveStep& step) {
                              int& lane = laneOf[static_cast<std::size_t>(i)];
                              if (lane < 0 && !free.empty()) {
                                  lane = static_cast<int>(free.back());
                                  free.pop_back();
                                  moduleOn[static_cast<std::size_t>(lane)] = i;
                              }
                              if (lane >= 0)
                                  lanes_[static_cast<std::size_t>(lane)]->SendStep(
                                      saves[static_cast<std::size_t>(i)].Module, login, step);
                          });
    for (const TPlannedSave& s : saves)
        runner.Add(s.Plan, s.Module.Ip);
    for (std::size_t l = 0; l < laneCount; ++l)
        lanes_[l]->OnAck = [&, l](const TAck& a) {
            // An acknowledgement after its module's time on the lane is over has nobody to go to.
            if (moduleOn[l] >= 0)
                runner.Ack(a, {}, moduleOn[l]);
            Activity();
        };
    runner.OnModuleDone = [&](int i) {
        if (onDone)
            onDone(i, runner.Acks(i));
        if (const int lane = laneOf[static_cast<std::size_t>(i)]; lane >= 0) {
            moduleOn[static_cast<std::size_t>(lane)] = -1;
            free.push_back(static_cast<std::size_t>(lane));
        }
        Activity();
    };
    runner.Start();
    Wait(std::numeric_limits<int>::max(), [&runner] { return runner.Done(); });
    Wait(waitMs, [&runner] { return runner.AllAcked(); });
    for (std::size_t l = 0; l < laneCount; ++l)
        lanes_[l]->OnAck = nullptr;
    std::vector<std::vector<TAck>> out;
    for (std::size_t i = 0; i < saves.size(); ++i)
        out.push_back(runner.Acks(static_cast<int>(i)));
    return out;
}

} // namespace varnix
