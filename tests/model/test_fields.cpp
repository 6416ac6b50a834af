#include "model/field_pages.h"
#include "model/fields.h"
#include "model/z1_fields.h"

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix;

namespace {

const TFieldDef& F(const char* name) {
    const TFieldDef* f = FindField(QString::fromLatin1(name));
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

TModuleSettings Z2Module() {
    TModuleSettings s;
    s.Family = FamilyZ2;
    s.Firmware = 4017;
    s.Base.StaticIP = "10.0.0.5";
    s.Base.UserMAC = "00 1A 2B 3C 4D 5E";
    s.Base.ModName = "Line-1";
    s.Port.LocalPort = 0; // out of range as a module may report it
    s.Port.TCPSvrCount = 4;
    s.Port.WorkMode = 3;
    s.HasHeart = true;
    s.Heart.Interval = 30;
    s.Heart.HeartData = {'h', 'i'};
    return s;
}

} // namespace

TEST(CliFields, ParsesTypedValues) {
    struct Case {
        const char* field;
        const char* text;
        QJsonValue expected; // Undefined: refused
    } cases[] = {
        {"BaudRate", "115200", QJsonValue(115200)},
        {"BaudRate", " 9600 ", QJsonValue(9600)},
        {"BaudRate", "9600.5", QJsonValue(QJsonValue::Undefined)},
        {"BaudRate", "-1", QJsonValue(QJsonValue::Undefined)},
        {"WorkMode", "TCP Server", QJsonValue(3)},
        {"WorkMode", "tcp-server", QJsonValue(3)},
        {"WorkMode", "UDP", QJsonValue(0)},
        {"WorkMode", "4", QJsonValue(4)},
        {"WorkMode", "Server", QJsonValue(QJsonValue::Undefined)},
        {"Parity", "EVEN", QJsonValue(3)},
        {"Parity", "even", QJsonValue(3)},
        {"FlowControl", "RS485", QJsonValue(5)},
        {"RegisterType", "启用透传云", QJsonValue(3)},
        {"AddrType", "DHCP", QJsonValue(0)},
        {"BaudSync", "yes", QJsonValue(true)},
        {"BaudSync", "0", QJsonValue(false)},
        {"BaudSync", "2", QJsonValue(QJsonValue::Undefined)},
        {"StaticIP", "192.168.000.7", QJsonValue(QStringLiteral("192.168.0.7"))},
        {"StaticIP", "192.168.0.256", QJsonValue(QJsonValue::Undefined)},
        {"StaticIP", "192.168.0", QJsonValue(QJsonValue::Undefined)},
        {"StaticIP", "1.2.3.4.5", QJsonValue(QJsonValue::Undefined)},
        {"UserMAC", "00:1a:2b:3c:4d:5e", QJsonValue(QStringLiteral("00 1A 2B 3C 4D 5E"))},
        {"UserMAC", "001A2B3C4D5E", QJsonValue(QStringLiteral("00 1A 2B 3C 4D 5E"))},
        {"UserMAC", "00-1A-2B-3C-4D", QJsonValue(QJsonValue::Undefined)},
        {"UserMAC", "00 1A 2B 3C 4D 5G", QJsonValue(QJsonValue::Undefined)},
        {"RemoteIP", " host.example ", QJsonValue(QStringLiteral(" host.example "))},
    };
    for (const Case& c : cases) {
        const TResult<QJsonValue> v = ParseFieldText(F(c.field), QString::fromUtf8(c.text));
        if (!c.expected.isUndefined()) {
            EXPECT_TRUE(v && *v == c.expected) << c.field << "=" << c.text;
            continue;
        }
        // A refusal names the field and the text as given; the reason alone is what "bad MAC: ..."
        // and "--broadcast: ..." print after their own name.
        ASSERT_FALSE(v) << c.field << "=" << c.text;
        EXPECT_EQ(v.Error().Field, c.field);
        EXPECT_EQ(v.Error().Text, c.text);
        EXPECT_EQ(v.Error().Message, std::string(c.field) + ": " + ErrorReason(v.Error()));
    }
    EXPECT_EQ(ErrorReason(ParseFieldText(F("UserMAC"), QStringLiteral(" 00-1A ")).Error()),
              "'00-1A' is not a MAC address (12 hex digits)");
}

TEST(CliFields, AssignmentsNameTheProblem) {
    // The messages are the lines varnix-cli prints: a refused value as "Field: why".
    struct Case {
        const char* text;
        const char* inMessage;  // nullptr: accepted
        const char* field = ""; // the error's field (empty when no known field was named)
        const char* value = ""; // the error's text
    } cases[] = {
        {"LocalPort=8000", nullptr},
        {"localport=8000", nullptr}, // names are case-insensitive
        {"LocalPort=0", "LocalPort: 0 is outside 1..65535", "LocalPort", "0"},
        {"LocalPort= 65536", "LocalPort: 65536 is outside 1..65535", "LocalPort", " 65536"},
        {"TCPSvrCount=12", nullptr}, // fits Z2; a Z3 module narrows it later
        {"TCPSvrCount=17", "TCPSvrCount: 17 is outside 1..16", "TCPSvrCount", "17"},
        {"BaudRate=96OO", "BaudRate: '96OO' is not a whole number", "BaudRate", "96OO"},
        {"BaudSync=2", "BaudSync: '2' is not 0 or 1", "BaudSync", "2"},
        {"StaticIP=10.0.0", "StaticIP: '10.0.0' is not an IPv4 address a.b.c.d (each part 0-255)", "StaticIP",
         "10.0.0"},
        {"ModName=0123456789abcdef", nullptr},
        {"ModName=0123456789abcdefg", "ModName: 17 bytes, at most 16 fit", "ModName", "0123456789abcdefg"},
        {"UserName=ab cd", "UserName: a log-in text cannot hold spaces", "UserName", "ab cd"},
        {"BaudRat=9600", "unknown field 'BaudRat' (did you mean BaudRate", "", "BaudRat"},
        {"CloudEnable=1", "CloudEnable: read-only (", "CloudEnable", "1"},
        {"NoEquals", "'NoEquals' is not NAME=VALUE", "", "NoEquals"},
        {"=5", "'=5' is not NAME=VALUE", "", "=5"},
    };
    for (const Case& c : cases) {
        const TResult<TAssignment> a = ParseAssignment(QString::fromUtf8(c.text));
        if (!c.inMessage) {
            EXPECT_TRUE(a) << c.text << ": " << (a ? "" : a.Error().Message);
            continue;
        }
        ASSERT_FALSE(a) << c.text;
        EXPECT_EQ(a.Error().Message.find(c.inMessage), 0u) << c.text << ": " << a.Error().Message;
        EXPECT_EQ(a.Error().Field, c.field) << c.text;
        EXPECT_EQ(a.Error().Text, c.value) << c.text;
    }
    EXPECT_TRUE(ParseAssignment(QStringLiteral("BaudRat=1"))
                    .Error()
                    .Message.ends_with("; 'varnix-cli fields' lists them"));
}

TEST(CliFields, ApplyChecksFamilyBlocksAndRanges) {
    const auto assign = [](const char* text) {
        TResult<TAssignment> a = ParseAssignment(QString::fromUtf8(text));
        EXPECT_TRUE(a) << text << (a ? "" : a.Error().Message);
        return *a;
    };
    TModuleSettings z2 = Z2Module();
    EXPECT_TRUE(ApplyAssignments(z2, {assign("TCPSvrCount=12"), assign("Dns=10.0.0.1")}).isEmpty());
    EXPECT_EQ(z2.Port.TCPSvrCount, 12);
    EXPECT_EQ(z2.Base.Dns, "10.0.0.1");

    TModuleSettings z3 = Z2Module();
    z3.Family = FamilyZ3;
    const QStringList errors =
        ApplyAssignments(z3, {assign("TCPSvrCount=12"), assign("Dns=10.0.0.1"), assign("HeartbeatInterval=5"),
                              assign("UARTLength=100")});
    ASSERT_EQ(errors.size(), 3) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors[0].contains(QStringLiteral("a Z3 save does not write it"))); // Dns
    EXPECT_TRUE(errors[1].contains(QStringLiteral("1..8")));                        // TCPSvrCount
    EXPECT_TRUE(errors[2].contains(QStringLiteral("no such field")));               // heartbeat on Z3
    EXPECT_EQ(z3.Port.UARTLength, 100u);
    EXPECT_EQ(z3.Port.TCPSvrCount, 4);

