// TComm against a pty pair: chunking by the 50 ms gap, open failures, writes, close and hang-up.

#include "pty_pair.h"
#include "serial/comm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>

using namespace std::chrono_literals;
using varnix::ECommsError;
using varnix::TComm;
using varnix::test::TPtyPair;

namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

// Runs the event loop until pred holds or the deadline passes.
template <typename Pred> bool Spin(Pred pred, std::chrono::milliseconds deadline = 3000ms) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > deadline.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

struct CommFixture : ::testing::Test {
    TPtyPair pty;
    TComm comm;
    std::vector<std::vector<std::uint8_t>> chunks;
    int hangups = 0;

    void SetUp() override {
        ASSERT_FALSE(pty.SlavePath.empty());
        comm.SetCommName(pty.SlavePath);
        comm.SetOutx_CtsFlow(false);
        comm.SetOutx_DsrFlow(false);
        comm.SetReadIntervalTimeout(50);
        comm.OnReceiveData = [this](TComm&, const std::uint8_t* b, std::uint16_t n) {
            chunks.emplace_back(b, b + n);
        };
        comm.OnRequestHangup = [this](TComm&) { ++hangups; };
    }
    std::size_t Received() const {
        std::size_t n = 0;
        for (const auto& c : chunks)
            n += c.size();
        return n;
    }
};

TEST_F(CommFixture, BurstsBecomeChunksSplitOnlyByAGapLongerThanTheInterval) {
    comm.OpenPort();
    const auto reply = Bytes(32, 1);
    ASSERT_TRUE(pty.Write(reply));
    ASSERT_TRUE(Spin([&] { return !chunks.empty(); }));
    // Nothing more may follow: the burst is one chunk.
    Spin([] { return false; }, 120ms);
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], reply);

    chunks.clear();
    ASSERT_TRUE(pty.Write({reply.begin(), reply.begin() + 10}));
    std::this_thread::sleep_for(60ms);
    ASSERT_TRUE(pty.Write({reply.begin() + 10, reply.end()}));
    ASSERT_TRUE(Spin([&] { return Received() == 32; }));
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].size(), 10u);
    EXPECT_EQ(chunks[1].size(), 22u);

    // A long stream: no chunk above 3072 bytes, every byte in order.
    chunks.clear();
    const auto big = Bytes(5000, 7);
    ASSERT_TRUE(pty.Write(big));
    ASSERT_TRUE(Spin([&] { return Received() >= 5000; }));
    std::vector<std::uint8_t> joined;
    for (const auto& c : chunks) {
        EXPECT_LE(c.size(), varnix::CommChunkMax);
        joined.insert(joined.end(), c.begin(), c.end());
    }
    EXPECT_EQ(joined, big);
    EXPECT_GE(chunks.size(), 2u);
}

TEST_F(CommFixture, OpenFailuresNameTheirCauseAndLeaveAnOpenPortWorking) {
    comm.OpenPort();
    try {
        comm.OpenPort();
        FAIL() << "second open succeeded";
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "This serial port already opened");
    }
    EXPECT_TRUE(comm.IsOpen());
    const auto frame = Bytes(5, 0x55);
    ASSERT_TRUE(comm.WriteData(frame.data(), 5));
    EXPECT_EQ(pty.Read(5, 2000ms), frame);
    ASSERT_TRUE(pty.Write({0x4B}));
    ASSERT_TRUE(Spin([&] { return chunks.size() == 1; }));

    TComm other;
    auto openError = [&](const std::string& name) {
        other.SetCommName(name);
        try {
            other.OpenPort();
        } catch (const ECommsError& e) {
            EXPECT_FALSE(other.IsOpen());
            return std::pair<std::string, int>{e.what(), e.SystemError()};
        }
        return std::pair<std::string, int>{"opened", 0};
    };
    // The port this component holds.
    EXPECT_EQ(openError(pty.SlavePath), std::make_pair(std::string("Error opening serial port"), EBUSY));
    EXPECT_EQ(openError("/nonexistent/ttyUSB9"),
              std::make_pair(std::string("Error opening serial port"), ENOENT));
    EXPECT_EQ(openError("/dev/null").first, "File handle is not a comm handle ");
    char file[] = "/tmp/varnix-comm-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(openError(file).first, "File handle is not a comm handle ");
    ::unlink(file);
}

