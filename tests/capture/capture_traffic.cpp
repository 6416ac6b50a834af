#include "capture_traffic.h"

#include "core/block_store.h"
#include "core/blocks.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "lan/save_plan.h"
#include "module.h"
#include "serial.h"
#include "serial/serial_frames.h"
#include "upgrade/upgrade_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <variant>

namespace varnix::capture::test {

namespace {

constexpr char PcAddress[] = "10.77.0.2";
constexpr std::uint16_t PcPort = 50123;
constexpr char Broadcast[] = "255.255.255.255";
constexpr char Z2Address[] = "10.77.0.50";
constexpr char Z3Address[] = "10.77.0.51";
constexpr char Z2Mac[] = "00 1A 2B 3C 4D 5E";
constexpr char Z3Mac[] = "00 1A 2B 3C 4D 5F";
constexpr char User[] = "admin";
constexpr char SerialPort[] = "/dev/ttyUSB0";
constexpr std::uint32_t Z3UartLength = 512;
constexpr int Z3ServerCount = 4, Z3Style = 3;

using TFields = std::vector<std::pair<std::string, std::string>>;
using Bytes = std::span<const std::uint8_t>;

// --- Values as tshark prints them with -T fields. ---
std::string Num(long long v) {
    return std::to_string(v);
}
std::string Flag(bool on) {
    return on ? "1" : "0";
}
std::string Hex8(std::uint8_t v) {
    char s[8];
    std::snprintf(s, sizeof s, "0x%02x", v);
    return s;
}
std::string Ether(std::string_view macText) {
    std::string out;
    for (char c : RemoveSpaces(macText)) {
        if (!out.empty() && out.size() % 3 == 2)
            out += ':';
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}
std::string HexData(const std::vector<std::uint8_t>& data) {
    std::string out;
    for (std::uint8_t b : data) {
        char s[4];
        std::snprintf(s, sizeof s, "%02x", b);
        out += s;
    }
    return out;
}

// --- The fields tshark shows for a block, from the program's own decoders. ---
TFields BaseFields(const TBaseParam& b, std::int32_t family) {
    TFields f = {{"vorz.StaticIP", b.StaticIP},
                 {"vorz.GatewayIP", b.GatewayIP},
                 {"vorz.SubnetMask", b.SubnetMask},
                 {"vorz.Dns", b.Dns},
                 {"vorz.ModName", b.ModName},
                 {"vorz.UserName", b.UserName},
                 {"vorz.Password", "******"}, // every capture here masks it
                 {"vorz.UserMAC", Ether(b.UserMAC)},
                 {"vorz.LocationURLPort", Num(b.LocationURLPort)},
                 {"vorz.HTTPServerPort", Num(b.HTTPServerPort)},
                 {"vorz.AddrType", Num(b.AddrType)},
                 {"vorz.ClearBuffer", Flag(b.ClearBuffer)},
                 {"vorz.ShortConnEnable", Flag(b.ShortConnEnable)},
                 {"vorz.ShortConnTime", Num(b.ShortConnTime)},
                 {"vorz.HeartTarget", Num(b.HeartTarget)},
                 {"vorz.StatusBit1", Num(b.StatusBit1)},
                 {"vorz.RegSendMode", Num(b.RegSendMode)}};
    if (family == FamilyZ3) {
        f.push_back({"vorz.IdType", Num(b.OptionFlags)});
    } else {
        f.push_back({"vorz.OptionFlags", Hex8(static_cast<std::uint8_t>(b.OptionFlags))});
        f.push_back({"vorz.OptionReset", Flag(b.OptionFlags & 0x10)});
        f.push_back({"vorz.OptionRFC2217", Flag(b.OptionFlags & 0x80)});
    }
    return f;
}

// The program reads the Z2 layout of bytes 52..58 whatever the family; for Z3 the dissector
// shows the Z3 layout, checked against what the Z3 module was configured with.
TFields PortFields(const TPortParam& p, std::int32_t family) {
    TFields f = {{"vorz.BaudRate", Num(p.BaudRate)},
                 {"vorz.DataBits", Num(p.DataBits)},
                 {"vorz.Parity", Num(p.Parity)},
                 {"vorz.StopBits", Num(p.StopBits)},
                 {"vorz.FlowControl", Num(p.FlowControl)},
                 {"vorz.LocalPort", Num(p.LocalPort)},
                 {"vorz.RemotePort", Num(p.RemotePort)},
                 {"vorz.RemoteIP", p.RemoteIP},
                 {"vorz.WorkMode", Num(p.WorkMode)},
                 {"vorz.ModbusTCP", Num(p.ModbusTCP)},
                 {"vorz.BaudSync", Flag(p.BaudSync)},
                 {"vorz.CloudEnable", Num(p.CloudEnable)},
                 {"vorz.KickOldConn", Flag(p.KickOldConn)},
                 {"vorz.MacRegister", Flag(p.MacRegister)}};
    if (family == FamilyZ3) {
        f.push_back({"vorz.UARTLength", Num(Z3UartLength)});
        f.push_back({"vorz.TCPSvrCount", Num(Z3ServerCount)});
        f.push_back({"vorz.TCPStyle", Num(Z3Style)});
    } else {
        const int registerType = p.CustomRegister ? 2 : p.MacRegister ? 1 : p.CloudEnable ? 3 : 0;
        f.insert(f.end(), {{"vorz.TCPSvrCount", Num(p.TCPSvrCount)},
                           {"vorz.TCPStyle", Num(p.TCPStyle)},
                           {"vorz.RestartTimeout", Num(p.RestartTimeout)},
                           {"vorz.HttpdMethod", Num(p.HttpdMethod)},
                           {"vorz.CustomRegister", Flag(p.CustomRegister)},
                           {"vorz.RegisterType", Num(registerType)}});
    }
    return f;
}

TFields CloudFields(const TCloudParam& c) {
    return {{"vorz.DeviceNo", c.DeviceNo}, {"vorz.CommPassword", c.CommPassword}};
}

TFields HeartFields(const THeartParam& h) {
    const int type = (h.Flags & 0x01) ? 2 : (h.Flags & 0x02) ? 1 : 0;
    return {{"vorz.HeartbeatType", Num(type)},
            {"vorz.HeartbeatInterval", Num(h.Interval)},
            {"vorz.HeartbeatHex", Flag(h.Flags & 0x40)},
            {"vorz.HeartbeatData", HexData(h.HeartData)},
            {"vorz.RegisterOnConnect", Flag(h.Flags & 0x04)},
            {"vorz.RegisterWithData", Flag(h.Flags & 0x08)},
            {"vorz.RegisterHex", Flag(h.Flags & 0x80)},
            {"vorz.RegisterData", HexData(h.RegData)},
            {"vorz.RemoveHttpdHeader", Flag(h.Flags & 0x10)},
            {"vorz.SerialSetParams", Flag(h.Flags & 0x20)}};
}

TFields ModbusFields(const TModbusParam& m, int kind) {
    TFields f = {{"vorz.modbus.kind", Num(kind)}, {"vorz.ModbusTCPEnable", Flag(m.ModbusTCPEnable == 1)}};
    if (kind >= 4) {
        f.push_back({"vorz.ModbusPoll", Flag(m.PollEnable == 1)});
        f.push_back({"vorz.ModbusPollTimeout", m.PollTimeout});
    }
    if (kind == 7) {
        f.push_back({"vorz.ModbusAbnormalResponse", Flag(m.AbnormalResponse == 1)});
        f.push_back({"vorz.ModbusPollInterval", m.PollInterval});
    }
    return f;
}

TFields Z1Fields(const TZ1Params& z) {
    return {{"vorz.RemoteIP", z.DestIP},
            {"vorz.RemotePort", Num(z.DestPort)},
            {"vorz.StaticIP", z.ModuleIP},
            {"vorz.LocalPort", Num(z.ModulePort)},
            {"vorz.GatewayIP", z.GatewayIP},
            {"vorz.WorkMode", Num(z.WorkMode)},
            {"vorz.BaudRate", Num(z.BaudRate)},
            {"vorz.DataBits", Num(z.DataIndex + 5)},
            {"vorz.StopBits", Num(z.StopIndex + 1)},
            {"vorz.Parity", Num(z.ParityIndex + 1)},
            {"vorz.DeviceID", Num(z.DeviceID)},
            {"vorz.RS485", Flag(z.Options & 0x04)},
            {"vorz.OptionLink", Flag(z.Options & 0x20)},
            {"vorz.SubnetMask", z.SubnetMask}};
}

TFields Join(TFields a, const TFields& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// --- The modules' configuration, written with the program's encoders. ---
TBaseParam ModuleBase(std::int32_t family) {
    TBaseParam b;
    b.AddrType = 1;
    b.StaticIP = family == FamilyZ2 ? Z2Address : Z3Address;
    b.GatewayIP = "10.77.0.1";
    b.SubnetMask = "255.255.255.0";
    b.Dns = "10.77.0.53";
    b.ModName = family == FamilyZ2 ? "Line-1" : "Press-3";
    b.UserName = User;
    b.Password = Password;
    b.LocationURLPort = 1900;
    b.HTTPServerPort = 8080;
    b.ClearBuffer = true;
    b.OptionFlags = family == FamilyZ2 ? 0x90 : 2; // Z2: Reset and RFC2217; Z3: ID with data
    b.UserMAC = family == FamilyZ2 ? Z2Mac : Z3Mac;
    b.ShortConnTime = 7;
    return b;
}

TPortParam ModulePort(std::int32_t family) {
    TPortParam p;
    p.BaudRate = 115200;
    p.DataBits = 8;
    p.Parity = 3;
    p.StopBits = 2;
    p.FlowControl = 5;
    p.LocalPort = 20108;
    p.RemotePort = 4001;
    p.RemoteIP = "plant.example.org";
    p.ModbusTCP = 1;
    p.WorkMode = 3; // TCP Server, so the Modbus TCP bit is written
    p.BaudSync = 1;
    p.CloudEnable = 1;
    p.KickOldConn = true;
    p.HttpdMethod = 1;
    p.TCPSvrCount = family == FamilyZ2 ? 5 : Z3ServerCount;
    p.RestartTimeout = 300;
    p.TCPStyle = Z3Style;
    p.UARTLength = Z3UartLength;
    return p;
}

std::vector<std::uint8_t> EncodedParams(std::int32_t family) {
    std::array<std::uint8_t, ParamReplySize> blocks{};
    const std::span<std::uint8_t, ParamReplySize> all(blocks);
    EncodeBaseBlock(family, ModuleBase(family), all.subspan<0, BaseBlockSize>(), 0x04);
    EncodePortBlock(family, ModulePort(family), all.subspan<BaseBlockSize, PortBlockSize>(), 0x00);
    if (family == FamilyZ2)
        blocks[BaseBlockSize + 58] = 0x02; // a Z2 save carries the TCP server style; the module set it
    return {blocks.begin(), blocks.end()};
}

struct TZ2Blocks {
    std::vector<std::uint8_t> Base, Port, Cloud, Heart, Httpd, Modbus;
};

TZ2Blocks Z2ModuleBlocks() {
    TZ2Blocks z;
    const auto params = EncodedParams(FamilyZ2);
    z.Base.assign(params.begin(), params.begin() + BaseBlockSize);
    z.Port.assign(params.begin() + BaseBlockSize, params.end());
    std::array<std::uint8_t, CloudBlockSize> cloud{};
    EncodeCloudBlock({"DEV-0042", "cl0ud"}, cloud);
    z.Cloud.assign(cloud.begin(), cloud.end());
    std::array<std::uint8_t, HeartBlockSize> heart{};
    EncodeHeartBlock(0x01 | 0x04 | 0x40, 60, "414243", true, "REG", false, heart);
    z.Heart.assign(heart.begin(), heart.end());
    std::array<std::uint8_t, HttpdReplySize> httpd{};
    const std::span<std::uint8_t, HttpdReplySize> h(httpd);
    EncodeHttpdBlocks("http://plant.example.org/in", "X-Line: 1", h.subspan<0, HttpdUrlBlockSize>(),
                      h.subspan<HttpdUrlBlockSize, HttpdHeaderBlockSize>());
    z.Httpd.assign(httpd.begin(), httpd.end());
    z.Modbus = EncodeModbusBlock(7, {1, 1, "250", 1, "1000"});
    return z;
}

sim::Fleet MakeFleet(const TZ2Blocks& z2) {
    sim::ModuleDesc a;
    a.family = sim::Family::Z2;
    a.mac = sim::parseMac(Z2Mac);
    a.ip = sim::parseIp(Z2Address);
    a.name = "Line-1";
    a.firmware = 4017;
    a.base = z2.Base;
    a.port = z2.Port;
    a.cloud = z2.Cloud;
    a.heart = z2.Heart;
    a.httpd = z2.Httpd;
    a.modbus = z2.Modbus;
    sim::ModuleDesc b;
    b.family = sim::Family::Z3;
    b.mac = sim::parseMac(Z3Mac);
    b.ip = sim::parseIp(Z3Address);
    b.firmware = 2002;
    const auto params = EncodedParams(FamilyZ3);
    b.base = sim::Bytes(params.begin(), params.begin() + BaseBlockSize);
    b.port = sim::Bytes(params.begin() + BaseBlockSize, params.end());
    sim::Fleet fleet;
    fleet.add(sim::Module(a, sim::Vary(1)));
    fleet.add(sim::Module(b, sim::Vary(2)));
    return fleet;
}

// Numbers every packet as tshark does and keeps what tshark must show for it.
class TWriter {
public:
    explicit TWriter(ICaptureSink& sink) : sink_(sink) {}

    int Sent(TChannel channel, Bytes d, std::string_view peer, std::uint16_t peerPort,
             std::uint16_t localPort = PcPort) {
        sink_.Datagram({TDirection::Sent, channel, PcAddress, localPort, peer, peerPort, d, {}});
        return ++result_.Frames;
    }
    int Received(TChannel channel, Bytes d, std::string_view peer, std::uint16_t peerPort,
                 std::uint16_t localPort = PcPort) {
        sink_.Datagram({TDirection::Received, channel, PcAddress, localPort, peer, peerPort, d, {}});
        return ++result_.Frames;
    }
    int Serial(TDirection direction, Bytes d) {
        sink_.SerialChunk({direction, SerialPort, d, {}});
        return ++result_.Frames;
    }
    // A frame of the module protocol, with the fields tshark must show (and what it is, when
    // given; every frame's comment is compared with it anyway).
    void Expect(int frame, const std::string& kind, const TFields& fields) {
        result_.ModuleProtocolFrames.push_back(frame);
        Note(frame, kind.empty() ? fields : Join({{"vorz.kind", kind}}, fields));
    }
    void Note(int frame, const TFields& fields) {
        for (const auto& [field, value] : fields)
            result_.Expects.push_back({frame, field, value});
    }
    void BadChecksum(int frame) { result_.BadChecksumFrames.push_back(frame); }
    void Other(int frame) { result_.OtherFrames.push_back(frame); }
    TTrafficResult Result() const { return result_; }

private:
    ICaptureSink& sink_;
    TTrafficResult result_;
};

TFields CommandFields(std::uint8_t code, std::string_view mac, bool checksumGood = true) {
    return {{"vorz.code", Hex8(code)},
            {"vorz.mac", Ether(mac)},
            {"vorz.login.user", User},
            {"vorz.login.password", "******"},
            {"vorz.checksum.status", checksumGood ? "1" : "0"}};
}

// The fields of a read reply, from the program's decoders.
TFields ReplyFields(Bytes d, std::int32_t family) {
    switch (d.size()) {
    case ParamReplySize: {
        const auto [base, ports] = DecodeParamReply(d.first<ParamReplySize>());
        return Join(BaseFields(base, family), PortFields(ports.front(), family));
    }
    case CloudBlockSize:
        return CloudFields(DecodeCloudBlock(d.first<CloudBlockSize>()).front());
    case HeartBlockSize:
        return HeartFields(DecodeHeartBlock(d.first<HeartBlockSize>()));
    case HttpdReplySize: {
        const auto [url, header] = DecodeHttpdTexts(d.first<HttpdReplySize>());
        return {{"vorz.HttpdURL", url}, {"vorz.HttpdHeader", header}};
    }
    default: {
        const auto [modbus, kind] = DecodeModbusAnswer(d);
        return ModbusFields(modbus, kind);
    }
    }
}

std::string PeerOf(sim::Port from) {
    return from == sim::Port::Z2 ? Z2Address : Z3Address;
}
std::uint16_t PortOf(sim::Port from) {
    return from == sim::Port::Z2 ? PortZ2 : PortZ3;
}

struct TReply {
    int Frame = 0;
    sim::Bytes Data;
};

// Hands a command to the simulated modules and writes their answers.
std::vector<TReply> Answer(TWriter& w, sim::Fleet& fleet, sim::Port port, Bytes command, double nowMs) {
    const sim::Fleet::Result r = fleet.handle(port, command.data(), command.size(), nowMs);
    std::vector<TReply> replies;
    for (const auto& reply : r.replies) {
        const int frame = w.Received(TChannel::Lan, reply.data, PeerOf(reply.from), PortOf(reply.from));
        replies.push_back({frame, reply.data});
        const std::int32_t family = reply.from == sim::Port::Z2 ? FamilyZ2 : FamilyZ3;
        const TDatagramClass c = ClassifyDatagram(reply.data, PortOf(reply.from));
        if (const auto* s = std::get_if<TSearchReply>(&c)) {
            w.Expect(frame, "",
                     {{"vorz.ip", s->IP},
                      {"vorz.mac", Ether(s->MAC)},
                      {"vorz.firmware", s->Firmware},
                      {"vorz.name", s->Name},
                      {"vorz.family", Num(s->Family)}});
        } else if (const auto* st = std::get_if<TStatusDatagram>(&c)) {
            if (st->Code == stCheckError)
                w.Expect(frame, "", {{"vorz.checksum_error.expected", Hex8(reply.data[1])}});
            else
                w.Expect(frame, "", {{"vorz.ack.status", Hex8(reply.data[3])}});
        } else {
            w.Expect(frame, "", Join({{"vorz.family", Num(family)}}, ReplyFields(reply.data, family)));
        }
    }
    return replies;
}

void SearchAndRead(TWriter& w, sim::Fleet& fleet, TBlockStore& store) {
    const TIdBytes search = BuildSearchRequest();
    w.Expect(w.Sent(TChannel::Lan, search, Broadcast, PortZ2), "search request",
             {{"vorz.code", "0x01"}, {"vorz.checksum.status", "1"}, {"frame.comment", "search request"}});
    const std::vector<TReply> found = Answer(w, fleet, sim::Port::Z2, search, 0);
    ASSERT_EQ(found.size(), 2u);
    w.Note(found[0].Frame,
           {{"vorz.kind", "search reply, Z2, 00 1A 2B 3C 4D 5E, 10.77.0.50, firmware 4017, Line-1"}});

    const TIdBytes read = BuildAddressedCommand(CmdRead, Z2Mac, User, Password);
    const int frame = w.Sent(TChannel::Lan, read, Broadcast, PortZ2);
    w.Expect(frame, "read command, " + std::string(Z2Mac),
             Join(CommandFields(CmdRead, Z2Mac),
                  {{"frame.comment", "read command, 00 1A 2B 3C 4D 5E, log-in masked"}}));
    const std::vector<TReply> replies = Answer(w, fleet, sim::Port::Z2, read, 10);
    ASSERT_EQ(replies.size(), 5u); // 130, 50, 85, 302 and the 64-byte Modbus reply
    w.Note(replies[0].Frame, {{"vorz.kind", "read reply, base+port, 00 1A 2B 3C 4D 5E"},
                              {"frame.comment", "read reply, base+port, 00 1A 2B 3C 4D 5E, log-in masked"}});
    for (const TReply& reply : replies) {
        const Bytes d = reply.Data;
        if (d.size() == ParamReplySize)
            store.StoreParamReply(d.first<ParamReplySize>());
        else if (d.size() == CloudBlockSize)
            store.StoreCloud(d.first<CloudBlockSize>());
        else if (d.size() == HeartBlockSize)
            store.StoreHeart(d.first<HeartBlockSize>());
        else if (d.size() == HttpdReplySize)
            store.StoreHttpd(d.first<HttpdReplySize>());
        else
            store.StoreModbus(d);
    }

    const TIdBytes readZ3 = BuildAddressedCommand(CmdRead, Z3Mac, User, Password);
    w.Expect(w.Sent(TChannel::Lan, readZ3, Broadcast, PortZ3), "read command, " + std::string(Z3Mac),
             Join(CommandFields(CmdRead, Z3Mac), {{"vorz.family", Num(FamilyZ3)}}));
    Answer(w, fleet, sim::Port::Z3, readZ3, 20);
}

// The fields of a save step's payload, from the program's decoders.
TFields PayloadFields(const TSaveStep& step) {
    const Bytes p = step.Payload;
    switch (step.Code) {
    case CmdWriteBase:
        return BaseFields(DecodeBaseBlock(p.first<BaseBlockSize>()), FamilyZ2);
    case CmdWritePort:
        return PortFields(DecodePortBlock(p.first<PortBlockSize>()), FamilyZ2);
    case CmdWriteCloud:
        return CloudFields(DecodeCloudBlock(p.first<CloudBlockSize>()).front());
    case CmdWriteHeart:
        return HeartFields(DecodeHeartBlock(p.first<HeartBlockSize>()));
    case CmdWriteHttpdUrl:
        return {{"vorz.HttpdURL", BytesToText(p.subspan(1, p[0]))}};
    case CmdWriteHttpdHeader:
        return {{"vorz.HttpdHeader", BytesToText(p.subspan(1, p[0]))}};
    case CmdWriteModbus: {
        TIdBytes reply(64, 0); // a 64-byte datagram carries kind 7, as a module reports it
        std::copy(p.begin(), p.end(), reply.begin());
        return ModbusFields(DecodeModbusAnswer(reply).first, static_cast<int>(p.size()));
    }
    default:
        return {};
    }
}

void SaveZ2(TWriter& w, sim::Fleet& fleet, TBlockStore& store) {
    auto [base, ports] = DecodeParamReply(store.BasePort);
    TZ2SaveInput in;
    in.Base = base;
    in.Base.StaticIP = "10.77.0.60";
    in.Port = ports.front();
    in.Port.BaudRate = 57600;
    in.Port.WorkMode = 4;
    in.Cloud = {"DEV-0043", "cl0ud2"};
    in.Heart = {0x02 | 0x08 | 0x80, "90", "HB", false, "52454731", true};
    in.HttpdUrl = "http://plant.example.org/in2";
    in.HttpdHeader = "X-Line: 2";
    in.Modbus = {1, 1, "300", 0, "1500"};
    in.Firmware = 4017;
    in.Conditions = {3, 4, true, true};
    const TSavePlan plan = PlanZ2Save(in, store);
    ASSERT_TRUE(plan.Ok) << plan.Error.Message;
    ASSERT_EQ(plan.Steps.size(), 8u); // 05 06 0C 21 22 23 24 02
    double now = 100;
    for (const TSaveStep& step : plan.Steps) {
        const TIdBytes command = BuildAddressedCommand(step.Code, Z2Mac, User, Password, step.Payload);
        const int frame = w.Sent(TChannel::Lan, command, Broadcast, step.Port);
        w.Expect(frame, "", Join(CommandFields(step.Code, Z2Mac), PayloadFields(step)));
        const std::vector<TReply> acks = Answer(w, fleet, sim::Port::Z2, command, now += 500);
        ASSERT_EQ(acks.size(), 1u);
        w.Note(acks[0].Frame, {{"vorz.kind", "acknowledgement K"}});
    }
}

void Faults(TWriter& w, sim::Fleet& fleet) {
    TIdBytes corrupted = BuildAddressedCommand(CmdRead, Z2Mac, User, Password);
    corrupted.back() = static_cast<std::uint8_t>(corrupted.back() + 1);
    const int frame = w.Sent(TChannel::Lan, corrupted, Broadcast, PortZ2);
    w.Expect(frame, "", CommandFields(CmdRead, Z2Mac, false));
    w.BadChecksum(frame);
    const std::vector<TReply> rejected = Answer(w, fleet, sim::Port::Z2, corrupted, 10000);
    ASSERT_EQ(rejected.size(), 1u);
    ASSERT_EQ(rejected[0].Data.size(), 2u); // E and the checksum the module expected

    const TIdBytes wrong = BuildAddressedCommand(CmdRead, Z2Mac, User, "wrong1");
    w.Expect(w.Sent(TChannel::Lan, wrong, Broadcast, PortZ2), "", CommandFields(CmdRead, Z2Mac));
    const std::vector<TReply> refused = Answer(w, fleet, sim::Port::Z2, wrong, 10100);
    ASSERT_EQ(refused.size(), 1u);
    w.Note(refused[0].Frame, {{"vorz.kind", "acknowledgement P, user name or password wrong"}});
}

// A module or simulator on ports of its own: the dissector's heuristic takes what has a signature
// (a command's envelope and checksum) and leaves the rest, and port 9 keeps only upgrade requests.
void OtherPorts(TWriter& w) {
    constexpr std::uint16_t OtherPort = 41500;
    const TIdBytes read = BuildAddressedCommand(CmdRead, Z2Mac, User, Password);
    w.Expect(w.Sent(TChannel::Lan, read, Z2Address, OtherPort), "read command, 00 1A 2B 3C 4D 5E",
             Join(CommandFields(CmdRead, Z2Mac), {{"vorz.family", "0"}}));
    TIdBytes reply = EncodedParams(FamilyZ2); // a read reply has no signature of its own
    w.Other(w.Received(TChannel::Lan, reply, Z2Address, OtherPort));
    reply[0] = 0xFF; // nor does a datagram that only starts like a command
    w.Other(w.Received(TChannel::Lan, reply, Z2Address, OtherPort));
    const TIdBytes notUpgrade = {0xAA, 0xAA, 0x01, 0x02};
    w.Other(w.Sent(TChannel::Upgrade, notUpgrade, Broadcast, 9, 9));
}

int SendUpgrade(TWriter& w, const TUpgradeSend& s) {
    return w.Sent(TChannel::Upgrade, s.Data, s.DestIP, s.DestPort, s.LocalPort);
}

void UpgradeStart(TWriter& w) {
    TUpgradeSession session;
    TUpgradeStart start;
    start.TargetIP = Z2Address;
    start.TargetMAC = Z2Mac;
    start.LocalIP = PcAddress;
    start.FileName = "fw.bin";
    TIdBytes image = {0x5A, 0x32, 0x10, 0x07}; // the firmware signature, then the image
    image.resize(4 + 700, 0x11);
    start.Image = image;
    TUpgradeOutput out = session.Start(start);
    ASSERT_EQ(out.Sends.size(), 1u);
    w.Expect(SendUpgrade(w, out.Sends[0]), "upgrade request, 00 1A 2B 3C 4D 5E",
             {{"vorz.mac", Ether(Z2Mac)}, {"frame.comment", "upgrade request, 00 1A 2B 3C 4D 5E"}});

    // The module's boot request, laid out as BOOTP: op, hardware type and length, its MAC at 28
    // and its firmware signature at 44.
    TIdBytes boot(BootRecordSize, 0);
    boot[0] = 1;
    boot[1] = 1;
    boot[2] = 6;
    boot[7] = 0x42;
    MacTextToBytes(Z2Mac, std::span(boot).subspan<28, 6>());
    std::copy(image.begin(), image.begin() + 4, boot.begin() + 44);
    int frame = w.Received(TChannel::Upgrade, boot, "0.0.0.0", BootClientPort, BootServerPort);
    w.Note(frame, {{"dhcp.type", "1"},
                   {"dhcp.hw.mac_addr", Ether(Z2Mac)},
                   {"frame.comment", "boot request, 00 1A 2B 3C 4D 5E, signature 5A 32 10 07"}});
    out = session.Datagram(BootServerPort, "0.0.0.0", BootClientPort, boot);
    ASSERT_EQ(out.Sends.size(), 1u);
    w.Note(SendUpgrade(w, out.Sends[0]),
           {{"dhcp.type", "2"}, {"dhcp.ip.your", Z2Address}, {"dhcp.file", BootFileName}});

    TIdBytes read = {0x00, 0x01};
    for (const char* part : {BootFileName, "octet"}) {
        read.insert(read.end(), part, part + std::char_traits<char>::length(part));
        read.push_back(0);
    }
    frame = w.Received(TChannel::Upgrade, read, Z2Address, ModuleDataPort, FileServerPort);
    w.Note(frame, {{"tftp.opcode", "1"},
                   {"tftp.source_file", BootFileName},
                   {"frame.comment", "file read request, firmware.bin, octet"}});
    out = session.Datagram(FileServerPort, Z2Address, ModuleDataPort, read);
    ASSERT_EQ(out.Sends.size(), 1u);
    w.Note(SendUpgrade(w, out.Sends[0]), {{"frame.comment", "data block 1, 512 bytes"}});
    const TIdBytes ack = {0x00, 0x04, 0x00, 0x01};
    frame = w.Received(TChannel::Upgrade, ack, Z2Address, ModuleDataPort, DataLocalPort);
    w.Note(frame, {{"frame.comment", "block acknowledgement 1"}});
}

// A frame to a serial module and its answers, each a chunk of its own.
std::vector<TReply> Exchange(TWriter& w, sim::SerialModule& module, Bytes frame, int& sentFrame) {
    sentFrame = w.Serial(TDirection::Sent, frame);
    std::vector<TReply> replies;
    for (sim::Bytes& r : module.feed(frame.data(), frame.size(), 0))
        replies.push_back({w.Serial(TDirection::Received, r), std::move(r)});
    return replies;
}

void SerialZ2(TWriter& w, const TZ2Blocks& z2) {
    sim::SerialOptions o;
    o.family = "z2";
    o.base = z2.Base;
    o.port = z2.Port;
    o.cloud = z2.Cloud;
    o.heart = z2.Heart;
    sim::SerialModule module(o);
    int sent = 0;
    auto replies = Exchange(w, module, BuildComReadRequest(FamilyZ2), sent);
    w.Expect(sent, "read request, Z2", {{"vorz.serial.code", "0xbd"}});
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Data.size(), ComZ2ParamReplySize);
    const TComZ2Params params = ParseZ2ComParams(std::span(replies[0].Data).first<ComZ2ParamReplySize>());
    w.Expect(replies[0].Frame, "Z2 parameter reply, 00 1A 2B 3C 4D 5E",
             Join(BaseFields(params.Base, FamilyZ2), PortFields(params.Ports.front(), FamilyZ2)));

    replies = Exchange(w, module, BuildComZ2MoreRequest(), sent);
    w.Expect(sent, "follow-up read request, cloud and heartbeat", {});
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Data.size(), ComZ2MoreReplySize);
    const TComZ2More more = ParseZ2ComMore(std::span(replies[0].Data).first<ComZ2MoreReplySize>());
    w.Expect(replies[0].Frame, "Z2 cloud and heartbeat reply",
             Join(CloudFields(more.Cloud.front()), HeartFields(DecodeHeartBlock(more.Heart))));

    TBaseParam base = params.Base;
    base.StaticIP = "10.77.0.61";
    TPortParam port = params.Ports.front();
    port.BaudRate = 9600;
    for (const TIdBytes& frame : BuildZ2ComSaveFrames(params.Blocks, base, port)) {
        replies = Exchange(w, module, frame, sent);
        TFields fields = {{"vorz.checksum.status", "1"}};
        if (frame[1] == ComWriteZ2Base)
            fields = Join(
                fields, BaseFields(DecodeBaseBlock(std::span(frame).subspan<2, BaseBlockSize>()), FamilyZ2));
        else if (frame[1] == ComWriteZ2Port)
            fields = Join(
                fields, PortFields(DecodePortBlock(std::span(frame).subspan<2, PortBlockSize>()), FamilyZ2));
        else
            fields = {};
        w.Expect(sent, "", fields);
        ASSERT_EQ(replies.size(), 1u);
        w.Expect(replies[0].Frame, "acknowledgement K", {{"vorz.serial.ack", "0x4b"}});
    }
}

void SerialZ1(TWriter& w) {
    TZ1Params values;
    values.DestIP = "10.77.0.9";
    values.DestPort = 5001;
    values.ModuleIP = "10.77.0.70";
    values.ModulePort = 20108;
    values.GatewayIP = "10.77.0.1";
    values.WorkMode = 1;
    values.BaudRate = 921600;
    values.ParityIndex = 2;
    values.DataIndex = 2;
    values.StopIndex = 1;
    values.DeviceID = 258;
    values.Options = 0x24; // RS485 and Link
    values.SubnetMask = "255.255.254.0";
    std::array<std::uint8_t, Z1BodySize> body{};
    EncodeZ1Body(values, body);
    sim::SerialOptions o;
    o.family = "z1";
    o.z1Body.assign(body.begin(), body.end());
    sim::SerialModule module(o);
    int sent = 0;
    auto replies = Exchange(w, module, BuildComReadRequest(FamilyZ1), sent);
    w.Expect(sent, "read request, Z1/Z3", {});
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Data.size(), ComZ1ReplySize);
    const auto parsed = ParseZ1ComReply(std::span(replies[0].Data).first<ComZ1ReplySize>());
    ASSERT_TRUE(parsed.has_value());
    w.Expect(replies[0].Frame, "Z1 read reply", Join(Z1Fields(*parsed), {{"vorz.checksum.status", "1"}}));

    values.ModuleIP = "10.77.0.71";
    EncodeZ1Body(values, body);
    const auto frame = BuildZ1SerialFrame(body);
    replies = Exchange(w, module, frame, sent);
    w.Expect(sent, "Z1 write frame", Join(Z1Fields(values), {{"vorz.checksum.status", "1"}}));
    ASSERT_EQ(replies.size(), 1u);
}

} // namespace

TTrafficResult WriteSupportCase(ICaptureSink& sink) {
    TWriter w(sink);
    const TZ2Blocks z2 = Z2ModuleBlocks();
    sim::Fleet fleet = MakeFleet(z2);
    TBlockStore store;
    SearchAndRead(w, fleet, store);
    SaveZ2(w, fleet, store);
    Faults(w, fleet);
    OtherPorts(w);
    UpgradeStart(w);
    SerialZ2(w, z2);
    SerialZ1(w);
    return w.Result();
}

} // namespace varnix::capture::test
