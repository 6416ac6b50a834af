#include "engine/save_prepare.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"

#include <gtest/gtest.h>

#include <vector>

using namespace varnix;
using namespace varnix;

namespace {

// A module's read: blocks from a fixed byte pattern, with reserved bytes that are not zero, so a
// carried byte that the save loses shows up.
struct Read {
    TBlockStore Store;
    TReceivedBlocks Got;
    TModuleSettings Settings;
};

Read MakeRead(std::int32_t family, int firmware, bool extras, int modbusKind = 7) {
    Read r;
    for (std::size_t i = 0; i < r.Store.BasePort.size(); ++i)
        r.Store.BasePort[i] = static_cast<std::uint8_t>(0xA0 + i % 7);
    TBaseParam base;
    base.AddrType = 1;
    base.StaticIP = "10.0.0.5";
    base.GatewayIP = "10.0.0.1";
    base.SubnetMask = "255.255.255.0";
    base.Dns = "10.0.0.1";
    base.ModName = "Line-1";
    base.UserName = "vesta";
    base.Password = "vesta";
    base.UserMAC = "00 1A 2B 3C 4D 5E";
    base.OptionFlags = family == FamilyZ2 ? 0x80 : 1;
    base.ShortConnTime = 3;
    TPortParam port;
    port.BaudRate = 115200;
    port.DataBits = 8;
    port.Parity = 1;
    port.StopBits = 1;
    port.FlowControl = 1;
    port.LocalPort = 8234;
    port.RemotePort = 8234;
    port.RemoteIP = "10.0.0.1";
    port.WorkMode = 3;
    port.TCPSvrCount = 4;
    port.TCPStyle = 1;
    port.RestartTimeout = 300;
    port.UARTLength = 1024;
    EncodeBaseBlock(family, base, r.Store.Base(), 0x01);
    EncodePortBlock(family, port, r.Store.Port(), 0x80);
    r.Store.KeptStatus = r.Store.BasePort[BaseStatusOffset];
    r.Store.KeptSocketFlags = r.Store.BasePort[ReplySocketFlagsOffset];
    r.Got.Params = true;
    if (extras) {
        EncodeCloudBlock({"11111111111111111110", "pw"}, r.Store.Cloud);
        EncodeHeartBlock(0x01, 30, "heart", false, "register", false, r.Store.Heart);
        EncodeHttpdBlocks("/data", "Content-Type: text/plain", r.Store.HttpdUrl(), r.Store.HttpdHeader());
        TModbusParam m{0, 1, "200", 0, "1000"};
        const TIdBytes block = EncodeModbusBlock(modbusKind, m);
        r.Store.StoreModbus(block);
        r.Got.Cloud = r.Got.Heart = r.Got.Httpd = true;
        r.Got.ModbusKind = modbusKind;
        // A kind-7 reply is a 64-byte datagram that starts with the block.
        TIdBytes reply = block;
        if (modbusKind == 7)
            reply.resize(64, 0);
        r.Got.Modbus = DecodeModbusAnswer(reply).first;
    }
    r.Settings = DecodeModuleSettings(family, firmware, r.Store, r.Got);
    return r;
}

QList<TAssignment> Assign(std::initializer_list<const char*> texts) {
    QList<TAssignment> out;
    for (const char* t : texts) {
        const TResult<TAssignment> a = ParseAssignment(QString::fromUtf8(t));
        EXPECT_TRUE(a) << t << (a ? "" : a.Error().Message);
        if (a)
            out << *a;
    }
    return out;
}

std::vector<int> Codes(const TSavePlan& plan) {
    std::vector<int> out;
    for (const TSaveStep& s : plan.Steps)
        out.push_back(s.Code);
    return out;
}

std::vector<int> SkippedCodes(const TPreparedSave& p) {
    std::vector<int> out;
    for (const TSkippedBlock& s : p.Skipped)
        out.push_back(s.Code);
    return out;
}

} // namespace

TEST(CliSave, OneFieldChangesOnlyItsBytesAndCarriesTheRest) {
    const Read r = MakeRead(FamilyZ2, 4017, true);
    const TPreparedSave p = PrepareSave(r.Settings, r.Store, Assign({"RemotePort=9000"}));
    ASSERT_TRUE(p.Ok) << p.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Codes(p.Plan),
              (std::vector<int>{CmdWriteBase, CmdWritePort, CmdWriteHeart, CmdWriteModbus, CmdRestart}));
    EXPECT_EQ(SkippedCodes(p), (std::vector<int>{CmdWriteCloud, CmdWriteHttpdUrl, CmdWriteHttpdHeader}));
    ASSERT_EQ(p.Changes.size(), 1);
    EXPECT_EQ(p.Changes[0].Field->Name, QStringLiteral("RemotePort"));
    EXPECT_TRUE(p.SideEffects.isEmpty());
    // Base block byte for byte as read; the port block differs in the remote port only.
    EXPECT_EQ(p.Plan.Steps[0].Payload,
              TIdBytes(r.Store.BasePort.begin(), r.Store.BasePort.begin() + BaseBlockSize));
    const TIdBytes port(r.Store.BasePort.begin() + BaseBlockSize, r.Store.BasePort.end());
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < port.size(); ++i)
        if (port[i] != p.Plan.Steps[1].Payload[i])
            changed.push_back(i);
    EXPECT_EQ(changed, (std::vector<std::size_t>{14, 15}));
    EXPECT_EQ(p.Plan.Steps[2].Payload, TIdBytes(r.Store.Heart.begin(), r.Store.Heart.end()));
    EXPECT_EQ(p.NewMac, "00 1A 2B 3C 4D 5E");
    EXPECT_TRUE(CompareReadBack(p, p.After).isEmpty());
}

