#include "engine/clock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace varnix {

namespace {

class TQtTimer final : public ITimer {
public:
    TQtTimer() {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            // The callback may start this timer again or destroy its owner: take it first.
            const auto fn = fn_;
            if (fn)
                fn();
        });
    }
    void Start(int ms, std::function<void()> fn) override {
        fn_ = std::move(fn);
        timer_.start(ms < 0 ? 0 : ms);
    }
    void Stop() override { timer_.stop(); }
    bool Active() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> fn_;
};

class TQtClock final : public TClock {
public:
    TQtClock() { elapsed_.start(); }
    std::int64_t NowMs() const override { return elapsed_.elapsed(); }
    std::unique_ptr<ITimer> NewTimer() override { return std::make_unique<TQtTimer>(); }

private:
    QElapsedTimer elapsed_;
};

} // namespace

TClock& RealClock() {
    static TQtClock clock;
    return clock;
}

class TVirtualClock::TTimer final : public ITimer {
public:
    explicit TTimer(TVirtualClock& clock) : clock_(&clock), alive_(clock.alive_) {}
    ~TTimer() override { Stop(); }
    void Start(int ms, std::function<void()> fn) override {
        Stop();
        fn_ = std::move(fn);
        key_ = TKey{clock_->now_ + (ms < 0 ? 0 : ms), clock_->order_++};
        clock_->due_.emplace(key_, this);
        active_ = true;
    }
    void Stop() override {
        if (!active_)
            return;
        active_ = false;
        if (!alive_.expired())
            clock_->due_.erase(key_);
    }
    bool Active() const override { return active_; }
    // Called by the clock after it took this timer off its list.
    void Fire() {
        active_ = false;
        const auto fn = fn_;
        if (fn)
            fn();
    }

private:
    TVirtualClock* clock_;
    std::weak_ptr<bool> alive_;
    std::function<void()> fn_;
    TKey key_{};
    bool active_ = false;
};

TVirtualClock::TVirtualClock() : alive_(std::make_shared<bool>(true)) {}
TVirtualClock::~TVirtualClock() = default;

std::unique_ptr<ITimer> TVirtualClock::NewTimer() {
    return std::make_unique<TTimer>(*this);
}

void TVirtualClock::Fire(std::map<TKey, TTimer*>::iterator it) {
    TTimer* t = it->second;
    now_ = it->first.At;
    due_.erase(it);
    t->Fire();
}

void TVirtualClock::Advance(std::int64_t ms) {
    const std::int64_t end = now_ + (ms < 0 ? 0 : ms);
    while (!due_.empty() && due_.begin()->first.At <= end)
        Fire(due_.begin());
    now_ = end;
}

bool TVirtualClock::RunNext() {
    if (due_.empty())
        return false;
    Fire(due_.begin());
    return true;
}

void TVirtualClock::RunAll(std::int64_t maxMs) {
    const std::int64_t end = now_ + maxMs;
    while (!due_.empty() && due_.begin()->first.At <= end)
        Fire(due_.begin());
}

} // namespace varnix