TEST_F(CommFixture, APortHeldByAnotherProcessIsBusy) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls here: the test process has threads.
        const int fd = ::open(pty.SlavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        ::pause(); // until the parent ends it
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    try {
        comm.OpenPort();
        ADD_FAILURE() << "opened a port another process holds";
    } catch (const ECommsError& e) {
        EXPECT_STREQ(e.what(), "Error opening serial port");
        EXPECT_EQ(e.SystemError(), EBUSY);
    }
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    // Released: the port opens now.
    comm.OpenPort();
    EXPECT_TRUE(comm.IsOpen());
}

TEST(CommNames, BareNamesAreLookedUpUnderDev) {
    EXPECT_EQ(TComm::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TComm::DevicePath("/tmp/link"), "/tmp/link");
    EXPECT_EQ(TComm::DevicePath("pts/ptmx"), "/dev/pts/ptmx");
    EXPECT_EQ(TComm::DevicePath("./here/ttyX"), "./here/ttyX");
}

TEST_F(CommFixture, WritesAreRefusedWhenClosedOrEmpty) {
    const std::uint8_t b[2] = {0x55, 0xBC};
    EXPECT_FALSE(comm.WriteData(b, 2));
    comm.OpenPort();
    EXPECT_FALSE(comm.WriteData(b, 0));
    EXPECT_TRUE(pty.Read(1, 100ms).empty());
    ASSERT_TRUE(comm.WriteData(b, 2));
    EXPECT_EQ(pty.Read(2, 2000ms), std::vector<std::uint8_t>(b, b + 2));
    comm.ClosePort();
    EXPECT_FALSE(comm.WriteData(b, 2));
}

TEST_F(CommFixture, CloseDuringAPendingReadReturnsAtOnceAndKeepsEarlierChunks) {
    comm.OpenPort();
    ASSERT_TRUE(pty.Write(Bytes(5)));
    // Let the chunk close (gap) without handling events, then start a second, unfinished one.
    std::this_thread::sleep_for(120ms);
    ASSERT_TRUE(pty.Write(Bytes(3, 9)));
    std::this_thread::sleep_for(10ms);
    const auto t0 = std::chrono::steady_clock::now();
    comm.ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
    EXPECT_FALSE(comm.IsOpen());
    ASSERT_TRUE(Spin([&] { return Received() >= 5; }));
    Spin([] { return false; }, 50ms);
    ASSERT_GE(chunks.size(), 1u);
    EXPECT_EQ(chunks[0], Bytes(5));
    // The port can be opened again at once.
    comm.OpenPort();
    EXPECT_TRUE(comm.IsOpen());
}

TEST_F(CommFixture, ABaudChangeWhileOpenReconfiguresTheLine) {
    comm.SetBaudRate(9600);
    comm.OpenPort();
    // The master side of a pty reads the slave's line settings.
    auto speed = [&] {
        struct termios2 t {};
        EXPECT_EQ(::ioctl(pty.Master, TCGETS2, &t), 0);
        return std::make_pair(t.c_ospeed, t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS));
    };
    auto code = [&] {
        struct termios2 t {};
        ::ioctl(pty.Master, TCGETS2, &t);
        return t.c_cflag & CBAUD;
    };
    EXPECT_EQ(speed(), std::make_pair(9600u, static_cast<tcflag_t>(CS8)));
    // A rate with its own code is set by that code (what other programs read back), any other
    // rate as a number.
    EXPECT_EQ(code(), static_cast<tcflag_t>(B9600));
    for (std::uint32_t rate : {14400u, 256000u, 31250u, 115200u}) {
        comm.SetBaudRate(rate);
        EXPECT_EQ(speed().first, rate);
        EXPECT_EQ(code(), static_cast<tcflag_t>(rate == 115200u ? B115200 : BOTHER)) << rate;
    }
}

TEST_F(CommFixture, TheOtherEndClosingEndsTheReadThreadAndReportsAHangup) {
    comm.OpenPort();
    ASSERT_TRUE(pty.Write(Bytes(4)));
    ASSERT_TRUE(Spin([&] { return chunks.size() == 1; }));
    pty.CloseMaster();
    ASSERT_TRUE(Spin([&] { return hangups == 1; }));
    // Still open until the owner closes; closing joins at once.
    EXPECT_TRUE(comm.IsOpen());
    const auto t0 = std::chrono::steady_clock::now();
    comm.ClosePort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 200ms);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