TEST(CliSave, BlocksTheModuleDidNotSendAreNeverWritten) {
    // Firmware above 4016 and HTTPD Client mode would send 0x21-0x23, but the module sent no
    // such replies; nor any Modbus reply.
    const Read r = MakeRead(FamilyZ2, 4100, false);
    const TPreparedSave p =
        PrepareSave(r.Settings, r.Store, Assign({"WorkMode=HTTPD Client", "RegisterType=Cloud"}));
    ASSERT_TRUE(p.Ok) << p.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Codes(p.Plan), (std::vector<int>{CmdWriteBase, CmdWritePort, CmdRestart}));
    EXPECT_EQ(SkippedCodes(p), (std::vector<int>{CmdWriteCloud, CmdWriteHeart, CmdWriteHttpdUrl,
                                                 CmdWriteHttpdHeader, CmdWriteModbus}));
    for (const TSkippedBlock& s : p.Skipped)
        EXPECT_TRUE(s.Reason.contains(QStringLiteral("sent no"))) << s.Reason.toStdString();
}

TEST(CliSave, FirmwareAndWorkModeDecideTheExtraBlocks) {
    struct Case {
        int firmware;
        const char* workMode;
        std::vector<int> codes;
    } cases[] = {
        {4016, "HTTPD Client", {CmdWriteBase, CmdWritePort, CmdWriteModbus, CmdRestart}},
        {4017, "TCP Server", {CmdWriteBase, CmdWritePort, CmdWriteHeart, CmdWriteModbus, CmdRestart}},
        {4017,
         "HTTPD Client",
         {CmdWriteBase, CmdWritePort, CmdWriteHeart, CmdWriteHttpdUrl, CmdWriteHttpdHeader, CmdWriteModbus,
          CmdRestart}},
    };
    for (const Case& c : cases) {
        const Read r = MakeRead(FamilyZ2, c.firmware, true);
        const TPreparedSave p =
            PrepareSave(r.Settings, r.Store, Assign({(std::string("WorkMode=") + c.workMode).c_str()}));
        ASSERT_TRUE(p.Ok) << c.firmware << c.workMode;
        EXPECT_EQ(Codes(p.Plan), c.codes) << c.firmware << " " << c.workMode;
    }
    const Read cloud = MakeRead(FamilyZ2, 4017, true);
    const TPreparedSave p =
        PrepareSave(cloud.Settings, cloud.Store, Assign({"RegisterType=3", "DeviceNo=42"}));
    ASSERT_TRUE(p.Ok);
    EXPECT_EQ(Codes(p.Plan)[2], CmdWriteCloud);
    EXPECT_EQ(p.Plan.Steps[2].Payload[2], '4');
}

TEST(CliSave, AChangeThatWouldNotArriveIsRefusedOrNoted) {
    const Read old = MakeRead(FamilyZ2, 4016, true);
    TPreparedSave p = PrepareSave(old.Settings, old.Store, Assign({"HeartbeatInterval=60"}));
    EXPECT_FALSE(p.Ok);
    EXPECT_TRUE(p.Errors.value(0).contains(QStringLiteral("firmware 4016 is not above 4016")))
        << p.Errors.value(0).toStdString();
    p = PrepareSave(old.Settings, old.Store, Assign({"HeartbeatInterval=60", "BaudRate=9600"}),
                    TPrepareMode::Lenient);
    ASSERT_TRUE(p.Ok);
    EXPECT_EQ(p.Notes.size(), 1);
    ASSERT_EQ(p.Changes.size(), 1);
    EXPECT_EQ(p.Changes[0].Field->Name, QStringLiteral("BaudRate"));

    // The Modbus TCP gateway bit exists only in the TCP work modes.
    const Read r = MakeRead(FamilyZ2, 4017, true);
    p = PrepareSave(r.Settings, r.Store, Assign({"WorkMode=UDP Client", "ModbusTCP=1"}));
    EXPECT_FALSE(p.Ok);
    EXPECT_TRUE(p.Errors.value(0).contains(QStringLiteral("ModbusTCP"))) << p.Errors.value(0).toStdString();
    p = PrepareSave(r.Settings, r.Store, Assign({"WorkMode=TCP Client", "ModbusTCP=1"}));
    EXPECT_TRUE(p.Ok);
}

