// The pure page model: rules, the record <-> value moves and their refusals.

#include "model/page_rules.h"

#include <gtest/gtest.h>

using namespace varnix;

TEST(PageRules, WorkModeDecidesTheUsedPortFields) {
    struct Row {
        int mode;
        bool lan;
        TWorkModeView v;
    };
    const Row rows[] = {
        {0, true, {false, false, true, false, false, true}},
        {1, true, {true, false, true, false, false, true}},
        {2, true, {false, false, true, false, false, true}},
        {3, true, {true, true, false, false, false, true}},
        {4, true, {false, false, true, true, true, false}},
        {4, false, {false, false, true, true, false, false}},
    };
    for (const Row& r : rows)
        EXPECT_EQ(WorkModeRule(r.mode, r.lan), r.v) << "mode " << r.mode << " lan " << r.lan;
}

TEST(PageRules, RegistrationTypeShowsItsFields) {
    EXPECT_EQ(RegTypeRule(0), (TRegTypeView{false, false, false}));
    EXPECT_EQ(RegTypeRule(1), (TRegTypeView{false, true, false}));
    EXPECT_EQ(RegTypeRule(2), (TRegTypeView{false, true, true}));
    EXPECT_EQ(RegTypeRule(3), (TRegTypeView{true, false, false}));
}

