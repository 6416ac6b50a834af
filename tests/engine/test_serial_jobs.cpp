// The serial read and save jobs on a virtual clock against a real pty: the test plays the module
// on the master side, the job's port component opens the slave side. Chunks arrive through the
// Qt event loop in real time; every wait of a job is virtual time the test moves by hand.

#include "engine/serial_job.h"
#include "serial/comm.h"
#include "serial/pty_pair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <sys/file.h>

#include <chrono>
#include <numeric>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using namespace varnix;
using varnix::test::TPtyPair;

namespace {

using TBytes = std::vector<std::uint8_t>;

// Runs the event loop until pred holds or `within` of real time has passed.
template <typename Pred> bool Pump(Pred pred, std::chrono::milliseconds within = 3000ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > within.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

TBytes Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    TBytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(gen());
    return b;
}

TBytes Z2Reply(const TBytes& blocks) {
    TBytes r(ComZ2ParamReplySize, 0x00);
    r[0] = 0x55;
    r[1] = 0xBD;
    std::copy(blocks.begin(), blocks.end(), r.begin() + 2);
    return r;
}

// A Z1 reply for module address 10.1.2.3, checksum over bytes 2..30.
TBytes Z1Reply() {
    TZ1Params p;
    p.DestIP = "10.1.2.200";
    p.DestPort = 5000;
    p.ModuleIP = "10.1.2.3";
    p.ModulePort = 8000;
    p.GatewayIP = "10.1.2.1";
    p.WorkMode = 1;
    p.BaudRate = 115200;
    p.DeviceID = 7;
    p.SubnetMask = "255.255.255.0";
    TBytes r(ComZ1ReplySize, 0);
    r[0] = 0x55;
    r[1] = 0xBC;
    EncodeZ1Body(p, std::span<std::uint8_t, Z1BodySize>(r.data() + 2, Z1BodySize));
    r[30] = 0x01;
    r[31] = static_cast<std::uint8_t>(std::accumulate(r.begin() + 2, r.begin() + 31, 0u));
    return r;
}

// One job on a pty and a virtual clock, with every report it makes.
template <typename Job, typename Result> struct TRig {
    TPtyPair pty;
    TVirtualClock clock;
    std::unique_ptr<Job> job;
    std::vector<TBytes> sent;
    std::vector<std::int64_t> sentAt;
    std::vector<TSerialChunk> uses;
    std::size_t bytesIn = 0;
    std::optional<Result> done;
    int opened = 0;

    explicit TRig(TComm* comm = nullptr) : job(std::make_unique<Job>(clock, comm)) {
        job->OnOpened = [this] { ++opened; };
        job->OnSent = [this](const TIdBytes& f) {
            sent.push_back(f);
            sentAt.push_back(clock.NowMs());
        };
        job->OnChunk = [this](std::span<const std::uint8_t> c, TSerialChunk use) {
            uses.push_back(use);
            bytesIn += c.size();
        };
        job->OnDone = [this](const Result& r) { done = r; };
    }
    TSerialPort Port() const { return {pty.SlavePath, 9600}; }
    // Writes a reply and waits until the job has seen it as one more chunk.
    void Answer(const TBytes& bytes) {
        const std::size_t before = uses.size();
        ASSERT_TRUE(pty.Write(bytes));
        ASSERT_TRUE(Pump([&] { return uses.size() > before || done; }));
    }
};
using TReadRig = TRig<TSerialReadJob, TSerialReadResult>;
using TSaveRig = TRig<TSerialSaveJob, TSerialSaveResult>;

bool PortIsFree(const std::string& path) {
    TComm other;
    other.SetCommName(path);
    try {
        other.OpenPort();
    } catch (const ECommsError&) {
        return false;
    }
    return true;
}

TEST(SerialJobs, Z2ReadTakesItsReplyThenTheFollowUpAndRefusesLookalikes) {
    TReadRig r;
    ASSERT_FALSE(r.pty.SlavePath.empty());
    r.job->Start(r.Port(), FamilyZ2);
    EXPECT_EQ(r.opened, 0); // nothing happens inside Start
    r.clock.Advance(0);
    EXPECT_EQ(r.opened, 1);
    EXPECT_EQ(r.pty.Read(2, 2000ms), (TBytes{0x55, 0xBD}));

    // 137 bytes of noise (not beginning with 55 BD) and a follow-up before it was asked for are
    // not taken, and 55 C1 is not sent for them.
    TBytes noise = Random(137, 1);
    noise[0] = 0x37;
    r.Answer(noise);
    r.Answer(Random(115, 2));
    EXPECT_EQ(r.uses, (std::vector<TSerialChunk>{TSerialChunk::Dropped, TSerialChunk::Dropped}));
    EXPECT_TRUE(r.pty.Read(1, 100ms).empty());
    EXPECT_FALSE(r.job->Result().Z2);

    r.clock.Advance(1500);
    const TBytes blocks = Random(ParamReplySize, 3);
    r.Answer(Z2Reply(blocks));
    ASSERT_EQ(r.uses.back(), TSerialChunk::Z2Params);
    ASSERT_TRUE(r.job->Result().Z2); // readable when the reply is reported
    EXPECT_TRUE(std::equal(blocks.begin(), blocks.end(), r.job->Result().Z2->Blocks.begin()));
    EXPECT_EQ(r.pty.Read(2, 2000ms), (TBytes{0x55, 0xC1}));
    EXPECT_EQ(r.sentAt, (std::vector<std::int64_t>{0, 1500}));

    // The follow-up has a reply wait of its own.
    r.clock.Advance(1900);
    EXPECT_FALSE(r.done);
    const TBytes more = Random(ComZ2MoreReplySize, 4);
    r.Answer(more);
    ASSERT_TRUE(r.done);
    EXPECT_TRUE(r.done->Ok());
    EXPECT_EQ(r.done->Family, FamilyZ2);
    EXPECT_EQ(r.done->Z2More, more);
    EXPECT_FALSE(r.done->LineGone);
    EXPECT_EQ(r.done->Input.Chunks, 4);
    EXPECT_EQ(r.done->Input.DroppedChunks, 2);
    EXPECT_EQ(r.done->Input.DroppedBytes, 137u + 115u);
    // Ended the moment the follow-up came: no timer left, the port closed and free.
    EXPECT_EQ(r.clock.Pending(), 0);
    EXPECT_FALSE(r.job->Running());
    EXPECT_TRUE(PortIsFree(r.pty.SlavePath));
}

TEST(SerialJobs, Z1ReadChecksHeaderAndChecksumAndWaitsOnForAGoodReply) {
    TReadRig r;
    const TBytes good = Z1Reply();
    TBytes badSum = good;
    badSum[31] ^= 0x01;
    TBytes badHead = good;
    badHead[1] = 0xBD;

    // Only a bad reply: reported, and the read fails when its wait is over, not before.
    r.job->Start(r.Port(), FamilyZ3);
    r.clock.Advance(0);
    EXPECT_EQ(r.pty.Read(2, 2000ms), (TBytes{0x55, 0xBC}));
    r.Answer(badSum);
    EXPECT_EQ(r.uses, (std::vector<TSerialChunk>{TSerialChunk::Z1Bad}));
    r.clock.Advance(1999);
    EXPECT_FALSE(r.done);
    r.clock.Advance(1);
    ASSERT_TRUE(r.done);
    EXPECT_EQ(r.done->Failure, TSerialFailure::BadReply);
    EXPECT_EQ(r.done->Family, FamilyZ3);
    EXPECT_FALSE(r.done->Z1);

    // The same job again: a good reply after a bad one is taken and ends the read at once.
    r.done.reset();
    r.uses.clear();
    r.job->Start(r.Port(), FamilyZ1);
    r.clock.Advance(0);
    EXPECT_EQ(r.pty.Read(2, 2000ms), (TBytes{0x55, 0xBC}));
    r.Answer(badHead);
    r.Answer(good);
    EXPECT_EQ(r.uses, (std::vector<TSerialChunk>{TSerialChunk::Z1Bad, TSerialChunk::Z1Reply}));
    ASSERT_TRUE(r.done);
    ASSERT_TRUE(r.done->Ok());
    ASSERT_TRUE(r.done->Z1);
    EXPECT_EQ(r.done->Z1->ModuleIP, "10.1.2.3");
    EXPECT_EQ(r.done->Z1->BaudRate, 115200u);
    EXPECT_EQ(r.done->Z1->DeviceID, 7);
    EXPECT_EQ(r.clock.Pending(), 0);
}

TEST(SerialJobs, Z2SavePausesBetweenFramesInVirtualTimeAndCountsOneAckPerFrame) {
    TSaveRig r;
    std::vector<int> acks;
    r.job->OnAck = [&](int n) { acks.push_back(n); };
    const std::vector<TIdBytes> frames{Random(70, 5), Random(66, 6), TIdBytes{0x55, 0xB1, 0x5A}};
    r.job->Start(r.Port(), frames);
    r.clock.Advance(0);
    EXPECT_EQ(r.pty.Read(70, 2000ms), frames[0]);
    // Two 'K's in one chunk are no acknowledgement; one is; a second one for the same frame
    // answers nothing.
    r.Answer({0x4B, 0x4B});
    r.Answer({0x4B});
    r.Answer({0x4B});
    EXPECT_EQ(r.uses,
              (std::vector<TSerialChunk>{TSerialChunk::Dropped, TSerialChunk::Ack, TSerialChunk::Dropped}));
    EXPECT_EQ(acks, (std::vector<int>{1}));

    // The pause is the clock's: nothing before 500 ms, the next frame at 500 ms.
    r.clock.Advance(499);
    EXPECT_TRUE(r.pty.Read(1, 150ms).empty());
    r.clock.Advance(1);
    EXPECT_EQ(r.pty.Read(66, 2000ms), frames[1]);
    r.Answer({0x4B});
    r.clock.Advance(500);
    EXPECT_EQ(r.pty.Read(3, 2000ms), frames[2]);
    EXPECT_FALSE(r.done);
    r.Answer({0x4B});
    ASSERT_TRUE(r.done);
    EXPECT_TRUE(r.done->Ok());
    EXPECT_EQ(r.done->Frames, 3);
    EXPECT_EQ(r.done->Acks, 3);
    EXPECT_EQ(acks, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(r.sentAt, (std::vector<std::int64_t>{0, 500, 1000}));
    EXPECT_EQ(r.clock.NowMs(), 1000); // done with the last acknowledgement, no wait after it
    EXPECT_EQ(r.clock.Pending(), 0);
}

TEST(SerialJobs, NoReplyALineThatGoesAwayAndPortsThatDoNotOpenAreTold) {
    {
        // A silent module: the read fails exactly when its wait is over.
        TReadRig r;
        r.job->SetReplyWaitMs(800);
        r.job->Start(r.Port(), FamilyZ2);
        r.clock.Advance(0);
        EXPECT_EQ(r.pty.Read(2, 2000ms).size(), 2u);
        r.clock.Advance(799);
        EXPECT_FALSE(r.done);
        r.clock.Advance(1);
        ASSERT_TRUE(r.done);
        EXPECT_EQ(r.done->Failure, TSerialFailure::NoReply);
    }
    {
        // A Z1 save nobody acknowledges: one frame sent, none acknowledged.
        TSaveRig r;
        r.job->Start(r.Port(), {TIdBytes(31, 0x55)});
        r.clock.RunAll();
        ASSERT_TRUE(r.done);
        EXPECT_EQ(r.done->Failure, TSerialFailure::NoReply);
        EXPECT_EQ(r.done->Frames, 1);
        EXPECT_EQ(r.done->Acks, 0);
        EXPECT_EQ(r.clock.NowMs(), TSerialJob::DefaultReplyWaitMs);
    }
    {
        // The line goes away in the middle of a read: reported at once, whatever the clock says.
        TReadRig r;
        r.job->Start(r.Port(), FamilyZ2);
        r.clock.Advance(0);
        EXPECT_EQ(r.pty.Read(2, 2000ms).size(), 2u);
        r.pty.CloseMaster();
        ASSERT_TRUE(Pump([&] { return r.done.has_value(); }));
        EXPECT_EQ(r.done->Failure, TSerialFailure::LineGone);
        EXPECT_TRUE(r.done->LineGone);
        EXPECT_EQ(r.clock.Pending(), 0);
    }
    {
        // A port another program holds, one that does not exist, none at all.
        TReadRig r;
        const int holder = ::open(r.pty.SlavePath.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(holder, 0);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        const auto failure = [&](const std::string& name) {
            r.done.reset();
            r.job->Start({name, 9600}, FamilyZ2);
            r.clock.Advance(0);
            EXPECT_TRUE(r.sent.empty());
            return r.done ? std::make_pair(r.done->Failure, r.done->Open.Kind)
                          : std::make_pair(TSerialFailure::None, TSerialOpenFailure::Other);
        };
        EXPECT_EQ(failure(r.pty.SlavePath),
                  std::make_pair(TSerialFailure::OpenFailed, TSerialOpenFailure::Busy));
        EXPECT_EQ(failure("/nonexistent/ttyVX9"),
                  std::make_pair(TSerialFailure::OpenFailed, TSerialOpenFailure::Missing));
        EXPECT_EQ(r.done->Open.Path, "/nonexistent/ttyVX9");
        EXPECT_EQ(failure(""), std::make_pair(TSerialFailure::OpenFailed, TSerialOpenFailure::NoName));
        ::close(holder);
    }
}

TEST(SerialJobs, CancelAndDestructionEndEverythingAtOnce) {
    {
        // Cancelled in the pause of a Z2 save: no more frames, no more reports, the port free.
        TSaveRig r;
        r.job->Start(r.Port(), {Random(70, 7), Random(66, 8), TIdBytes{0x55, 0xB1, 0x5A}});
        r.clock.Advance(0);
        EXPECT_EQ(r.pty.Read(70, 2000ms).size(), 70u);
        r.job->Cancel();
        EXPECT_FALSE(r.job->Running());
        EXPECT_EQ(r.clock.Pending(), 0);
        EXPECT_TRUE(PortIsFree(r.pty.SlavePath));
        r.clock.Advance(5000);
        EXPECT_EQ(r.sent.size(), 1u);
        EXPECT_FALSE(r.done);
    }
    {
        // Destroyed with a reply waiting in its (injected) port component: the reply goes
        // nowhere, and the component is closed.
        TComm comm;
        TReadRig r(&comm);
        r.job->Start(r.Port(), FamilyZ2);
        r.clock.Advance(0);
        EXPECT_EQ(r.pty.Read(2, 2000ms).size(), 2u);
        ASSERT_TRUE(r.pty.Write(Z2Reply(Random(ParamReplySize, 9))));
        std::this_thread::sleep_for(150ms); // the chunk is closed and queued, not yet handled
        r.job.reset();
        EXPECT_FALSE(comm.IsOpen());
        Pump([] { return false; }, 200ms);
        EXPECT_TRUE(r.uses.empty());
        EXPECT_FALSE(r.done);
    }
    {
        // Destroyed by its own report of a chunk while a second chunk waits behind it in the
        // job's own port component.
        TReadRig r;
        r.job->OnChunk = [&](std::span<const std::uint8_t>, TSerialChunk use) {
            r.uses.push_back(use);
            r.job.reset();
        };
        r.job->Start(r.Port(), FamilyZ2);
        r.clock.Advance(0);
        EXPECT_EQ(r.pty.Read(2, 2000ms).size(), 2u);
        ASSERT_TRUE(r.pty.Write(Random(20, 10)));
        std::this_thread::sleep_for(120ms);
        ASSERT_TRUE(r.pty.Write(Random(20, 11)));
        std::this_thread::sleep_for(120ms);
        Pump([] { return false; }, 200ms);
        EXPECT_EQ(r.uses.size(), 1u);
        EXPECT_FALSE(r.done);
        r.clock.Advance(5000);
        EXPECT_TRUE(PortIsFree(r.pty.SlavePath));
    }
}

TEST(SerialJobs, ABabblingLineIsCountedNotKeptAndTheReplyAfterItIsStillTaken) {
    TReadRig r;
    r.job->Start(r.Port(), FamilyZ2);
    r.clock.Advance(0);
    EXPECT_EQ(r.pty.Read(2, 2000ms).size(), 2u);
    // 256 KiB without a single 0x55, so no chunk can look like a reply.
    TBytes babble = Random(256 * 1024, 12);
    std::replace(babble.begin(), babble.end(), std::uint8_t{0x55}, std::uint8_t{0x54});
    std::thread writer([&] { r.pty.Write(babble); });
    ASSERT_TRUE(Pump([&] { return r.bytesIn >= babble.size(); }, 20000ms));
    writer.join();
    const std::size_t chunks = r.uses.size();
    EXPECT_GE(chunks, babble.size() / CommChunkMax);
    EXPECT_TRUE(
        std::all_of(r.uses.begin(), r.uses.end(), [](TSerialChunk u) { return u == TSerialChunk::Dropped; }));
    EXPECT_TRUE(r.pty.Read(1, 100ms).empty()); // no 55 C1 for any of it

    r.Answer(Z2Reply(Random(ParamReplySize, 13)));
    EXPECT_EQ(r.uses.back(), TSerialChunk::Z2Params);
    r.clock.Advance(TSerialJob::DefaultReplyWaitMs); // the follow-up never comes
    ASSERT_TRUE(r.done);
    EXPECT_TRUE(r.done->Ok());
    EXPECT_TRUE(r.done->Z2);
    EXPECT_FALSE(r.done->Z2More);
    EXPECT_EQ(r.done->Input.DroppedBytes, babble.size());
    EXPECT_EQ(r.done->Input.DroppedChunks, static_cast<int>(chunks));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
