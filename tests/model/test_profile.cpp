#include "model/profile.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace varnix;
using namespace varnix;

namespace {

TModuleSettings Module(std::int32_t family) {
    TModuleSettings s;
    s.Family = family;
    s.Firmware = 4017;
    s.Base.AddrType = 1;
    s.Base.StaticIP = "10.0.0.5";
    s.Base.GatewayIP = "10.0.0.1";
    s.Base.SubnetMask = "255.255.255.0";
    s.Base.Dns = "10.0.0.1";
    s.Base.ModName = "Master";
    s.Base.UserName = "vesta";
    s.Base.Password = "vesta";
    s.Base.UserMAC = "00 1A 2B 3C 4D 5E";
    s.Port.BaudRate = 38400;
    s.Port.DataBits = 8;
    s.Port.Parity = 3;
    s.Port.StopBits = 1;
    s.Port.FlowControl = 1;
    s.Port.LocalPort = 8234;
    s.Port.RemotePort = 7001;
    s.Port.RemoteIP = "server.example";
    s.Port.WorkMode = 1;
    s.Port.TCPSvrCount = 4;
    s.Port.TCPStyle = 1;
    if (family == FamilyZ2) {
        s.HasHeart = true;
        s.Heart.Flags = 0x41;
        s.Heart.Interval = 45;
        s.Heart.HeartData = {0x01, 0xFE};
        s.ModbusKind = 7;
        s.Modbus.PollTimeout = "200";
        s.Modbus.PollInterval = "1000";
    }
    return s;
}

} // namespace

TEST(CliProfile, WrittenProfileAppliesToTheSameValues) {
    const TModuleSettings master = Module(FamilyZ2);
    const QByteArray data =
        WriteProfile(master, {QStringLiteral("00 1A 2B 3C 4D 5E"), QStringLiteral("10.0.0.5"), {}});
    QStringList errors;
    const auto profile = ReadProfile(data, &errors);
    ASSERT_TRUE(profile) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(profile->Family, FamilyZ2);

    TModuleSettings target = Module(FamilyZ2);
    target.Base.StaticIP = "10.0.0.9";
    target.Base.ModName = "Unit";
    target.Base.UserMAC = "02 00 00 00 00 01";
    target.Port.BaudRate = 115200;
    target.Heart.HeartData = {'x'};
    target.Heart.Flags = 0x01;
    const TProfileApplication a = SelectForModule(*profile, target, false);
    EXPECT_TRUE(ApplyAssignments(target, a.Applied).isEmpty());
    EXPECT_EQ(target.Port.BaudRate, 38400u);
    EXPECT_EQ(target.Heart.HeartData, master.Heart.HeartData); // hex data after its Hex switch
    // Identity stays; the rest now equals the master.
    EXPECT_EQ(target.Base.StaticIP, "10.0.0.9");
    EXPECT_EQ(target.Base.ModName, "Unit");
    EXPECT_EQ(target.Base.UserMAC, "02 00 00 00 00 01");
    EXPECT_EQ(a.Skipped.size(), 3);
    target.Base.StaticIP = master.Base.StaticIP;
    target.Base.ModName = master.Base.ModName;
    target.Base.UserMAC = master.Base.UserMAC;
    EXPECT_EQ(target, master);

    TModuleSettings withIdentity = Module(FamilyZ2);
    withIdentity.Base.ModName = "Unit";
    const TProfileApplication b = SelectForModule(*profile, withIdentity, true);
    EXPECT_TRUE(b.Skipped.isEmpty());
    EXPECT_EQ(b.Applied.size(), a.Applied.size() + 3);
}

TEST(CliProfile, FieldsAModuleCannotTakeAreSkippedWithTheReason) {
    const QByteArray data = WriteProfile(Module(FamilyZ2), {});
    QStringList errors;
    const auto profile = ReadProfile(data, &errors);
    ASSERT_TRUE(profile);
    const TProfileApplication z3 = SelectForModule(*profile, Module(FamilyZ3), false);
    const QString skipped = z3.Skipped.join(QLatin1Char('\n'));
    EXPECT_TRUE(skipped.contains(QStringLiteral("Dns: a Z3 save does not write it")));
    EXPECT_TRUE(skipped.contains(QStringLiteral("HeartbeatInterval")));
    TModuleSettings noModbus = Module(FamilyZ2);
    noModbus.ModbusKind = 0;
    EXPECT_TRUE(SelectForModule(*profile, noModbus, false)
                    .Skipped.join(QLatin1Char('\n'))
                    .contains(QStringLiteral("ModbusPollTimeout: the module sent no modbus settings")));
}

TEST(CliProfile, BadProfilesAreRefusedWithEveryProblem) {
    struct Case {
        const char* json;
        const char* inErrors;
    } cases[] = {
        {"{", "not valid JSON"},
        {"[1]", "JSON object"},
        {R"({"format":"other","version":1,"fields":{}})", "\"format\""},
        {R"({"format":"varnix-profile","version":2,"fields":{}})", "\"version\""},
        {R"({"format":"varnix-profile","version":1})", "\"fields\""},
        {R"({"format":"varnix-profile","version":1,"fields":{"BaudRat":9600}})", "did you mean BaudRate"},
        {R"({"format":"varnix-profile","version":1,"fields":{"StaticIP":12}})", "StaticIP"},
        {R"({"format":"varnix-profile","version":1,"fields":{"BaudRate":"fast"}})", "BaudRate"},
        {R"({"format":"varnix-profile","version":1,"fields":{"BaudRate":1.5}})", "wrong type"},
        {R"({"format":"varnix-profile","version":1,"fields":{"MacRegister":true}})", "read-only"},
        // Numbers far outside any field are refused before anything converts them to an
        // integer (the sanitizer build stops on such a conversion); NaN is not JSON at all.
        {R"({"format":"varnix-profile","version":1,"fields":{"BaudRate":1e300}})",
         "1e+300 is not a whole number"},
        {R"({"format":"varnix-profile","version":1,"fields":{"LocalPort":-1e300}})",
         "LocalPort: a JSON value"},
        {R"({"format":"varnix-profile","version":1,"fields":{"ModName":1e300}})", "ModName: a JSON value"},
        {R"({"format":"varnix-profile","version":1,"fields":{"BaudRate":NaN}})", "not valid JSON"},
        {R"({"format":"varnix-profile","version":1e300,"fields":{}})", "\"version\""},
    };
    for (const Case& c : cases) {
        QStringList errors;
        EXPECT_FALSE(ReadProfile(QByteArray(c.json), &errors)) << c.json;
        EXPECT_TRUE(errors.join(QLatin1Char('\n')).contains(QString::fromUtf8(c.inErrors)))
            << c.json << " -> " << errors.join(QLatin1Char('\n')).toStdString();
    }
    // Item names and 0/1 switches are accepted as well as numbers and booleans.
    QStringList errors;
    const auto p = ReadProfile(
        QByteArray(
            R"({"format":"varnix-profile","version":1,"fields":{"WorkMode":"TCP Server","BaudSync":1}})"),
        &errors);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Assignments[0].Value.isBool() ? p->Assignments[1].Value : p->Assignments[0].Value,
              QJsonValue(3));
}
