// The upgrade run without sockets: what it sends and shows for each datagram and timer tick.
#include "upgrade/upgrade_session.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace varnix;

namespace {

constexpr char Target[] = "10.77.0.2";
constexpr char Local[] = "10.77.0.1";
const TIdBytes Sig{0x5A, 0x32, 0x10, 0x07};

TIdBytes Image(std::size_t dataBytes) {
    TIdBytes img = Sig;
    for (std::size_t i = 0; i < dataBytes; ++i)
        img.push_back(static_cast<std::uint8_t>(i * 7 + i / 251));
    return img;
}

TIdBytes BootRequest(const TIdBytes& sig, std::uint8_t byte26 = 0, std::uint16_t flags = 0) {
    TIdBytes r(BootRecordSize, 0);
    r[0] = 1, r[1] = 1, r[2] = 6, r[4] = 0x12;
    r[10] = static_cast<std::uint8_t>(flags >> 8), r[11] = static_cast<std::uint8_t>(flags);
    r[26] = byte26;
    std::memcpy(&r[28], "\x00\x1A\x2B\x3C\x4D\x5E", 6);
    std::memcpy(&r[44], sig.data(), 4);
    r[250] = 0x63;
    return r;
}

TIdBytes ReadRequest(const char* mode = "octet") {
    TIdBytes r{0, 1};
    for (const char* p = "firmware.bin"; *p; ++p)
        r.push_back(static_cast<std::uint8_t>(*p));
    r.push_back(0);
    for (const char* p = mode; *p; ++p)
        r.push_back(static_cast<std::uint8_t>(*p));
    r.push_back(0);
    r.resize(21, 0);
    return r;
}

TIdBytes Ack(std::uint32_t n, std::uint8_t op = 4) {
    return {0, op, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

struct TRun {
    TUpgradeSession s;
    TUpgradeOutput Start(TIdBytes img, std::string target = Target, std::string local = Local) {
        return s.Start({target, "00 1A 2B 3C 4D 5E", local, "fw.bin", std::move(img), {}, nullptr});
    }
    // Start and get as far as the first block.
    TUpgradeOutput ToFirstBlock(TIdBytes img) {
        Start(std::move(img));
        return s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest());
    }
    TUpgradeOutput AckOf(std::uint32_t n, const char* from = Target) {
        return s.Datagram(DataLocalPort, from, ModuleDataPort, Ack(n));
    }
};

// The block a send carries: number and payload size.
std::pair<int, std::size_t> Block(const TUpgradeOutput& o) {
    EXPECT_EQ(o.Sends.size(), 1u);
    if (o.Sends.size() != 1)
        return {-1, 0};
    const TUpgradeSend& d = o.Sends[0];
    EXPECT_EQ(d.LocalPort, DataLocalPort);
    EXPECT_EQ(d.DestIP, Target);
    EXPECT_EQ(d.DestPort, ModuleDataPort);
    EXPECT_EQ(d.Data[1], 3);
    return {(d.Data[2] << 8) | d.Data[3], d.Data.size() - 4};
}

} // namespace

TEST(UpgradeSession, StartSendsRequestAndAllBlocksOfATwoBlockImageThenSucceedsOnTheEmptyThird) {
    TRun r;
    const TUpgradeOutput start = r.Start(Image(1024));
    EXPECT_TRUE(start.OpenEndpoint);
    EXPECT_EQ(start.TimerMs, SearchTimeoutMs);
    EXPECT_EQ(start.LabelKey, "lang_Hint_UpSearching");
    EXPECT_EQ(start.ProgramEnabled, false);
    EXPECT_EQ(start.ExitEnabled, false);
    ASSERT_EQ(start.Sends.size(), 1u);
    EXPECT_EQ(start.Sends[0].DestIP, "255.255.255.255");
    EXPECT_EQ(start.Sends[0].DestPort, 9);
    EXPECT_EQ(start.Sends[0].Data, (TIdBytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0,    0x1A, 0x2B, 0x3C,
                                             0x4D, 0x5E, 0,    0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0,    0x1A,
                                             0x2B, 0x3C, 0x4D, 0x5E, 0,    0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));

    const TUpgradeOutput b1 = r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest());
    EXPECT_EQ(Block(b1), (std::pair<int, std::size_t>{1, 512}));
    EXPECT_TRUE(std::equal(b1.Sends[0].Data.begin() + 4, b1.Sends[0].Data.end(), Image(1024).begin() + 4));
    EXPECT_EQ(b1.Progress, 50);
    EXPECT_EQ(b1.LabelKey, "lang_Hint_UpProgress");
    EXPECT_EQ(b1.LabelSuffix, "50%");
    EXPECT_EQ(b1.TimerMs, BlockTimeoutMs);
    const TUpgradeOutput b2 = r.AckOf(1);
    EXPECT_EQ(Block(b2), (std::pair<int, std::size_t>{2, 512}));
    EXPECT_EQ(b2.Progress, 100);
    const TUpgradeOutput b3 = r.AckOf(2);
    EXPECT_EQ(Block(b3), (std::pair<int, std::size_t>{3, 0}));
    EXPECT_EQ(b3.LabelSuffix, "100%");
    EXPECT_FALSE(b3.Ended);

