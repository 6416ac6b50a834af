#pragma once
// The cycle send of the debugging window, on a thread of its own. A pass walks the checked rows
// in order: send the row, wait its delay; after the last row it waits the cycle interval and
// starts the next pass. The worker touches no widget: it reads a snapshot of the checked rows
// (taken when each pass starts) and hands each send to a callback, which posts it to the GUI
// thread. Every start has its own stop token, so a stop followed by a start never leaves two
// passes running; a stop wakes the worker at once and joins it.
//
// Waits are measured from a running schedule (each wait ends delay ms after the previous one
// ended), so the time the sends take does not add up over the cycles. A pass lasts at least
// MinPassMs (IdlePassMs while no row is checked), whatever the interval and the delays say.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace varnix {

struct TCycleRow {
    int Index = 0;   // row 0..49
    int DelayMs = 0; // wait after sending it
    bool operator==(const TCycleRow&) const = default;
};

class TCycleWorker {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int MinPassMs = 10;
    static constexpr int IdlePassMs = 100;
    // Called on the worker thread for each row to send; must only hand the work over.
    using SendFn = std::function<void(int index)>;
    // Waits until `deadline` or a stop; returns false when stopped. Tests replace it.
    using WaitFn = std::function<bool(std::stop_token, Clock::time_point deadline)>;

    TCycleWorker();
    ~TCycleWorker();
    TCycleWorker(const TCycleWorker&) = delete;
    TCycleWorker& operator=(const TCycleWorker&) = delete;

    // The rows the next pass sends (checked rows only, in order). Safe from any thread.
    void SetRows(std::vector<TCycleRow> rows);
    // Stops a running cycle, then starts one with this interval (taken once, for the whole run).
    void Start(int intervalMs, SendFn send);
    // Wakes and joins the worker. Returns after the thread has ended; no send follows.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // For tests: the wait the worker uses (the real one sleeps on a condition variable).
    void SetWaitForTest(WaitFn wait) { wait_ = std::move(wait); }

private:
    void Run(std::stop_token stop, int intervalMs, SendFn send);
    std::vector<TCycleRow> Snapshot() const;
    bool RealWait(std::stop_token stop, Clock::time_point deadline);

    mutable std::mutex rowsLock_;
    std::vector<TCycleRow> rows_;
    std::mutex waitLock_;
    std::condition_variable_any wake_;
    WaitFn wait_;
    std::jthread thread_;
};

} // namespace varnix
