#pragma once
// Time for the engine's jobs. Every wait of a job (a pause between datagrams, a reply wait, a
// quiet time that ends a read) is a timer from an injected clock, so a job never sleeps and never
// runs a nested event loop: the window stays responsive, and tests run the jobs on a virtual clock
// that they advance by hand.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace varnix {

// One restartable single-shot timer. Start replaces a pending shot; the callback runs on the
// thread of the clock (the GUI thread for the real one) and may start the timer again.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void Start(int ms, std::function<void()> fn) = 0;
    virtual void Stop() = 0;
    virtual bool Active() const = 0;
};

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds on a monotonic scale (only differences mean anything).
    virtual std::int64_t NowMs() const = 0;
    virtual std::unique_ptr<ITimer> NewTimer() = 0;
};

// The event loop's clock: precise Qt timers (a coarse timer may fire 5 % early) and the
// monotonic clock. Needs a running Qt event loop on the calling thread.
TClock& RealClock();

// A clock for tests: time stands still until Advance moves it; timers fire in the order of their
// due times (in the order they were started for equal times), each with NowMs() at its due time.
class TVirtualClock final : public TClock {
public:
    TVirtualClock();
    ~TVirtualClock() override;
    std::int64_t NowMs() const override { return now_; }
    std::unique_ptr<ITimer> NewTimer() override;

    // Moves time forward by ms, firing every timer that falls due on the way (timers started by
    // those callbacks included).
    void Advance(std::int64_t ms);
    // Advances to the next due timer and fires it; false when none is pending.
    bool RunNext();
    // Fires timers until none is pending or `maxMs` of virtual time have passed.
    void RunAll(std::int64_t maxMs = 3600000);
    int Pending() const { return static_cast<int>(due_.size()); }

private:
    class TTimer;
    struct TKey {
        std::int64_t At;
        std::uint64_t Order;
        bool operator<(const TKey& o) const { return At != o.At ? At < o.At : Order < o.Order; }
    };
    void Fire(std::map<TKey, TTimer*>::iterator it);

    std::int64_t now_ = 0;
    std::uint64_t order_ = 0;
    std::map<TKey, TTimer*> due_;
    std::shared_ptr<bool> alive_;
};

} // namespace varnix