    TModuleSettings bare = Z2Module();
    bare.HasHeart = false;
    const QStringList e2 = ApplyAssignments(bare, {assign("HeartbeatInterval=5")});
    ASSERT_EQ(e2.size(), 1);
    EXPECT_TRUE(e2[0].contains(QStringLiteral("sent no heartbeat settings")));
}

TEST(CliFields, ValueEqualToTheModulesOwnPassesItsRange) {
    // A profile carries LocalPort 0 from a module that reports it; applying it to a module with
    // the same value changes nothing and is no error. Another value still must be in range.
    TModuleSettings s = Z2Module();
    const TFieldDef& port = F("LocalPort");
    EXPECT_TRUE(ApplyAssignments(s, {TAssignment{&port, QJsonValue(0)}}).isEmpty());
    s.Port.LocalPort = 8000;
    EXPECT_EQ(ApplyAssignments(s, {TAssignment{&port, QJsonValue(0)}}).size(), 1);
    EXPECT_EQ(s.Port.LocalPort, 8000);
}

TEST(CliFields, HexSwitchIsAppliedBeforeItsData) {
    TModuleSettings s = Z2Module();
    // Given in "wrong" order on purpose: the table order applies HeartbeatHex first.
    const auto data = ParseAssignment(QStringLiteral("HeartbeatData=41 42 43"));
    const auto hex = ParseAssignment(QStringLiteral("HeartbeatHex=1"));
    ASSERT_TRUE(data && hex);
    EXPECT_TRUE(ApplyAssignments(s, {*data, *hex}).isEmpty());
    EXPECT_EQ(s.Heart.HeartData, (std::vector<std::uint8_t>{'A', 'B', 'C'}));
    EXPECT_EQ(F("HeartbeatData").Get(s), QJsonValue(QStringLiteral("414243")));

    // Switching only the Hex flag keeps the bytes; the shown form changes.
    TModuleSettings t = Z2Module();
    EXPECT_TRUE(ApplyAssignments(t, {*hex}).isEmpty());
    EXPECT_EQ(t.Heart.HeartData, (std::vector<std::uint8_t>{'h', 'i'}));
    EXPECT_EQ(F("HeartbeatData").Get(t), QJsonValue(QStringLiteral("6869")));

    const auto bad = ParseAssignment(QStringLiteral("HeartbeatData=4G"));
    ASSERT_TRUE(bad);
    EXPECT_EQ(ApplyAssignments(t, {*bad}),
              QStringList{QStringLiteral("HeartbeatData: '4G' is not hex pairs (the Hex switch is on)")});
    const auto tooLong = ParseAssignment(QStringLiteral("HeartbeatData=") + QString(82, QLatin1Char('A')));
    ASSERT_TRUE(tooLong);
    EXPECT_EQ(ApplyAssignments(t, {*tooLong}),
              QStringList{QStringLiteral("HeartbeatData: 41 bytes, at most 40 fit")});
}

