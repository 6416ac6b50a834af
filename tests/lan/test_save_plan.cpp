// Save plans: which blocks a save sends, in what order, to whom, with which pauses; that carried
// bytes travel back unchanged; and that a value that does not convert stops the save before
// anything is sent or stored.

#include "core/block_store.h"
#include "core/convert.h"
#include "lan/lan_protocol.h"
#include "lan/save_plan.h"

#include <gtest/gtest.h>

#include <numeric>
#include <utility>
#include <vector>

using namespace varnix;

namespace {

TZ2SaveInput Z2Input() {
    TZ2SaveInput in;
    in.Base.AddrType = 1;
    in.Base.StaticIP = "10.77.0.50";
    in.Base.GatewayIP = "10.77.0.1";
    in.Base.SubnetMask = "255.255.255.0";
    in.Base.ModName = "Line-1";
    in.Base.UserName = "vesta";
    in.Base.Password = "vesta";
    in.Base.UserMAC = "00 1A 2B 3C 4D 5E";
    in.Base.Dns = "8.8.8.8";
    in.Port.BaudRate = 115200;
    in.Port.DataBits = 8;
    in.Port.Parity = 1;
    in.Port.StopBits = 1;
    in.Port.FlowControl = 1;
    in.Port.LocalPort = 8234;
    in.Port.RemotePort = 8234;
    in.Port.RemoteIP = "10.77.0.1";
    in.Port.WorkMode = 3;
    in.Cloud = {"DEV-0001", "pw123456"};
    in.Heart = {0x01, "30", "PING", false, "", false};
    in.HttpdUrl = "/report";
    in.HttpdHeader = "Host: x";
    in.Modbus = {1, 1, "300", 0, "100"};
    in.Firmware = 4017;
    return in;
}

// A store as a module's replies would leave it: every byte distinct from what the encoders write.
TBlockStore ReportedStore() {
    TBlockStore s;
    std::iota(s.BasePort.begin(), s.BasePort.end(), std::uint8_t{0x80});
    std::iota(s.Cloud.begin(), s.Cloud.end(), std::uint8_t{0x40});
    std::iota(s.Heart.begin(), s.Heart.end(), std::uint8_t{0x10});
    std::fill(s.Httpd.begin(), s.Httpd.end(), std::uint8_t{0xAA});
    s.KeptStatus = 0x4F;
    s.KeptSocketFlags = 0x83;
    return s;
}

std::vector<std::uint8_t> Codes(const TSavePlan& p) {
    std::vector<std::uint8_t> c;
    for (const auto& s : p.Steps)
        c.push_back(s.Code);
    return c;
}

bool SameStore(const TBlockStore& a, const TBlockStore& b) {
    return a.BasePort == b.BasePort && a.Cloud == b.Cloud && a.Heart == b.Heart && a.Httpd == b.Httpd &&
           a.Modbus == b.Modbus && a.KeptStatus == b.KeptStatus && a.KeptSocketFlags == b.KeptSocketFlags;
}

} // namespace

TEST(Z2SavePlan, BlocksByConditions) {
    struct Case {
        int firmware;
        int registration;
        int workMode;
        bool modbus, polling;
        std::vector<std::uint8_t> codes;
    };
    const Case cases[] = {
        // Everything: cloud, heartbeat, HTTPD, Modbus kind 7.
        {4017, 3, 4, true, true, {0x05, 0x06, 0x0C, 0x21, 0x22, 0x23, 0x24, 0x02}},
        // Firmware 4016 never gets the heartbeat or HTTPD blocks, whatever the mode.
        {4016, 3, 4, true, true, {0x05, 0x06, 0x0C, 0x24, 0x02}},
        {4016, 0, 3, false, false, {0x05, 0x06, 0x02}},
        {0, 0, 4, false, false, {0x05, 0x06, 0x02}},
        // Newer firmware, not HTTPD Client, no cloud, no Modbus.
        {4017, 2, 3, false, false, {0x05, 0x06, 0x21, 0x02}},
        {4017, 1, 4, false, false, {0x05, 0x06, 0x21, 0x22, 0x23, 0x02}},
        {4017, 0, 0, true, false, {0x05, 0x06, 0x21, 0x24, 0x02}},
    };
    for (const Case& c : cases) {
        TZ2SaveInput in = Z2Input();
        in.Firmware = c.firmware;
        in.Conditions = {c.registration, c.workMode, c.modbus, c.polling};
        TBlockStore store = ReportedStore();
        const TSavePlan plan = PlanZ2Save(in, store);
        ASSERT_TRUE(plan.Ok) << plan.Error.Message;
        EXPECT_EQ(Codes(plan), c.codes) << "firmware " << c.firmware << " registration " << c.registration;
    }
}