TEST(PageRules, EditsThatCheckWhileTyping) {
    struct Row {
        const char* text;
        bool port, timeout, interval;
    };
    const Row rows[] = {
        {"", false, false, false},    {"0", true, false, false},    {"5", false, false, false},
        {"05", false, true, false},   {"10", false, false, false},  {"9999", false, false, false},
        {"10000", false, true, true}, {"50000", false, true, true}, {"65535", false, true, true},
        {"65536", true, true, true},  {"12ab", true, true, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(PortTextShouldClear(r.text), r.port) << r.text;
        EXPECT_EQ(PollTimeoutShouldClear(r.text), r.timeout) << r.text;
        EXPECT_EQ(PollIntervalShouldClear(r.text), r.interval) << r.text;
    }
}

TEST(PageRules, CustomBaudAnswer) {
    EXPECT_EQ(ParseCustomBaud("250000"), 250000u);
    EXPECT_EQ(ParseCustomBaud(" 76800 "), 76800u);
    EXPECT_FALSE(ParseCustomBaud("abc"));
    EXPECT_FALSE(ParseCustomBaud(""));
    EXPECT_FALSE(ParseCustomBaud("0"));
    EXPECT_FALSE(ParseCustomBaud("-9600"));
    EXPECT_FALSE(ParseCustomBaud("99999999999"));
}

namespace {
TPortParam Port() {
    TPortParam p;
    p.BaudRate = 115200;
    p.DataBits = 8;
    p.Parity = 1;
    p.StopBits = 1;
    p.FlowControl = 1;
    p.LocalPort = 8234;
    p.RemotePort = 8235;
    p.WorkMode = 3;
    p.TCPSvrCount = 4;
    p.TCPStyle = 1;
    return p;
}
} // namespace

TEST(Z2Model, ReplyChoosesTheLastRegistrationKindAndKeepsUnknownCodes) {
    TZ2Form form;
    form.FlowIndex = 1;
    form.ParityIndex = 2;
    TPortParam p = Port();
    p.MacRegister = true;
    p.CustomRegister = true;
    p.CloudEnable = 1;
    p.FlowControl = 2; // no item: the selection stays
    p.Parity = 9;
    ShowZ2OnForm(TBaseParam{}, {p}, form);
    EXPECT_EQ(form.RegTypeIndex, 2);
    EXPECT_EQ(form.FlowIndex, 1);
    EXPECT_EQ(form.ParityIndex, 2);
    EXPECT_EQ(form.LocalPort, "8234");

    p.MacRegister = p.CustomRegister = false;
    ShowZ2OnForm(TBaseParam{}, {p}, form);
    EXPECT_EQ(form.RegTypeIndex, 3);

    // A port array of another length leaves the port part alone.
    TZ2Form before = form;
    TBaseParam b;
    b.StaticIP = "10.0.0.9";
    ShowZ2OnForm(b, {p, p}, form);
    EXPECT_EQ(form.StaticIP, "10.0.0.9");
    EXPECT_EQ(form.LocalPort, before.LocalPort);
    EXPECT_EQ(form.RegTypeIndex, before.RegTypeIndex);
}

TEST(Z2Model, ReadingRoundTripsAReplyAndRefusesBadNumbers) {
    TBaseParam b;
    b.AddrType = 1;
    b.LocationURLPort = 1900;
    b.HTTPServerPort = 80;
    b.StaticIP = "10.77.0.50";
    b.GatewayIP = "10.77.0.1";
    b.SubnetMask = "255.255.255.0";
    b.ModName = "Line-1";
    b.UserName = "vesta";
    b.Password = "vesta";
    b.OptionFlags = 0xA0;
    b.UserMAC = "00 1A 2B 3C 4D 5E";
    b.Dns = "8.8.8.8";
    b.ShortConnTime = 7;
    b.ClearBuffer = true;
    TPortParam p = Port();
    p.KickOldConn = true;
    p.MacRegister = true;
    TZ2Form form;
    ShowZ2OnForm(b, {p}, form);
    TBaseParam b2;
    TPortParam p2;
    ASSERT_FALSE(ReadZ2BaseForm(form, b2));
    ASSERT_FALSE(ReadZ2PortForm(form, p2));
    EXPECT_EQ(b2, b);
    EXPECT_EQ(p2, p);

    // Optional numbers fall back to their defaults; required ones name their control.
    form.ShortConnTime.clear();
    form.RestartTimeout.clear();
    ASSERT_FALSE(ReadZ2BaseForm(form, b2));
    ASSERT_FALSE(ReadZ2PortForm(form, p2));
    EXPECT_EQ(b2.ShortConnTime, 3);
    EXPECT_EQ(p2.RestartTimeout, 0);
    struct Bad {
        std::string TZ2Form::*field;
        const char* control;
        bool base;
    };
    const Bad bad[] = {{&TZ2Form::HTTPServerPort, "edt_HTTPServerPort", true},
                       {&TZ2Form::LocationURLPort, "edt_LocationURLPort", true},
                       {&TZ2Form::LocalPort, "edt_LocalPort0", false},
                       {&TZ2Form::RemotePort, "edt_RemotePort0", false},
                       {&TZ2Form::BaudText, "cbb_BaudRate0", false}};
    for (const Bad& x : bad) {
        TZ2Form f = form;
        f.*x.field = "x1";
        const auto error = x.base ? ReadZ2BaseForm(f, b2) : ReadZ2PortForm(f, p2);
        ASSERT_TRUE(error) << x.control;
        EXPECT_EQ(error->Field, x.control);
        EXPECT_EQ(error->Text, "x1");
    }
}

TEST(Z2Model, HeartbeatFlagsAndData) {
    THeartParam h;
    h.Flags = 0x43; // network and serial heartbeat, heartbeat data as hex
    h.Interval = 30;
    h.HeartData = {0x41, 0x42, 0x00};
    h.RegData = {'R', 'G'};
    TZ2ExtForm f;
    ShowHeartOnForm(h, f);
    EXPECT_EQ(f.HeartTypeIndex, 2);
    EXPECT_TRUE(f.HeartDataHex);
    EXPECT_FALSE(f.RegDataHex);
    EXPECT_EQ(f.HeartData, "414200");
    EXPECT_EQ(f.RegData, "RG");
    EXPECT_EQ(f.HeartTime, "30");

    const THeartInput in = ReadHeartForm(f);
    EXPECT_EQ(in.Flags, 0x41); // the two heartbeat bits are never written together
    EXPECT_EQ(in.IntervalText, "30");
    EXPECT_EQ(in.HeartText, "414200");
    EXPECT_TRUE(in.HeartIsHex);
    f.HeartTypeIndex = 1;
    f.RegConnTo = f.RegDataWith = f.RemoveHttpdHeader = f.ComSetEnable = f.RegDataHex = true;
    f.HeartDataHex = false;
    EXPECT_EQ(ReadHeartForm(f).Flags, 0xBE);
}

TEST(Z2Model, ModbusKindsShowWhatTheyCarry) {
    TModbusParam m{1, 1, "300", 1, "50"};
    TZ2ExtForm f;
    EXPECT_EQ(ShowModbusOnForm(m, 1, f), (TModbusView{true, false, false, false, false}));
    EXPECT_TRUE(f.ModbusTcp);
    EXPECT_FALSE(f.ModbusPoll);
    EXPECT_EQ(ShowModbusOnForm(m, 4, f), (TModbusView{true, true, false, true, false}));
    EXPECT_EQ(f.WaitTime, "300");
    EXPECT_EQ(ShowModbusOnForm(m, 7, f), (TModbusView{true, true, true, true, true}));
    EXPECT_EQ(f.PollInterval, "50");
    EXPECT_EQ(ReadModbusForm(f), m);
    m.ModbusTCPEnable = 0;
    m.PollEnable = 0;
    EXPECT_EQ(ShowModbusOnForm(m, 7, f), (TModbusView{true, true, false, false, false}));
}

TEST(Z2Model, HexToggle) {
    EXPECT_EQ(ToggleHexText("AB", true), "4142");
    EXPECT_EQ(ToggleHexText("4142", false), "AB");
    EXPECT_EQ(ToggleHexText("4G42", false), "4G42");
}

TEST(Z1Model, ReadsThePageAndFillsAnEmptyId) {
    TZ1Params p;
    p.DestIP = "192.168.0.201";
    p.DestPort = 8234;
    p.ModuleIP = "192.168.0.7";
    p.ModulePort = 20108;
    p.GatewayIP = "192.168.0.1";
    p.WorkMode = 1;
    p.BaudRate = 76800;
    p.ParityIndex = 2;
    p.DataIndex = 2;
    p.StopIndex = 1;
    p.DeviceID = 65535;
    p.Options = 0x85;
    p.SubnetMask = "255.255.255.0";
    TZ1Form f;
    ShowZ1OnForm(p, f);
    TZ1Params back;
    ASSERT_FALSE(ReadZ1Form(f, back));
    EXPECT_EQ(back, p);

    f.ID.clear();
    ASSERT_FALSE(ReadZ1Form(f, back));
    EXPECT_EQ(f.ID, "0");
    EXPECT_EQ(back.DeviceID, 0);
    f.ID = "70000";
    ASSERT_FALSE(ReadZ1Form(f, back));
    EXPECT_EQ(back.DeviceID, 4464);

    struct Bad {
        std::string TZ1Form::*field;
        const char* text;
        const char* control;
    };
    const Bad bad[] = {{&TZ1Form::DePort, "", "edt_DePort"},
                       {&TZ1Form::ModulePort, "x", "edt_ModulePort"},
                       {&TZ1Form::BaudText, "fast", "cbb_BaudRate"},
                       {&TZ1Form::DeIP, "1.a.3.4", "edt_DeIP"},
                       {&TZ1Form::Mask, "255.x", "edt_Mask"}};
    for (const Bad& x : bad) {
        TZ1Form g = f;
        g.*x.field = x.text;
        const auto error = ReadZ1Form(g, back);
        ASSERT_TRUE(error) << x.control;
        EXPECT_EQ(error->Field, x.control);
    }
}

TEST(Z3Model, ReadsInPageOrderAndRefusesTheFirstBadNumber) {
    TZ3Form f; // the page's initial state: every base number empty
    TBaseParam b;
    TPortParam p;
    auto error = ReadZ3BaseForm(f, b);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->Field, "edt_LocationURLPortZ3");
    f.LocationURLPort = "0";
    f.HTTPServerPort = "80";
    EXPECT_EQ(ReadZ3BaseForm(f, b)->Field, "edt_IdTypeZ3");
    for (const char* outside : {"5", "4", "-1"}) { // refused, never cut to two bits
        f.IdType = outside;
        const auto refused = ReadZ3BaseForm(f, b);
        ASSERT_TRUE(refused) << outside;
        EXPECT_EQ(refused->Field, "edt_IdTypeZ3");
    }
    f.IdType = "3";
    ASSERT_FALSE(ReadZ3BaseForm(f, b));
    EXPECT_EQ(b.OptionFlags, 3);
    f.BaudText = "115200";
    f.LocalPort = f.RemotePort = "5555";
    f.UARTLength = "";
    EXPECT_EQ(ReadZ3PortForm(f, p)->Field, "edt_UARTLength0Z3");
    f.UARTLength = "200";
    ASSERT_FALSE(ReadZ3PortForm(f, p));
    EXPECT_EQ(p.TCPSvrCount, 8);
    EXPECT_EQ(p.TCPStyle, 1);
    EXPECT_EQ(p.WorkMode, 1);
}