TEST(CliFields, DiffListsChangedFieldsInTableOrder) {
    TModuleSettings a = Z2Module(), b = Z2Module();
    b.Port.WorkMode = 1;
    b.Base.ModName = "Other";
    const auto d = DiffSettings(a, b);
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d[0].Field->Name, QStringLiteral("ModName"));
    EXPECT_EQ(d[1].Field->Name, QStringLiteral("WorkMode"));
    EXPECT_EQ(DisplayValue(*d[1].Field, d[1].New), QStringLiteral("1 (TCP Client)"));
}

TEST(CliFields, EveryWritableFieldRoundTripsThroughGetAndSet) {
    // Set(Get(x)) leaves the settings unchanged, and a parsed value of each kind lands.
    TModuleSettings s = Z2Module();
    s.HasCloud = s.HasHttpd = true;
    s.ModbusKind = 7;
    s.Modbus.PollTimeout = "200";
    s.Modbus.PollInterval = "1000";
    for (const TFieldDef& f : FieldTable()) {
        if (!FieldWritable(f, s))
            continue;
        TModuleSettings copy = s;
        f.Set(copy, f.Get(s));
        EXPECT_EQ(copy, s) << f.Name.toStdString();
    }
}

TEST(CliFields, PageControlsBelongToFieldsTheirPageShows) {
    // Every entry of the pages' table names a field, and a page holds only fields its family
    // shows (a control of a field the family never reports would never be filled).
    int withControl = 0;
    for (const TFieldDef& f : FieldTable()) {
        if (f.Z2Control.isEmpty() && f.Z3Control.isEmpty())
            continue;
        ++withControl;
        if (!f.Z2Control.isEmpty()) {
            EXPECT_TRUE(f.Shown & FamZ2) << f.Name.toStdString();
        }
        if (!f.Z3Control.isEmpty()) {
            EXPECT_TRUE(f.Shown & FamZ3) << f.Name.toStdString();
        }
    }
    EXPECT_EQ(withControl, PageControlEntries());
    for (const TZ1Field& f : Z1FieldTable())
        EXPECT_FALSE(f.Control.isEmpty()) << f.Def.Name.toStdString();
}
