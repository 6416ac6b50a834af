#include "engine/save_job.h"

#include <algorithm>
#include <utility>

namespace varnix {

TOutcome TSaveReport::Outcome() const {
    TOutcome o = TOutcome::Ok;
    for (const auto& a : AckOf)
        o = Worse(o, a ? AckOutcome(*a) : TOutcome::NoAnswer);
    for (const TAck& a : Extra)
        if (a.Result != 'K')
            o = Worse(o, AckOutcome(a));
    return o;
}

int TSaveReport::CodeOf(const TArrived& a) const {
    return a.Step >= 0 && a.Step < static_cast<int>(Steps.size())
               ? Steps[static_cast<std::size_t>(a.Step)].Code
               : -1;
}

QStringList TSaveReport::Words() const {
    QStringList out;
    for (const TArrived& a : Arrived) {
        const int code = CodeOf(a);
        out << (code >= 0
                    ? QStringLiteral("0x%1 %2").arg(code, 2, 16, QLatin1Char('0')).arg(AckShortText(a.Ack))
                    : AckShortText(a.Ack));
    }
    return out;
}

int TSaveReport::Acknowledged() const {
    return static_cast<int>(
        std::count_if(AckOf.begin(), AckOf.end(), [](const auto& a) { return a.has_value(); }));
}

TSaveJob::TSaveJob(TLane& lane, TClock& clock, const TFoundModule& module, TLogin login,
                   std::vector<TSaveStep> steps, int ackGraceMs)
    : lane_(lane), module_(module), login_(std::move(login)), ackGraceMs_(std::max(0, ackGraceMs)),
      timer_(clock.NewTimer()) {
    report_.Steps = std::move(steps);
    report_.AckOf.resize(report_.Steps.size());
}

TSaveJob::~TSaveJob() {
    if (running_) {
        lane_.OnAck = nullptr;
        timer_->Stop();
    }
}

void TSaveJob::Start() {
    running_ = true;
    lane_.Serve(module_);
    lane_.OnAck = [this](const TAck& a) { Acked(a); };
    SendNext();
}

void TSaveJob::SendNext() {
    if (next_ >= report_.Steps.size()) {
        draining_ = true;
        if (report_.Acknowledged() == static_cast<int>(report_.Steps.size()))
            Finish();
        else
            timer_->Start(ackGraceMs_, [this] {
                // Acknowledgements already waiting in the socket count; the last of them may end
                // the job (and its owner may destroy it) from inside.
                const std::weak_ptr<bool> alive = alive_;
                lane_.PollNow();
                if (!alive.expired())
                    Finish();
            });
        return;
    }
    const int index = static_cast<int>(next_++);
    const TSaveStep& step = report_.Steps[static_cast<std::size_t>(index)];
    lane_.Send(login_, step.Code, step.Payload, step.Port);
    if (OnSent)
        OnSent(index);
    timer_->Start(step.PauseAfterMs, [this] { SendNext(); });
}

void TSaveJob::Acked(const TAck& ack) {
    int step = -1;
    for (std::size_t i = 0; i < next_; ++i)
        if (!report_.AckOf[i]) {
            report_.AckOf[i] = ack;
            step = static_cast<int>(i);
            break;
        }
    if (step < 0)
        report_.Extra.push_back(ack);
    report_.Arrived.push_back({step, ack});
    if (OnAck)
        OnAck(step, ack);
    if (draining_ && report_.Acknowledged() == static_cast<int>(report_.Steps.size())) {
        timer_->Stop();
        Finish();
    }
}

void TSaveJob::Finish() {
    if (!running_)
        return;
    running_ = false;
    lane_.OnAck = nullptr;
    timer_->Stop();
    // The owner may destroy this job from OnDone: hand over a copy.
    const TSaveReport report = report_;
    if (const auto done = OnDone)
        done(report);
}

} // namespace varnix