    // A late repeat of the acknowledgement of block 2 re-sends block 3; it is not success.
    const TUpgradeOutput late = r.AckOf(2);
    EXPECT_FALSE(late.Succeeded);
    EXPECT_EQ(Block(late), (std::pair<int, std::size_t>{3, 0}));
    // An acknowledgement of an older block changes nothing (and never reads past the image).
    const TUpgradeOutput old = r.AckOf(1);
    EXPECT_TRUE(old.Sends.empty());
    EXPECT_FALSE(old.TimerMs.has_value());

    const TUpgradeOutput done = r.AckOf(3);
    EXPECT_TRUE(done.Succeeded);
    EXPECT_EQ(done.LabelKey, "lang_Hint_UpSuccess");
    EXPECT_EQ(done.Progress, 0);
    EXPECT_EQ(done.ProgramEnabled, true);
    EXPECT_EQ(done.ExitEnabled, true);
    EXPECT_EQ(done.TimerMs, 0);
}

TEST(UpgradeSession, ShortLastBlockShowsFullProgressAndDuplicateAckResendsNext) {
    TRun r;
    const TUpgradeOutput b1 = r.ToFirstBlock(Image(700));
    EXPECT_EQ(Block(b1), (std::pair<int, std::size_t>{1, 512}));
    EXPECT_EQ(b1.Progress, 100); // 1 / (704 div 512) * 100
    // The module never got block 2 and repeats its acknowledgement of 1.
    EXPECT_EQ(Block(r.AckOf(1)), (std::pair<int, std::size_t>{2, 188}));
    const TUpgradeOutput again = r.AckOf(1);
    EXPECT_EQ(Block(again), (std::pair<int, std::size_t>{2, 188}));
    EXPECT_EQ(again.LabelSuffix, "100%");
    EXPECT_TRUE(r.AckOf(2).Succeeded);
}

TEST(UpgradeSession, IgnoresWhatIsNotForThisRun) {
    TRun r;
    r.Start(Image(1024));
    // Boot requests: relay flag set, or another module's signature without the mismatch flag.
    EXPECT_FALSE(
        r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, BootRequest(Sig, 0, 0x8000)).LabelKey);
    EXPECT_FALSE(r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, BootRequest({1, 2, 3, 4})).LabelKey);
    // Read requests in another mode, from another address, or of a 20-byte size.
    EXPECT_TRUE(r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest("netascii")).Sends.empty());
    EXPECT_TRUE(r.s.Datagram(FileServerPort, "10.77.0.3", ModuleDataPort, ReadRequest()).Sends.empty());
    TIdBytes shortRrq = ReadRequest();
    shortRrq.pop_back();
    EXPECT_TRUE(r.s.Datagram(FileServerPort, Target, ModuleDataPort, shortRrq).Sends.empty());
    EXPECT_EQ(r.s.phase(), TUpgradeSession::Phase::Searching);

    r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest());
    // Acknowledgements from another address or with opcode 00 05 leave the timer running.
    for (const TUpgradeOutput& o :
         {r.AckOf(1, "10.77.0.9"), r.s.Datagram(DataLocalPort, Target, ModuleDataPort, Ack(1, 5))}) {
        EXPECT_TRUE(o.Sends.empty());
        EXPECT_FALSE(o.TimerMs.has_value());
    }
    EXPECT_EQ(r.s.currentBlock(), 1u);
}

