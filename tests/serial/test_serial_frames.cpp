// The serial configuration frames: request bytes, reply classification, the Z1 reply's checksum
// range, the Z2 replies' offsets and the Z2 save frames' carried bytes.

#include "core/convert.h"
#include "serial/port_list.h"
#include "serial/serial_frames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

using namespace varnix;

namespace {

std::array<std::uint8_t, ComZ1ReplySize> Z1Reply() {
    std::array<std::uint8_t, ComZ1ReplySize> r{};
    r[0] = 0x55;
    r[1] = 0xBC;
    const std::uint8_t body[28] = {0xC9, 0,    0xA8, 0xC0, 0x88, 0x13, 7,    0,    0xA8, 0xC0,
                                   0x40, 0x1F, 1,    0,    0xA8, 0xC0, 1,    0x00, 0xC2, 0x01,
                                   0x1E, 0x12, 0x34, 0xA5, 0,    0xFF, 0xFF, 0xFF};
    std::copy(std::begin(body), std::end(body), r.begin() + 2);
    r[30] = 0x77;
    r[31] = Sum8(std::span(r).subspan(2, 29));
    return r;
}

TEST(SerialFrames, RequestsAndReplyLengths) {
    EXPECT_EQ(BuildComReadRequest(FamilyZ2), (TIdBytes{0x55, 0xBD}));
    for (std::int32_t f : {FamilyZ1, FamilyZ3, FamilyUnknown})
        EXPECT_EQ(BuildComReadRequest(f), (TIdBytes{0x55, 0xBC}));
    EXPECT_EQ(BuildComZ2MoreRequest(), (TIdBytes{0x55, 0xC1}));
    const std::uint8_t k[2] = {0x4B, 0x4B};
    EXPECT_EQ(ClassifyComReply(std::span(k, 1)), TComReply::Ack);
    EXPECT_EQ(ClassifyComReply(std::span(k + 1, 0)), TComReply::Unknown);
    // Two acknowledgements in one chunk are not an acknowledgement.
    EXPECT_EQ(ClassifyComReply(std::span(k, 2)), TComReply::Unknown);
    const std::uint8_t other = 0x45;
    EXPECT_EQ(ClassifyComReply(std::span(&other, 1)), TComReply::OtherByte);
    std::vector<std::uint8_t> buf(200);
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(32)), TComReply::Z1Params);
    // A 137-byte chunk is the Z2 reply only with the header of its request.
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(137)), TComReply::Unknown);
    buf[0] = 0x55;
    buf[1] = 0xBD;
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(137)), TComReply::Z2Params);
    buf[1] = 0xBC;
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(137)), TComReply::Unknown);
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(115)), TComReply::Z2More);
    EXPECT_EQ(ClassifyComReply(std::span(buf).first(22)), TComReply::Unknown);
}

TEST(SerialFrames, Z1ReplyChecksumCoversByte30AndHeaderIsChecked) {
    auto r = Z1Reply();
    const auto v = ParseZ1ComReply(r);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->DestIP, "192.168.0.201");
    EXPECT_EQ(v->DestPort, 5000);
    EXPECT_EQ(v->ModuleIP, "192.168.0.7");
    EXPECT_EQ(v->ModulePort, 8000);
    EXPECT_EQ(v->WorkMode, 1);
    EXPECT_EQ(v->BaudRate, 115200u);
    EXPECT_EQ(v->ParityIndex, 2); // 0x1E: EVEN, 7, 2
    EXPECT_EQ(v->DataIndex, 2);
    EXPECT_EQ(v->StopIndex, 1);
    EXPECT_EQ(v->DeviceID, 0x1234);
    EXPECT_EQ(v->Options, 0xA5);
    EXPECT_EQ(v->SubnetMask, "255.255.255.0");

    auto changed30 = r;
    changed30[30] ^= 1; // byte 30 is summed: the old checksum no longer fits
    EXPECT_FALSE(ParseZ1ComReply(changed30));
    changed30[31] = Sum8(std::span(changed30).subspan(2, 29));
    EXPECT_TRUE(ParseZ1ComReply(changed30));
    auto bd = r;
    bd[1] = 0xBD;
    EXPECT_FALSE(ParseZ1ComReply(bd));
    auto head = r;
    head[0] = 0x56;
    EXPECT_FALSE(ParseZ1ComReply(head));
}

