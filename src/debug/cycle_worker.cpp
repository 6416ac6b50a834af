#include "debug/cycle_worker.h"

namespace varnix {

TCycleWorker::TCycleWorker() {
    wait_ = [this](std::stop_token stop, Clock::time_point deadline) { return RealWait(stop, deadline); };
}

TCycleWorker::~TCycleWorker() {
    Stop();
}

void TCycleWorker::SetRows(std::vector<TCycleRow> rows) {
    std::lock_guard guard(rowsLock_);
    rows_ = std::move(rows);
}

std::vector<TCycleRow> TCycleWorker::Snapshot() const {
    std::lock_guard guard(rowsLock_);
    return rows_;
}

void TCycleWorker::Start(int intervalMs, SendFn send) {
    Stop();
    thread_ = std::jthread(
        [this, intervalMs, send = std::move(send)](std::stop_token stop) { Run(stop, intervalMs, send); });
}

void TCycleWorker::Stop() {
    if (!thread_.joinable())
        return;
    thread_.request_stop(); // wakes RealWait through the stop token
    thread_.join();
    thread_ = std::jthread();
}

bool TCycleWorker::RealWait(std::stop_token stop, Clock::time_point deadline) {
    std::unique_lock lock(waitLock_);
    // Ends at the deadline or, through the stop token, at once when a stop is requested.
    wake_.wait_until(lock, stop, deadline, [] { return false; });
    return !stop.stop_requested();
}

void TCycleWorker::Run(std::stop_token stop, int intervalMs, SendFn send) {
    Clock::time_point due = Clock::now();
    while (!stop.stop_requested()) {
        const Clock::time_point passStart = Clock::now();
        const std::vector<TCycleRow> rows = Snapshot();
        for (const TCycleRow& row : rows) {
            if (stop.stop_requested())
                return;
            send(row.Index);
            if (row.DelayMs > 0) {
                due += std::chrono::milliseconds(row.DelayMs);
                if (!wait_(stop, due))
                    return;
            } else {
                due = std::max(due, Clock::now());
            }
        }
        due += std::chrono::milliseconds(intervalMs);
        // An interval of 0 still leaves a pause between passes, and a longer one while no row is
        // checked: the worker never spins, and the sends it hands over never outrun the window.
        due = std::max(due, passStart + std::chrono::milliseconds(rows.empty() ? IdlePassMs : MinPassMs));
        // A schedule that fell far behind (a suspended machine) restarts from now instead of
        // sending a burst of passes to catch up.
        if (Clock::now() - due > std::chrono::seconds(1))
            due = Clock::now();
        if (!wait_(stop, due))
            return;
    }
}

} // namespace varnix