TEST(UpgradeSession, BootReplyCarriesAddressesAndFileNameAndMismatchEndsWithoutTimeOut) {
    TRun r;
    r.Start(Image(10));
    const TIdBytes req = BootRequest(Sig);
    const TUpgradeOutput o = r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, req);
    EXPECT_EQ(o.LabelKey, "lang_Hint_UpReady");
    ASSERT_EQ(o.Sends.size(), 1u);
    const TUpgradeSend& s = o.Sends[0];
    EXPECT_EQ(s.LocalPort, 67);
    EXPECT_EQ(s.DestIP, "255.255.255.255");
    EXPECT_EQ(s.DestPort, 68);
    TIdBytes want = req;
    want[0] = 2;
    std::memcpy(&want[16], "\x0A\x4D\x00\x02\x0A\x4D\x00\x01", 8);
    std::memcpy(&want[108], "firmware.bin", 12);
    EXPECT_EQ(s.Data, want);

    const TUpgradeOutput bad =
        r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, BootRequest({9, 9, 9, 9}, 1));
    EXPECT_EQ(bad.LabelKey, "lang_Hint_BinNotMatch");
    EXPECT_EQ(bad.ProgramEnabled, true);
    EXPECT_EQ(bad.ExitEnabled, true);
    EXPECT_EQ(bad.TimerMs, 0); // the mismatch stays on the label
    EXPECT_TRUE(r.s.TimerTick().Sends.empty());
}

TEST(UpgradeSession, ForgedDatagramsNeitherEndRedirectNorFinishTheRun) {
    TRun r;
    r.Start(Image(1024));
    // Another MAC's boot request: no address for it, and its mismatch flag ends nothing.
    TIdBytes other = BootRequest({9, 9, 9, 9}, 1);
    other[33] = 0x5F;
    const TUpgradeOutput foreign = r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, other);
    EXPECT_FALSE(foreign.Ended);
    EXPECT_TRUE(foreign.Ignored.has_value());
    other = BootRequest(Sig);
    other[28] = 0x02;
    EXPECT_TRUE(r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, other).Sends.empty());
    // A read request from the module's address but not from its data port starts nothing.
    EXPECT_TRUE(r.s.Datagram(FileServerPort, Target, 40000, ReadRequest()).Sends.empty());
    EXPECT_EQ(r.s.phase(), TUpgradeSession::Phase::Searching);

    EXPECT_EQ(Block(r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest())),
              (std::pair<int, std::size_t>{1, 512}));
    // During the transfer: the target's own mismatch flag, a second read request and a sweep of
    // acknowledgements from another port of the module's address change nothing.
    EXPECT_FALSE(r.s.Datagram(BootServerPort, "0.0.0.0", BootClientPort, BootRequest({9, 9, 9, 9}, 1)).Ended);
    EXPECT_TRUE(r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest()).Sends.empty());
    for (std::uint32_t n = 1; n <= 3; ++n) {
        const TUpgradeOutput o = r.s.Datagram(DataLocalPort, Target, 13634, Ack(n));
        EXPECT_TRUE(o.Sends.empty());
        EXPECT_FALSE(o.Succeeded);
    }
    EXPECT_EQ(r.s.currentBlock(), 1u);
    EXPECT_EQ(r.s.ignored(), 8);
    // The module's own acknowledgements still carry the run to its end.
    EXPECT_EQ(Block(r.AckOf(1)), (std::pair<int, std::size_t>{2, 512}));
    EXPECT_EQ(Block(r.AckOf(2)), (std::pair<int, std::size_t>{3, 0}));
    EXPECT_TRUE(r.AckOf(3).Succeeded);
}

TEST(UpgradeSession, NineResendsPerRunThenTimeOutAndTheLastBlockIsResentLikeAnyOther) {
    TRun r;
    r.ToFirstBlock(Image(600));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Block(r.s.TimerTick()), (std::pair<int, std::size_t>{1, 512}));
    EXPECT_EQ(Block(r.AckOf(1)), (std::pair<int, std::size_t>{2, 88}));
    // The final block or its acknowledgement was lost: the tick sends the same bytes again.
    const TUpgradeOutput resent = r.s.TimerTick();
    EXPECT_EQ(Block(resent), (std::pair<int, std::size_t>{2, 88}));
    EXPECT_EQ(resent.Sends[0].Data.back(), Image(600).back());
    for (int i = 0; i < 4; ++i)
        r.s.TimerTick();
    EXPECT_EQ(r.s.retryCount(), 9);
    const TUpgradeOutput out = r.s.TimerTick();
    EXPECT_TRUE(out.Sends.empty());
    EXPECT_EQ(out.LabelKey, "lang_Hint_UpTimeOut");
    EXPECT_TRUE(out.CloseEndpoint);
    EXPECT_EQ(out.ProgramEnabled, true);
    EXPECT_EQ(out.ExitEnabled, true);
    EXPECT_EQ(out.TimerMs, 0);
    EXPECT_FALSE(r.AckOf(2).Succeeded); // too late: the run is over

    TRun quiet;
    quiet.Start(Image(600));
    EXPECT_EQ(quiet.s.TimerTick().LabelKey, "lang_Hint_UpTimeOut"); // no read request within 10 s
}

