#include "engine/parallel_saves.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace varnix {

TParallelSaves::TParallelSaves(int parallel, int staggerMs, int ackGraceMs, TScheduler schedule, TSender send)
    : parallel_(std::max(1, parallel)), staggerMs_(std::max(0, staggerMs)),
      ackGraceMs_(std::max(0, ackGraceMs)), schedule_(std::move(schedule)), send_(std::move(send)) {}

int TParallelSaves::Add(const TSavePlan& plan, const std::string& ip) {
    TModule m;
    if (plan.Ok)
        m.Steps = plan.Steps;
    m.Ip = ip;
    m.GraceLeftMs = ackGraceMs_;
    modules_.push_back(std::move(m));
    return static_cast<int>(modules_.size()) - 1;
}

void TParallelSaves::Start() {
    // The first wave starts `staggerMs` apart; every later module starts when one finishes.
    const int first = std::min(parallel_, static_cast<int>(modules_.size()));
    for (int i = 0; i < first; ++i) {
        ++running_;
        const int index = nextToStart_++;
        schedule_(i * staggerMs_, [this, index] { SendStep(index); });
    }
}

void TParallelSaves::StartNext() {
    if (nextToStart_ >= static_cast<int>(modules_.size()))
        return;
    ++running_;
    const int index = nextToStart_++;
    schedule_(0, [this, index] { SendStep(index); });
}

void TParallelSaves::SendStep(int index) {
    TModule& m = modules_[static_cast<std::size_t>(index)];
    if (m.Next >= m.Steps.size()) {
        // The last acknowledgements come a moment after the last step: the module keeps its
        // place until they are in, or for ackGraceMs at most.
        if (!m.Unacked.empty() && m.GraceLeftMs > 0) {
            m.GraceLeftMs -= AckPollMs;
            schedule_(AckPollMs, [this, index] { SendStep(index); });
            return;
        }
        --running_;
        ++finished_;
        if (OnModuleDone)
            OnModuleDone(index);
        StartNext();
        return;
    }
    const TSaveStep& step = m.Steps[m.Next++];
    m.Unacked.push_back(sequence_++);
    m.UnackedCode.push_back(step.Code);
    send_(index, step);
    schedule_(step.PauseAfterMs, [this, index] { SendStep(index); });
}

int TParallelSaves::Ack(const TAck& ack, const std::string& peer, int module) {
    // The oldest unacknowledged send of this code (any code for a reply that names none); a
    // module at the reply's address first.
    int best = -1;
    std::size_t bestSlot = 0;
    std::uint64_t bestSeq = std::numeric_limits<std::uint64_t>::max();
    bool bestFromPeer = false;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (module >= 0 && static_cast<int>(i) != module)
            continue;
        const TModule& m = modules_[i];
        const bool fromPeer = !peer.empty() && m.Ip == peer;
        for (std::size_t s = 0; s < m.Unacked.size(); ++s) {
            if (ack.Code >= 0 && m.UnackedCode[s] != ack.Code)
                continue;
            const bool better =
                (fromPeer && !bestFromPeer) || (fromPeer == bestFromPeer && m.Unacked[s] < bestSeq);
            if (better) {
                best = static_cast<int>(i);
                bestSlot = s;
                bestSeq = m.Unacked[s];
                bestFromPeer = fromPeer;
            }
            break; // later sends of this module are younger
        }
    }
    if (best < 0)
        return -1;
    TModule& m = modules_[static_cast<std::size_t>(best)];
    m.Acks.push_back(ack);
    m.Unacked.erase(m.Unacked.begin() + static_cast<std::ptrdiff_t>(bestSlot));
    m.UnackedCode.erase(m.UnackedCode.begin() + static_cast<std::ptrdiff_t>(bestSlot));
    return best;
}

bool TParallelSaves::AllAcked() const {
    return std::all_of(modules_.begin(), modules_.end(), [](const TModule& m) { return m.Unacked.empty(); });
}

TParallelSaves::TScheduler EventLoopScheduler() {
    return [](int ms, std::function<void()> fn) {
        QTimer::singleShot(ms, Qt::PreciseTimer, QCoreApplication::instance(), std::move(fn));
    };
}

} // namespace varnix