TEST(SerialFrames, Z2RepliesAndSaveFramesKeepTheModulesOwnBytes) {
    std::array<std::uint8_t, ComZ2ParamReplySize> reply{};
    std::iota(reply.begin(), reply.end(), std::uint8_t{0x10});
    const TComZ2Params p = ParseZ2ComParams(reply);
    EXPECT_EQ(p.KeptStatus, reply[5]);
    EXPECT_EQ(p.KeptSocketFlags, reply[119]);
    EXPECT_TRUE(std::equal(p.Blocks.begin(), p.Blocks.end(), reply.begin() + 2));
    ASSERT_EQ(p.Ports.size(), 1u);

    // Saving what was read unchanged sends the module's blocks back byte for byte.
    const auto frames = BuildZ2ComSaveFrames(p.Blocks, p.Base, p.Ports[0]);
    ASSERT_EQ(frames[0].size(), ComZ2BaseFrameSize);
    ASSERT_EQ(frames[1].size(), ComZ2PortFrameSize);
    EXPECT_EQ(frames[2], (TIdBytes{0x55, 0xB1, 0x5A}));
    EXPECT_EQ(frames[0][0], 0x55);
    EXPECT_EQ(frames[0][1], 0xBE);
    EXPECT_EQ(frames[1][1], 0xBF);
    EXPECT_EQ(frames[0][69], Sum8(std::span(frames[0]).subspan(2, 67)));
    EXPECT_EQ(frames[1][65], Sum8(std::span(frames[1]).subspan(2, 63)));
    TIdBytes sent(frames[0].begin() + 2, frames[0].begin() + 69);
    sent.insert(sent.end(), frames[1].begin() + 2, frames[1].begin() + 65);
    // Bytes the Z2 encoders write from the page may be normalised (text padding, reserved bits);
    // compare everything the decoder/encoder pair does not own by looking at a round trip.
    const auto again = BuildZ2ComSaveFrames(
        [&] {
            std::array<std::uint8_t, ParamReplySize> b{};
            std::copy(sent.begin(), sent.end(), b.begin());
            return b;
        }(),
        p.Base, p.Ports[0]);
    EXPECT_EQ(again, frames);

    // A changed field changes only its own bytes.
    TBaseParam base = p.Base;
    base.StaticIP = "10.1.2.3";
    const auto edited = BuildZ2ComSaveFrames(p.Blocks, base, p.Ports[0]);
    int differing = 0;
    for (std::size_t i = 2; i < 69; ++i)
        differing += edited[0][i] != frames[0][i];
    EXPECT_GE(differing, 1);
    EXPECT_LE(differing, 4);
    EXPECT_EQ(edited[1], frames[1]);

    std::array<std::uint8_t, ComZ2MoreReplySize> more{};
    const char* dev = "DEV-42";
    std::copy(dev, dev + 6, more.begin() + 2);
    more[22] = 'p';
    more[30] = 0x05;
    more[114] = 0xEE;
    const TComZ2More m = ParseZ2ComMore(more);
    ASSERT_EQ(m.Cloud.size(), 1u);
    EXPECT_EQ(m.Cloud[0].DeviceNo, "DEV-42");
    EXPECT_EQ(m.Cloud[0].CommPassword, "p");
    EXPECT_EQ(m.Heart[0], 0x05);
    EXPECT_EQ(m.Heart[84], 0xEE);
}

TEST(SerialPortList, ListsRealSerialDevicesOnly) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("varnix-tty-" + std::to_string(::getpid()));
    fs::remove_all(root);
    auto tty = [&](const std::string& name, bool device, const char* type) {
        fs::create_directories(root / name);
        if (device)
            fs::create_directories(root / name / "device");
        if (type)
            std::ofstream(root / name / "type") << type << '\n';
    };
    tty("ttyS0", true, "4");
    tty("ttyS1", true, "0");  // no UART behind it
    tty("ttyS2", false, "4"); // no device
    tty("ttyUSB10", true, nullptr);
    tty("ttyUSB2", true, nullptr);
    tty("ttyACM0", true, nullptr);
    tty("rfcomm0", false, nullptr);
    tty("tty5", false, nullptr);
    tty("ptmx", false, nullptr);
    EXPECT_EQ(GetComPortList(root.string(), "/dev"),
              (std::vector<std::string>{"/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyUSB2",
                                        "/dev/ttyUSB10"}));
    fs::remove_all(root);
    EXPECT_TRUE(GetComPortList(root.string()).empty());
}

TEST(SerialPortList, TheTabKeepsAPortThatIsThereElseTakesTheFirstFound) {
    const std::vector<std::string> found{"/dev/ttyUSB0", "/dev/ttyUSB1"};
    EXPECT_EQ(ChooseComPort("/dev/ttyUSB1", found), "/dev/ttyUSB1");
    EXPECT_EQ(ChooseComPort("/dev/null", found), "/dev/null"); // a path that exists (a pty, a link)
    // A saved name that cannot be a port here: "COM1", a relative name, a port that is gone.
    for (const char* gone : {"COM1", "ttyUSB7", "/dev/ttyUSB7", ""})
        EXPECT_EQ(ChooseComPort(gone, found), "/dev/ttyUSB0") << gone;
    EXPECT_EQ(ChooseComPort("COM1", {}), "");
}

} // namespace
