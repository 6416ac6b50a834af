// The cycle worker's schedule, checked through a wait that does not sleep, and its stop.
#include "debug/cycle_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace varnix;
using namespace std::chrono;

namespace {

// Records sends and waits (as ms after the first wait's deadline minus its own length) and
// ends the run after `maxWaits` waits.
struct TScript {
    std::mutex lock;
    std::vector<std::string> events;
    std::vector<TCycleWorker::Clock::time_point> deadlines;
    int maxWaits = 0;
    std::function<void(int)> onWait;
    std::condition_variable ended;
    bool done = false;

    void Attach(TCycleWorker& w) {
        w.SetWaitForTest([this](std::stop_token stop, TCycleWorker::Clock::time_point deadline) {
            std::lock_guard g(lock);
            deadlines.push_back(deadline);
            events.push_back("wait");
            if (onWait)
                onWait(static_cast<int>(deadlines.size()));
            done = stop.stop_requested() || static_cast<int>(deadlines.size()) >= maxWaits;
            if (done)
                ended.notify_all();
            return !done;
        });
    }
    TCycleWorker::SendFn Send() {
        return [this](int i) {
            std::lock_guard g(lock);
            events.push_back("send " + std::to_string(i));
        };
    }
};

// The script ends the run; then Stop joins the thread.
void WaitUntilStopped(TCycleWorker& w, TScript& s) {
    {
        std::unique_lock g(s.lock);
        s.ended.wait(g, [&] { return s.done; });
    }
    w.Stop();
}

} // namespace

TEST(CycleWorker, RowsInOrderEachDelayAfterItThenTheInterval) {
    TCycleWorker w;
    TScript s;
    s.maxWaits = 6;
    s.Attach(w);
    w.SetRows({{3, 100}, {7, 200}, {9, 0}});
    w.Start(1000, s.Send());
    WaitUntilStopped(w, s);
    const std::vector<std::string> expected = {"send 3", "wait", "send 7", "wait", "send 9", "wait",
                                               "send 3", "wait", "send 7", "wait", "send 9", "wait"};
    EXPECT_EQ(s.events, expected);
    ASSERT_EQ(s.deadlines.size(), 6u);
    std::vector<long> gaps;
    for (std::size_t i = 1; i < s.deadlines.size(); ++i)
        gaps.push_back(
            static_cast<long>(duration_cast<milliseconds>(s.deadlines[i] - s.deadlines[i - 1]).count()));
    // Deadlines follow the schedule itself, so slow sends do not push later rows back.
    EXPECT_EQ(gaps, (std::vector<long>{200, 1000, 100, 200, 1000}));
}

TEST(CycleWorker, EachPassTakesTheRowsAsTheyAreWhenItStarts) {
    TCycleWorker w;
    TScript s;
    s.maxWaits = 4;
    s.onWait = [&w](int n) {
        if (n == 2)
            w.SetRows({{5, 10}}); // during the first pass's interval
    };
    s.Attach(w);
    w.SetRows({{1, 10}});
    w.Start(50, s.Send());
    WaitUntilStopped(w, s);
    EXPECT_EQ(s.events, (std::vector<std::string>{"send 1", "wait", "wait", "send 5", "wait", "wait"}));
}

TEST(CycleWorker, StopWakesALongWaitAndAStartNeverLeavesTwoRuns) {
    TCycleWorker w;
    std::atomic<int> sends{0};
    w.SetRows({{0, 60000}}); // a minute's delay after the row
    w.Start(60000, [&](int) { ++sends; });
    while (sends.load() == 0)
        std::this_thread::yield();
    const auto t0 = steady_clock::now();
    w.Start(60000, [&](int) { sends += 100; }); // stops the first run, then starts anew
    while (sends.load() < 101)
        std::this_thread::yield();
    w.Stop();
    EXPECT_LT(steady_clock::now() - t0, seconds(5));
    EXPECT_EQ(sends.load(), 101); // one send of each run: the first ended in its delay
    EXPECT_FALSE(w.Running());
}

TEST(CycleWorker, AnIntervalOfZeroPausesAndNoCheckedRowNeverSpins) {
    // Rows without delays and an interval of 0: passes follow each other, but never closer than
    // MinPassMs, so the sends handed to the window stay countable.
    TCycleWorker w;
    std::atomic<int> sends{0};
    w.SetRows({{0, 0}, {1, 0}});
    const auto t0 = steady_clock::now();
    w.Start(0, [&](int) { ++sends; });
    std::this_thread::sleep_for(milliseconds(200));
    w.Stop();
    const auto ran = duration_cast<milliseconds>(steady_clock::now() - t0).count();
    EXPECT_LE(sends.load(), 2 * (ran / TCycleWorker::MinPassMs + 1));
    EXPECT_GE(sends.load(), 2);

    // No row checked: each wait lies IdlePassMs ahead of the moment it starts.
    TCycleWorker idle;
    std::vector<milliseconds> ahead;
    std::mutex lock;
    idle.SetWaitForTest([&](std::stop_token, TCycleWorker::Clock::time_point deadline) {
        std::lock_guard g(lock);
        ahead.push_back(duration_cast<milliseconds>(deadline - TCycleWorker::Clock::now()));
        return ahead.size() < 5;
    });
    idle.Start(0, [](int) {});
    while (idle.Running()) {
        {
            std::lock_guard g(lock);
            if (ahead.size() >= 5)
                break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    idle.Stop();
    ASSERT_EQ(ahead.size(), 5u);
    for (const milliseconds a : ahead)
        EXPECT_GE(a.count(), TCycleWorker::IdlePassMs - 20);
}