TEST(Z2SavePlan, TargetsPortsPausesAndPayloadSizes) {
    TZ2SaveInput in = Z2Input();
    in.Conditions = {3, 4, true, true};
    TBlockStore store = ReportedStore();
    const TSavePlan plan = PlanZ2Save(in, store);
    ASSERT_TRUE(plan.Ok);
    ASSERT_EQ(plan.Steps.size(), 8u);
    const std::size_t sizes[] = {67, 63, 50, 85, 101, 201, 7, 0};
    for (std::size_t i = 0; i < plan.Steps.size(); ++i) {
        const TSaveStep& s = plan.Steps[i];
        EXPECT_EQ(s.Port, PortZ2);
        EXPECT_EQ(s.Payload.size(), sizes[i]) << i;
        EXPECT_EQ(s.PauseAfterMs, i < 6 ? 500 : 0) << i;
    }
    EXPECT_EQ(plan.Steps[6].Payload, (TIdBytes{1, 1, 0x01, 0x2C, 0, 0x00, 0x64}));
}

TEST(Z2SavePlan, PayloadsComeFromTheStoreAndCarryReportedBytes) {
    TZ2SaveInput in = Z2Input();
    in.Conditions = {3, 4, false, false};
    const TBlockStore reported = ReportedStore();
    TBlockStore store = reported;
    const TSavePlan plan = PlanZ2Save(in, store);
    ASSERT_TRUE(plan.Ok);
    const TIdBytes& base = plan.Steps[0].Payload;
    const TIdBytes& port = plan.Steps[1].Payload;
    const TIdBytes& cloud = plan.Steps[2].Payload;
    // What is sent is what the store now holds.
    EXPECT_TRUE(std::equal(base.begin(), base.end(), store.BasePort.begin()));
    EXPECT_TRUE(std::equal(port.begin(), port.end(), store.BasePort.begin() + 67));
    EXPECT_TRUE(std::equal(cloud.begin(), cloud.end(), store.Cloud.begin()));
    // Carried bytes are the module's own: base 0-2, 8, 49-51, 64-66; port 46-49, 57, 58-62.
    for (std::size_t i : {0u, 1u, 2u, 8u, 49u, 50u, 51u, 64u, 65u, 66u})
        EXPECT_EQ(base[i], reported.BasePort[i]) << "base byte " << i;
    for (std::size_t i : {46u, 47u, 48u, 49u, 57u, 58u, 59u, 62u})
        EXPECT_EQ(port[i], reported.BasePort[67 + i]) << "port byte " << i;
    for (std::size_t i : {0u, 1u, 30u, 49u})
        EXPECT_EQ(cloud[i], reported.Cloud[i]) << "cloud byte " << i;
    // Kept status bits 0-3 and 6 come from the last reply (0x4F); bit 7 static IP is written.
    EXPECT_EQ(base[3], 0x4F | 0x80);
    // HTTPD blocks: length byte, text, then the reported bytes after the text.
    const TIdBytes& url = plan.Steps[4].Payload;
    EXPECT_EQ(url[0], 7);
    EXPECT_EQ(std::string(url.begin() + 1, url.begin() + 8), "/report");
    EXPECT_EQ(url[8], 0xAA);
}

