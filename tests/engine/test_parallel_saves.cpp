// Saves side by side on a virtual clock: each module's steps in order with their pauses, at most
// N modules at a time, and acknowledgements given to the module that is owed one.
#include "engine/parallel_saves.h"

#include <gtest/gtest.h>

#include <map>
#include <queue>

using namespace varnix;
using namespace varnix;

namespace {

struct TVirtualClock {
    struct TEvent {
        int At;
        int Order;
        std::function<void()> Fn;
        bool operator>(const TEvent& o) const { return At != o.At ? At > o.At : Order > o.Order; }
    };
    std::priority_queue<TEvent, std::vector<TEvent>, std::greater<>> Queue;
    int Now = 0, Count = 0;
    TParallelSaves::TScheduler Scheduler() {
        return [this](int ms, std::function<void()> fn) {
            Queue.push(TEvent{Now + ms, Count++, std::move(fn)});
        };
    }
    // Runs the next `turns` events (all of them by default).
    void Run(int turns = -1) {
        while (!Queue.empty() && turns-- != 0) {
            TEvent e = Queue.top();
            Queue.pop();
            Now = e.At;
            e.Fn();
        }
    }
};

TSavePlan Z2Plan() {
    TSavePlan p;
    p.Ok = true;
    for (const std::uint8_t code : {0x05, 0x06, 0x21, 0x24, 0x02})
        p.Steps.push_back(
            TSaveStep{code, 1500, TSaveTarget::SelectedRow, {code}, code == 0x24 || code == 0x02 ? 0 : 500});
    return p;
}

} // namespace

TEST(ParallelSaves, StepsInOrderWithPausesAtMostNAtATime) {
    TVirtualClock clock;
    struct TSent {
        int Module, At;
        std::uint8_t Code;
    };
    std::vector<TSent> sent;
    TParallelSaves runner(3, 40, 0, clock.Scheduler(), [&](int m, const TSaveStep& s) {
        sent.push_back({m, clock.Now, s.Code});
    });
    for (int i = 0; i < 7; ++i)
        runner.Add(Z2Plan(), "10.77.0.2");
    std::vector<int> doneAt(7, -1);
    runner.OnModuleDone = [&](int m) { doneAt[static_cast<std::size_t>(m)] = clock.Now; };
    runner.Start();
    clock.Run();
    ASSERT_TRUE(runner.Done());
    ASSERT_EQ(sent.size(), 35u);
    std::map<int, std::vector<TSent>> byModule;
    for (const TSent& s : sent)
        byModule[s.Module].push_back(s);
    for (auto& [m, list] : byModule) {
        const std::vector<std::uint8_t> codes{list[0].Code, list[1].Code, list[2].Code, list[3].Code,
                                              list[4].Code};
        EXPECT_EQ(codes, (std::vector<std::uint8_t>{0x05, 0x06, 0x21, 0x24, 0x02})) << m;
        for (int i = 1; i < 4; ++i)
            EXPECT_GE(list[i].At - list[i - 1].At, 500) << m;
        EXPECT_EQ(list[4].At, list[3].At); // no pause after the Modbus block
    }
    // Never more than three modules between their first datagram and the end of their save.
    for (const TSent& s : sent) {
        int active = 0;
        for (auto& [m, list] : byModule)
            active += list.front().At <= s.At && doneAt[static_cast<std::size_t>(m)] > s.At;
        EXPECT_LE(active, 3);
    }
    EXPECT_EQ(byModule[1].front().At, 40); // the first wave is staggered
    EXPECT_LT(clock.Now, 3 * 1500 + 200);  // seven modules, three at a time
}

TEST(ParallelSaves, AcksGoToTheOldestUnansweredSendOfTheirCode) {
    TVirtualClock clock;
    TParallelSaves runner(2, 10, 0, clock.Scheduler(), [](int, const TSaveStep&) {});
    runner.Add(Z2Plan(), "10.0.0.1");
    runner.Add(Z2Plan(), "10.0.0.2");
    runner.Start();
    // Both have sent 0x05 after the first turns of the clock.
    clock.Run(2);
    EXPECT_EQ(runner.Ack(TAck{0x06, 'K', 0}, ""), -1);        // nobody sent 0x06 yet
    EXPECT_EQ(runner.Ack(TAck{0x05, 'K', 0}, "10.0.0.2"), 1); // its own address first
    EXPECT_EQ(runner.Ack(TAck{0x05, 'P', 0}, "192.0.2.1"), 0);
    EXPECT_EQ(runner.Ack(TAck{0x05, 'K', 0}, ""), -1);
    EXPECT_TRUE(runner.AllAcked());
    EXPECT_EQ(runner.Acks(0).front().Result, 'P');
    clock.Run();
    EXPECT_FALSE(runner.AllAcked());
}

TEST(ParallelSaves, AnAckWhoseModuleIsKnownGoesToThatModuleOnly) {
    TVirtualClock clock;
    TParallelSaves runner(2, 10, 0, clock.Scheduler(), [](int, const TSaveStep&) {});
    runner.Add(Z2Plan(), "10.0.0.1");
    runner.Add(Z2Plan(), "10.0.0.1");
    runner.Start();
    clock.Run(2);
    // Module 0's 0x05 is the older send, but the reply came back to module 1's port.
    EXPECT_EQ(runner.Ack(TAck{0x05, 'E', 0}, "", 1), 1);
    EXPECT_EQ(runner.Ack(TAck{0x05, 'K', 0}, "", 1), -1); // module 1 has nothing left to answer
    EXPECT_EQ(runner.Acks(1).front().Result, 'E');
    EXPECT_TRUE(runner.Acks(0).empty());
}

TEST(ParallelSaves, AModuleKeepsItsPlaceUntilItsAcksAreInOrTheGraceIsUp) {
    TVirtualClock clock;
    std::vector<std::pair<int, int>> starts; // module, time of its first datagram
    TParallelSaves* self = nullptr;
    TParallelSaves runner(1, 0, 300, clock.Scheduler(), [&](int m, const TSaveStep& s) {
        if (s.Code == 0x05)
            starts.emplace_back(m, clock.Now);
        // Module 0 acknowledges everything 50 ms later; module 1 never does.
        if (m == 0)
            clock.Scheduler()(50, [&self, s] { self->Ack(TAck{s.Code, 'K', 0}, ""); });
    });
    self = &runner;
    runner.Add(Z2Plan(), "");
    runner.Add(Z2Plan(), "");
    runner.Add(Z2Plan(), "");
    std::vector<int> doneAt;
    runner.OnModuleDone = [&](int) { doneAt.push_back(clock.Now); };
    runner.Start();
    clock.Run();
    ASSERT_EQ(doneAt.size(), 3u);
    EXPECT_EQ(runner.Acks(0).size(), 5u);
    EXPECT_EQ(doneAt[0], 1500 + 50);              // its restart acknowledged
    EXPECT_EQ(doneAt[1] - doneAt[0], 1500 + 300); // nothing came: the grace time
    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[1].second, doneAt[0]);
}