TEST(UpgradeSession, BlockNumbersWrapOnTheWireWithoutCorruptingTheImage) {
    TRun r;
    const std::size_t blocks = 65536 + 2;
    TIdBytes img = Image(blocks * UpgradeBlockSize - 100);
    const TIdBytes copy = img;
    TUpgradeOutput o = r.ToFirstBlock(std::move(img));
    for (std::uint32_t n = 1; n < 65537; ++n)
        o = r.AckOf(n);
    EXPECT_EQ(r.s.currentBlock(), 65537u);
    EXPECT_EQ(Block(o), (std::pair<int, std::size_t>{1, 512}));
    const std::size_t offset = 4 + 65536u * 512u;
    EXPECT_TRUE(std::equal(o.Sends[0].Data.begin() + 4, o.Sends[0].Data.end(), copy.begin() + offset));
    // The repeat of block 65536 (0 on the wire) re-sends block 65537, not block 1.
    EXPECT_EQ(r.s.currentBlock(), 65537u);
    r.AckOf(0);
    EXPECT_EQ(r.s.currentBlock(), 65537u);
    EXPECT_EQ(Block(r.AckOf(1)), (std::pair<int, std::size_t>{2, 412}));
    EXPECT_TRUE(r.AckOf(2).Succeeded);
}

TEST(UpgradeSession, StartChecksAndFailuresLeaveTheRealReason) {
    TRun r;
    EXPECT_EQ(r.s.Start({"", "001A2B3C4D5E", Local, "f", Image(1), {}, nullptr}).LabelKey,
              "lang_Hint_UpNoClient");
    EXPECT_EQ(r.s.Start({Target, "001A2B3C4D5E", Local, "", Image(1), {}, nullptr}).LabelKey,
              "lang_Hint_UpNoFileName");
    for (const char* ip : {"10.77.1.2", "10.77.0", "10.77.0.2.5", "10.77.0.256", "10.77.0.x"})
        EXPECT_EQ(r.s.Start({ip, "001A2B3C4D5E", Local, "f", Image(1), {}, nullptr}).MessageKey,
                  "lang_Hint_UpNoSamNetwork")
            << ip;
    // A file that cannot hold the 4-byte signature is refused before anything is sent.
    for (std::size_t size : {0u, 3u}) {
        const TUpgradeOutput o =
            r.s.Start({Target, "001A2B3C4D5E", Local, "f", TIdBytes(size, 1), {}, nullptr});
        EXPECT_EQ(o.LabelKey, "lang_Hint_UpNotFirmware");
        EXPECT_TRUE(o.Sends.empty());
        EXPECT_FALSE(o.TimerMs.has_value());
    }
    const TUpgradeOutput noFile =
        r.s.Start({Target, "00:1A:2B:3C:4D:5E", Local, "f", std::nullopt, "gone", nullptr});
    EXPECT_EQ(noFile.LabelKey, "lang_Hint_Upfailed");
    EXPECT_EQ(noFile.LabelSuffix, " gone");
    EXPECT_FALSE(noFile.TimerMs.has_value());
    EXPECT_EQ(r.s.Start({Target, "00 1A 2B 3C 4D", Local, "f", Image(1), {}, nullptr}).LabelKey,
              "lang_Hint_Upfailed");
    EXPECT_EQ(r.s.phase(), TUpgradeSession::Phase::Idle);

    // A binding that fails after the start stops the timer, so the reason is not overwritten.
    r.s.Start({" 10.77.0.2", "00-1A-2B-3C-4D-5E", Local, "f", Image(1), {}, nullptr});
    const TUpgradeOutput failed = r.s.Fail(" port 67 in use");
    EXPECT_EQ(failed.LabelKey, "lang_Hint_Upfailed");
    EXPECT_EQ(failed.LabelSuffix, " port 67 in use");
    EXPECT_EQ(failed.TimerMs, 0);
    EXPECT_TRUE(r.s.TimerTick().Sends.empty());

    // The typed " 10.77.0.2" is the module 10.77.0.2.
    r.s.Start({" 10.77.0.2", "001A2B3C4D5E", Local, "f", Image(1), {}, nullptr});
    EXPECT_EQ(Block(r.s.Datagram(FileServerPort, Target, ModuleDataPort, ReadRequest())),
              (std::pair<int, std::size_t>{1, 1}));
}