TEST(SavePlans, ATextThatDoesNotFitItsFieldRefusesTheSaveAndIsNeverCut) {
    // GBK bytes as the pages hand them over: fourteen times "一" (D2 BB) is 28 bytes, five times
    // "用" (D3 C3) is 10.
    std::string name14, login5;
    for (int i = 0; i < 14; ++i)
        name14 += "\xD2\xBB";
    for (int i = 0; i < 5; ++i)
        login5 += "\xD3\xC3";
    ASSERT_EQ(name14.size(), 28u);
    struct Case {
        TSaveField field;
        std::string value;
        const char* why;
    };
    TZ2SaveInput in0 = Z2Input();
    const std::vector<std::pair<std::string*, Case>> cases = {
        {&in0.Base.ModName, {TSaveField::ModName, name14, "ModName: 28 bytes, at most 16 fit"}},
        {&in0.Base.UserName, {TSaveField::UserName, login5, "UserName: 10 bytes, at most 6 fit"}},
        {&in0.Base.Password, {TSaveField::Password, "1234567", "Password: 7 bytes, at most 6 fit"}},
        {&in0.Port.RemoteIP,
         {TSaveField::RemoteIP, std::string(31, 'r'), "RemoteIP: 31 bytes, at most 30 fit"}},
        {&in0.Cloud.DeviceNo,
         {TSaveField::DeviceNo, std::string(21, '1'), "DeviceNo: 21 bytes, at most 20 fit"}},
        {&in0.Heart.HeartText,
         {TSaveField::HeartbeatData, std::string(41, 'p'), "HeartbeatData: 41 bytes, at most 40 fit"}},
        {&in0.HttpdUrl,
         {TSaveField::HttpdURL, std::string(101, 'u'), "HttpdURL: 101 bytes, at most 100 fit"}},
        {&in0.HttpdHeader,
         {TSaveField::HttpdHeader, std::string(201, 'h'), "HttpdHeader: 201 bytes, at most 200 fit"}},
    };
    for (const auto& [field, c] : cases) {
        const std::string kept = *field;
        *field = c.value;
        TZ2SaveInput in = in0;
        *field = kept;
        in.Conditions = {3, 4, true, true}; // cloud, HTTPD client: every block is written
        const TBlockStore reported = ReportedStore();
        TBlockStore store = reported;
        const TSavePlan plan = PlanZ2Save(in, store);
        EXPECT_FALSE(plan.Ok) << c.why;
        EXPECT_EQ(plan.Error.Field, c.field) << c.why;
        EXPECT_EQ(plan.Error.Text, c.value) << c.why;
        EXPECT_EQ(plan.Error.Message, c.why);
        EXPECT_TRUE(SameStore(store, reported)) << c.why;
    }
    // Z3 too; and a text that fills its field exactly is written whole.
    TZ3SaveInput z3{Z2Input().Base, Z2Input().Port};
    z3.Base.ModName = name14;
    TBlockStore store;
    EXPECT_EQ(PlanZ3Save(z3, store).Error.Message, "ModName: 28 bytes, at most 16 fit");
    z3.Base.ModName = name14.substr(0, 16);
    EXPECT_TRUE(PlanZ3Save(z3, store).Ok);

    // Commands never cut a log-in either: one that does not fit is refused before anything is built.
    EXPECT_THROW(BuildAddressedCommand(CmdRead, "00 1A 2B 3C 4D 5E", login5, "vesta"), ConversionError);
    EXPECT_EQ(CheckLoginText("UserName", login5).Error().Message, "UserName: 10 bytes, at most 6 fit");
    EXPECT_TRUE(CheckLoginText("UserName", "ve sta6"));
}

TEST(Z2SavePlan, PollTimeoutBelowTenBecomesTen) {
    struct Case {
        const char* timeout;
        std::optional<std::string> corrected;
        std::uint8_t low;
    };
    const Case cases[] = {
        {"7", "10", 0x0A}, {"0", "10", 0x0A}, {"10", std::nullopt, 0x0A}, {"300", std::nullopt, 0x2C}};
    for (const Case& c : cases) {
        TZ2SaveInput in = Z2Input();
        in.Conditions = {0, 3, true, true};
        in.Modbus.PollTimeout = c.timeout;
        TBlockStore store;
        const TSavePlan plan = PlanZ2Save(in, store);
        ASSERT_TRUE(plan.Ok) << c.timeout;
        EXPECT_EQ(plan.CorrectedPollTimeout, c.corrected) << c.timeout;
        const TIdBytes& modbus = plan.Steps[3].Payload;
        ASSERT_EQ(modbus.size(), 7u);
        EXPECT_EQ(modbus[3], c.low) << c.timeout;
        EXPECT_TRUE(std::equal(modbus.begin(), modbus.end(), store.Modbus.begin()));
    }
}

TEST(Z2SavePlan, KindOneIgnoresThePollTexts) {
    TZ2SaveInput in = Z2Input();
    in.Conditions = {0, 3, true, false};
    in.Modbus = {1, 1, "", 0, "abc"};
    TBlockStore store;
    const TSavePlan plan = PlanZ2Save(in, store);
    ASSERT_TRUE(plan.Ok);
    EXPECT_EQ(plan.Steps[3].Payload, (TIdBytes{1}));
    EXPECT_FALSE(plan.CorrectedPollTimeout);
}