TEST(CliSave, SideEffectsOfTheSaveRulesAreShown) {
    Read r = MakeRead(FamilyZ2, 4017, true);
    // Option bits 0-3 are written as zero by a Z2 save; a poll time-out below 10 becomes 10.
    r.Store.BasePort[52] = 0x83;
    r.Got.Modbus.PollTimeout = "5";
    r.Settings = DecodeModuleSettings(FamilyZ2, 4017, r.Store, r.Got);
    const TPreparedSave p = PrepareSave(r.Settings, r.Store, Assign({"BaudRate=9600"}));
    ASSERT_TRUE(p.Ok);
    QStringList side;
    for (const TFieldChange& c : p.SideEffects)
        side << c.Field->Name;
    EXPECT_EQ(side, (QStringList{QStringLiteral("OptionFlags"), QStringLiteral("ModbusPollTimeout")}));
}

TEST(CliSave, ModbusKind4WithoutIntervalIsSkippedUntilGiven) {
    const Read r = MakeRead(FamilyZ2, 4017, true, 4);
    TPreparedSave p = PrepareSave(r.Settings, r.Store, Assign({"BaudRate=9600"}));
    ASSERT_TRUE(p.Ok) << p.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Codes(p.Plan).back(), CmdRestart);
    EXPECT_EQ(Codes(p.Plan)[Codes(p.Plan).size() - 2], CmdWriteHeart);
    EXPECT_TRUE(p.Skipped.back().Reason.contains(QStringLiteral("ModbusPollInterval")));

    p = PrepareSave(r.Settings, r.Store, Assign({"ModbusPollInterval=500"}));
    ASSERT_TRUE(p.Ok) << p.Errors.join(QLatin1Char('\n')).toStdString();
    const TSaveStep& modbus = p.Plan.Steps[p.Plan.Steps.size() - 2];
    EXPECT_EQ(modbus.Code, CmdWriteModbus);
    EXPECT_EQ(modbus.Payload, (TIdBytes{0, 1, 0, 200, 0, 0x01, 0xF4})); // kind 7, big-endian values
}

TEST(CliSave, Z3SaveWritesItsLayoutAndEndsWith04) {
    const Read r = MakeRead(FamilyZ3, 4017, false);
    EXPECT_EQ(r.Settings.Port.UARTLength, 1024u);
    EXPECT_EQ(r.Settings.Port.TCPSvrCount, 4);
    const TPreparedSave p =
        PrepareSave(r.Settings, r.Store, Assign({"UARTLength=200", "TCPSvrCount=8", "TCPStyle=2"}));
    ASSERT_TRUE(p.Ok) << p.Errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(Codes(p.Plan), (std::vector<int>{CmdWriteBase, CmdWritePort, CmdZ3SaveEnd}));
    for (const TSaveStep& s : p.Plan.Steps)
        EXPECT_EQ(s.Port, PortZ3);
    EXPECT_EQ(p.Plan.Steps[1].Payload[52], 200);
    EXPECT_EQ(p.Plan.Steps[1].Payload[58], 0x82);
    EXPECT_EQ(p.Changes.size(), 3);
}

TEST(CliSave, ReadBackComparisonNamesEveryDifferentField) {
    const Read r = MakeRead(FamilyZ2, 4017, true);
    const TPreparedSave p =
        PrepareSave(r.Settings, r.Store, Assign({"StaticIP=10.0.0.9", "HeartbeatInterval=60"}));
    ASSERT_TRUE(p.Ok);
    // A module that ignored the writes reads back as it was.
    const auto mismatches = CompareReadBack(p, r.Settings);
    QStringList names;
    for (const TMismatch& m : mismatches)
        names << m.Field->Name;
    EXPECT_EQ(names, (QStringList{QStringLiteral("StaticIP"), QStringLiteral("HeartbeatInterval")}));
    // A read-back without the heartbeat reply cannot confirm the heartbeat block.
    TModuleSettings noHeart = p.After;
    noHeart.HasHeart = false;
    EXPECT_FALSE(CompareReadBack(p, noHeart).isEmpty());
}

TEST(CliSave, DryRunDatagramsAreTheAddressedCommands) {
    const Read r = MakeRead(FamilyZ2, 4017, true);
    const TPreparedSave p = PrepareSave(r.Settings, r.Store, Assign({"ModName=X"}));
    ASSERT_TRUE(p.Ok);
    const auto list = PlanDatagrams(p.Plan, "00 1A 2B 3C 4D 5E", TLogin{"vesta", "vesta"});
    ASSERT_EQ(list.size(), static_cast<qsizetype>(p.Plan.Steps.size()));
    EXPECT_EQ(list[0].Bytes.size(), 89u);
    EXPECT_EQ(list[0].PauseMs, SavePauseMs);
    EXPECT_EQ(list.back().Bytes.size(), 22u);
    EXPECT_EQ(list.back().Bytes[2], CmdRestart);
    for (const TPlannedDatagram& d : list)
        EXPECT_EQ(d.Bytes.back(),
                  Sum8(std::span<const std::uint8_t>(d.Bytes).subspan(1, d.Bytes.size() - 2)));
}
