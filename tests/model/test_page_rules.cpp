// The pure rules of the parameter pages (the values move through the catalogue, tested with the
// pages themselves).

#include "model/fields.h"
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

TEST(PageRules, ModbusKindsShowWhatTheyCarry) {
    EXPECT_EQ(ModbusRule(0, true, true), TModbusView{});
    EXPECT_EQ(ModbusRule(2, true, true), TModbusView{});
    EXPECT_EQ(ModbusRule(1, true, true), (TModbusView{true, true, false, false, false}));
    // Kinds 4 and 7 are both saved as kind 7: the boxes decide what shows.
    for (int kind : {4, 7}) {
        EXPECT_EQ(ModbusRule(kind, true, true), (TModbusView{true, true, true, true, true})) << kind;
        EXPECT_EQ(ModbusRule(kind, false, true), (TModbusView{true, true, true, false, true})) << kind;
        EXPECT_EQ(ModbusRule(kind, true, false), (TModbusView{true, true, true, true, false})) << kind;
    }
}

TEST(PageRules, TextsRewrittenBeforeReading) {
    EXPECT_EQ(EmptyEditDefault("ShortConnTime"), std::optional<std::string_view>("3"));
    EXPECT_EQ(EmptyEditDefault("RestartTimeout"), std::optional<std::string_view>("0"));
    EXPECT_EQ(EmptyEditDefault("DeviceID"), std::optional<std::string_view>("0"));
    for (const char* required : {"LocalPort", "HeartbeatInterval", "ModbusPollTimeout", "StaticIP"})
        EXPECT_FALSE(EmptyEditDefault(required)) << required;

    for (const char* low : {"0", "7", "09"})
        EXPECT_EQ(RaisedPollTimeout(low), std::optional<std::string>("10")) << low;
    for (const char* kept : {"10", "9999", "", "x"})
        EXPECT_FALSE(RaisedPollTimeout(kept)) << kept;

    EXPECT_EQ(HttpdHeaderForModule("X-A: 1\nX-B: 2\n"), "X-A: 1\r\nX-B: 2\r\n");
    EXPECT_EQ(HttpdHeaderForModule("A\r\nB"), "A\r\nB"); // CR LF stays one line break
    EXPECT_EQ(HttpdHeaderForModule("\n"), "\r\n");
}

TEST(PageRules, HexToggle) {
    EXPECT_EQ(ToggleHexText("AB", true), "4142");
    EXPECT_EQ(ToggleHexText("4142", false), "AB");
    EXPECT_EQ(ToggleHexText("4G42", false), "4G42");
}

// A save plan's refusal names its field as the catalogue does, so "set NAME=VALUE" can be typed back.
TEST(PageRules, SaveErrorsNameCatalogueFields) {
    for (int f = 0; f <= static_cast<int>(TSaveField::HttpdHeader); ++f) {
        const char* name = SaveFieldName(static_cast<TSaveField>(f));
        EXPECT_NE(FindField(QString::fromLatin1(name)), nullptr) << name;
    }
}