TEST(Z2SavePlan, UnconvertibleValueFailsWholeAndLeavesStore) {
    struct Case {
        const char* what;
        void (*change)(TZ2SaveInput&);
        TSaveField field;
        const char* text;
    };
    const Case cases[] = {
        {"poll time-out", [](TZ2SaveInput& in) { in.Modbus.PollTimeout = "abc"; }, TSaveField::PollTimeout,
         "abc"},
        {"empty poll time-out", [](TZ2SaveInput& in) { in.Modbus.PollTimeout = ""; }, TSaveField::PollTimeout,
         ""},
        {"poll interval", [](TZ2SaveInput& in) { in.Modbus.PollInterval = "1x"; }, TSaveField::PollInterval,
         "1x"},
        {"heartbeat interval", [](TZ2SaveInput& in) { in.Heart.IntervalText = ""; },
         TSaveField::HeartInterval, ""},
        {"gateway", [](TZ2SaveInput& in) { in.Base.GatewayIP = "10.a.0.1"; }, TSaveField::GatewayIP,
         "10.a.0.1"},
        {"user MAC", [](TZ2SaveInput& in) { in.Base.UserMAC = "00 1A 2B"; }, TSaveField::UserMAC, "00 1A 2B"},
        {"DNS", [](TZ2SaveInput& in) { in.Base.Dns = "x"; }, TSaveField::Dns, "x"},
    };
    for (const Case& c : cases) {
        TZ2SaveInput in = Z2Input();
        in.Conditions = {3, 4, true, true};
        c.change(in);
        const TBlockStore reported = ReportedStore();
        TBlockStore store = reported;
        const TSavePlan plan = PlanZ2Save(in, store);
        EXPECT_FALSE(plan.Ok) << c.what;
        EXPECT_TRUE(plan.Steps.empty()) << c.what;
        EXPECT_EQ(plan.Error.Field, c.field) << c.what;
        EXPECT_EQ(plan.Error.Text, c.text) << c.what;
        EXPECT_NE(plan.Error.Message.find(SaveFieldName(c.field)), std::string::npos) << plan.Error.Message;
        EXPECT_TRUE(SameStore(store, reported)) << c.what;
    }
}

TEST(Z2SavePlan, ValuesOfBlocksNotSentAreNotChecked) {
    TZ2SaveInput in = Z2Input();
    in.Firmware = 4016;         // no heartbeat block
    in.Heart.IntervalText = ""; // so its empty interval does not matter
    in.Conditions = {0, 3, false, false};
    in.Modbus.PollTimeout = "abc"; // no Modbus block either
    TBlockStore store;
    EXPECT_TRUE(PlanZ2Save(in, store).Ok);
}

TEST(Z3SavePlan, BaseThenPortThenEndAtPortZ3) {
    TZ3SaveInput in;
    const TZ2SaveInput z2 = Z2Input();
    in.Base = z2.Base;
    in.Base.AddrType = 0;           // DHCP
    in.Base.Dns = "not an address"; // the Z3 encoder carries the DNS bytes
    in.Port = z2.Port;
    const TBlockStore reported = ReportedStore();
    TBlockStore store = reported;
    const TSavePlan plan = PlanZ3Save(in, store);
    ASSERT_TRUE(plan.Ok) << plan.Error.Message;
    ASSERT_EQ(Codes(plan), (std::vector<std::uint8_t>{0x05, 0x06, 0x04}));
    for (const auto& s : plan.Steps)
        EXPECT_EQ(s.Port, PortZ3);
    EXPECT_EQ(plan.Steps[0].PauseAfterMs, 500);
    EXPECT_EQ(plan.Steps[1].PauseAfterMs, 500);
    EXPECT_EQ(plan.Steps[2].PauseAfterMs, 0);
    EXPECT_TRUE(plan.Steps[2].Payload.empty());
    EXPECT_EQ(plan.Steps[0].Payload[3], 0x00); // DHCP with the Z3 rules: the whole status byte is 0
    for (std::size_t i = 59; i < 63; ++i)
        EXPECT_EQ(plan.Steps[0].Payload[i], reported.BasePort[i]);
    EXPECT_TRUE(
        std::equal(plan.Steps[1].Payload.begin(), plan.Steps[1].Payload.end(), store.BasePort.begin() + 67));

    in.Base.StaticIP = "1.2.3.x";
    TBlockStore before = store;
    const TSavePlan bad = PlanZ3Save(in, store);
    EXPECT_FALSE(bad.Ok);
    EXPECT_EQ(bad.Error.Field, TSaveField::StaticIP);
    EXPECT_TRUE(SameStore(store, before));
}
