#include "model/fields.h"

#include "model/field_pages.h"

#include "core/convert.h"
#include "lang/error_text.h"
#include "lang/safe_text.h"
#include "lang/text_codec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <cmath>

namespace varnix {

namespace {

using S = TModuleSettings;
using Getter = std::function<QJsonValue(const S&)>;
using Setter = std::function<void(S&, const QJsonValue&)>;

QJsonValue Num(std::int64_t v) {
    return QJsonValue(static_cast<double>(v));
}
// Values reach the setters only through ParseFieldText/ParseFieldJson, which keep numbers whole
// and far inside the 64-bit range; anything else (NaN, 1e300) reads as -1, which no field
// accepts, instead of being converted (a double outside the integer's range is undefined).
std::int64_t AsInt(const QJsonValue& v) {
    const double d = v.toDouble();
    return WholeNumberInRange(d) ? static_cast<std::int64_t>(d) : -1;
}
// Module texts go through the one byte/text conversion; plain ASCII is the same in every form it
// chooses, and is by far the common case, so it skips the converter set-up.
QString Wire(const std::string& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    return BytesToDisplay(bytes);
}
std::string TextBytes(const QString& text) {
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLatin1().toStdString();
    return DisplayToBytes(text);
}
std::string ToWire(const QJsonValue& v) {
    return TextBytes(v.toString());
}

// A value as an error gives it back: a string as it is, anything else as JSON ("70000", "true").
QString ValueText(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    const QByteArray json = QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}
// A refused value: "Field: why", with the field's name and the text as given.
TError Refused(const TFieldDef& f, const QString& text, const QString& why) {
    return FieldError(f.Name.toStdString(), text.toStdString(), why.toStdString());
}

// Bits of the heartbeat block's flags byte.
constexpr std::uint8_t HNet = 0x01, HSerial = 0x02, HRegConnect = 0x04, HRegWithData = 0x08,
                       HRemoveHeader = 0x10, HSerialSet = 0x20, HHeartHex = 0x40, HRegHex = 0x80;

bool HeartBit(const S& s, std::uint8_t bit) {
    return (s.Heart.Flags & bit) != 0;
}
void SetHeartBit(S& s, std::uint8_t bit, bool on) {
    s.Heart.Flags = static_cast<std::uint8_t>(on ? (s.Heart.Flags | bit) : (s.Heart.Flags & ~bit));
}

QJsonValue DataValue(const std::vector<std::uint8_t>& data, bool hex) {
    const std::string bytes(data.begin(), data.end());
    return hex ? QJsonValue(QString::fromStdString(TextToHex(bytes))) : QJsonValue(Wire(bytes));
}

// Whole hex pairs only (spaces between pairs allowed); nothing else.
std::optional<std::vector<std::uint8_t>> StrictHex(const QString& text) {
    QString t = text;
    t.remove(QLatin1Char(' '));
    if (t.size() % 2 != 0)
        return std::nullopt;
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]*$"));
    if (!hex.match(t).hasMatch())
        return std::nullopt;
    std::vector<std::uint8_t> out;
    for (qsizetype i = 0; i < t.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(t.mid(i, 2).toUInt(nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> DataFromValue(const QJsonValue& v, bool hex) {
    if (hex)
        return StrictHex(v.toString()).value_or(std::vector<std::uint8_t>{});
    const std::string bytes = ToWire(v);
    return {bytes.begin(), bytes.end()};
}

QString Normalized(QString s) {
    static const QRegularExpression separators(QStringLiteral("[\\s\\-_/]"));
    s = s.toLower();
    s.remove(separators);
    return s;
}

struct Builder {
    std::vector<TFieldDef> list;

    TFieldDef& add(const char* name, TFieldGroup g, TFieldKind k, unsigned shown, unsigned writable,
                   const char* help, Getter get, Setter set) {
        TFieldDef f;
        f.Name = QString::fromLatin1(name);
        f.Group = g;
        f.Kind = k;
        f.Shown = shown;
        f.Writable = writable;
        f.Help = QString::fromUtf8(help);
        f.Get = std::move(get);
        f.Set = std::move(set);
        list.push_back(std::move(f));
        return list.back();
    }
    TFieldDef& num(const char* name, TFieldGroup g, unsigned shown, unsigned writable, std::int64_t min,
                   std::int64_t max, const char* help, Getter get, Setter set) {
        TFieldDef& f = add(name, g, TFieldKind::Int, shown, writable, help, std::move(get), std::move(set));
        f.Min = min;
        f.Max = max;
        return f;
    }
    TFieldDef& text(const char* name, TFieldGroup g, unsigned shown, unsigned writable, std::int64_t maxBytes,
                    const char* help, Getter get, Setter set) {
        TFieldDef& f = add(name, g, TFieldKind::Text, shown, writable, help, std::move(get), std::move(set));
        f.Max = maxBytes;
        return f;
    }
    TFieldDef& choice(const char* name, TFieldGroup g, unsigned shown, unsigned writable,
                      std::vector<TEnumItem> items, const char* help, Getter get, Setter set) {
        TFieldDef& f = add(name, g, TFieldKind::Enum, shown, writable, help, std::move(get), std::move(set));
        f.Items = std::move(items);
        return f;
    }
    TFieldDef& flag(const char* name, TFieldGroup g, unsigned shown, unsigned writable, const char* help,
                    std::function<bool(const S&)> get, std::function<void(S&, bool)> set) {
        return add(
            name, g, TFieldKind::Bool, shown, writable, help,
            [get](const S& s) { return QJsonValue(get(s)); },
            [set](S& s, const QJsonValue& v) { set(s, v.toBool()); });
    }
    TFieldDef& ip(const char* name, unsigned shown, unsigned writable, const char* help,
                  std::string TBaseParam::*member) {
        return add(
            name, TFieldGroup::Base, TFieldKind::IPv4, shown, writable, help,
            [member](const S& s) { return QJsonValue(QString::fromStdString(s.Base.*member)); },
            [member](S& s, const QJsonValue& v) { s.Base.*member = v.toString().toStdString(); });
    }
};

TEnumItem Item(int value, std::initializer_list<const char*> names) {
    TEnumItem it;
    it.Value = value;
    for (const char* n : names)
        it.Names << QString::fromUtf8(n);
    return it;
}

std::vector<TFieldDef> BuildTable() {
    using G = TFieldGroup;
    Builder b;
    // --- Base block. ---
    b.choice(
        "AddrType", G::Base, FamBoth, FamBoth,
        {Item(0, {"DHCP", "DHCP/动态IP"}), Item(1, {"Static", "静态IP"})}, "address assignment",
        [](const S& s) { return Num(s.Base.AddrType); },
        [](S& s, const QJsonValue& v) { s.Base.AddrType = static_cast<int>(AsInt(v)); });
    b.ip("StaticIP", FamBoth, FamBoth, "the module's own address", &TBaseParam::StaticIP).Identity = true;
    b.ip("GatewayIP", FamBoth, FamBoth, "gateway", &TBaseParam::GatewayIP);
    b.ip("SubnetMask", FamBoth, FamBoth, "subnet mask", &TBaseParam::SubnetMask);
    b.ip("Dns", FamBoth, FamZ2, "DNS server (a Z3 save keeps the module's)", &TBaseParam::Dns);
    b.text(
         "ModName", G::Base, FamBoth, FamBoth, 16, "module name (a search shows its first 14 bytes)",
         [](const S& s) { return QJsonValue(Wire(s.Base.ModName)); },
         [](S& s, const QJsonValue& v) { s.Base.ModName = ToWire(v); })
        .Identity = true;
    b.text(
        "UserName", G::Base, FamBoth, FamBoth, 6, "log-in user name (takes effect after the restart)",
        [](const S& s) { return QJsonValue(Wire(s.Base.UserName)); },
        [](S& s, const QJsonValue& v) { s.Base.UserName = ToWire(v); });
    b.text(
        "Password", G::Base, FamBoth, FamBoth, 6, "log-in password (takes effect after the restart)",
        [](const S& s) { return QJsonValue(Wire(s.Base.Password)); },
        [](S& s, const QJsonValue& v) { s.Base.Password = ToWire(v); });
    b.add(
         "UserMAC", G::Base, TFieldKind::Mac, FamBoth, FamBoth, "the MAC the module answers under",
         [](const S& s) { return QJsonValue(QString::fromStdString(s.Base.UserMAC)); },
         [](S& s, const QJsonValue& v) { s.Base.UserMAC = v.toString().toStdString(); })
        .Identity = true;
    b.num(
        "LocationURLPort", G::Base, FamBoth, FamBoth, 0, 65535, "UPnP port",
        [](const S& s) { return Num(s.Base.LocationURLPort); },
        [](S& s, const QJsonValue& v) { s.Base.LocationURLPort = static_cast<int>(AsInt(v)); });
    b.num(
        "HTTPServerPort", G::Base, FamBoth, FamBoth, 0, 65535, "port of the module's web server",
        [](const S& s) { return Num(s.Base.HTTPServerPort); },
        [](S& s, const QJsonValue& v) { s.Base.HTTPServerPort = static_cast<int>(AsInt(v)); });
    b.flag(
        "ClearBuffer", G::Base, FamBoth, FamZ2, "clear buffered data (status bit 4)",
        [](const S& s) { return s.Base.ClearBuffer; }, [](S& s, bool v) { s.Base.ClearBuffer = v; });
    b.flag(
        "ShortConnEnable", G::Base, FamBoth, FamZ2, "short connections (status bit 5)",
        [](const S& s) { return s.Base.ShortConnEnable; }, [](S& s, bool v) { s.Base.ShortConnEnable = v; });
    b.num(
        "ShortConnTime", G::Base, FamBoth, FamZ2, 0, 255, "short-connection time",
        [](const S& s) { return Num(s.Base.ShortConnTime); },
        [](S& s, const QJsonValue& v) { s.Base.ShortConnTime = static_cast<int>(AsInt(v)); });
    const auto option = [&b](const char* name, int bit, const char* help) {
        b.flag(
            name, G::Base, FamZ2, FamZ2, help,
            [bit](const S& s) { return ((s.Base.OptionFlags >> bit) & 1) != 0; },
            [bit](S& s, bool v) {
                s.Base.OptionFlags =
                    v ? (s.Base.OptionFlags | (1 << bit)) : (s.Base.OptionFlags & ~(1 << bit));
            });
    };
    option("OptionReset", 4, "option bit 4: Reset");
    option("OptionLink", 5, "option bit 5: Link");
    option("OptionIndex", 6, "option bit 6: Index");
    option("OptionRFC2217", 7, "option bit 7: RFC2217");
    b.choice(
        "IdType", G::Base, FamZ3, FamZ3,
        {Item(0, {"None"}), Item(1, {"On connect"}), Item(2, {"With data"}), Item(3, {"Both"})},
        "device-ID type (base byte 52)", [](const S& s) { return Num(s.Base.OptionFlags); },
        [](S& s, const QJsonValue& v) { s.Base.OptionFlags = static_cast<int>(AsInt(v)); });
    b.num(
        "OptionFlags", G::Base, FamZ2, 0, 0, 255, "base byte 52 as received (set the Option* fields)",
        [](const S& s) { return Num(s.Base.OptionFlags); }, [](S&, const QJsonValue&) {});
    b.num(
        "StatusBit1", G::Base, FamBoth, 0, 0, 1, "status bit 1 (kept by a Z2 save)",
        [](const S& s) { return Num(s.Base.StatusBit1); }, [](S&, const QJsonValue&) {});
    b.num(
        "HeartTarget", G::Base, FamBoth, 0, 0, 1, "0 heartbeat to the server, 1 to the serial side (kept)",
        [](const S& s) { return Num(s.Base.HeartTarget); }, [](S&, const QJsonValue&) {});
    b.num(
        "RegSendMode", G::Base, FamBoth, 0, 0, 1,
        "0 registration once on connect, 1 before every packet (kept)",
        [](const S& s) { return Num(s.Base.RegSendMode); }, [](S&, const QJsonValue&) {});

    // --- Port block. ---
    b.num(
        "BaudRate", G::Port, FamBoth, FamBoth, 110, 4000000, "serial bits per second",
        [](const S& s) { return Num(s.Port.BaudRate); },
        [](S& s, const QJsonValue& v) { s.Port.BaudRate = static_cast<std::uint32_t>(AsInt(v)); });
    b.num(
        "DataBits", G::Port, FamBoth, FamBoth, 5, 8, "data bits",
        [](const S& s) { return Num(s.Port.DataBits); },
        [](S& s, const QJsonValue& v) { s.Port.DataBits = static_cast<int>(AsInt(v)); });
    b.choice(
        "Parity", G::Port, FamBoth, FamBoth,
        {Item(1, {"NONE"}), Item(2, {"ODD"}), Item(3, {"EVEN"}), Item(4, {"MARK"}), Item(5, {"SPACE"})},
        "parity", [](const S& s) { return Num(s.Port.Parity); },
        [](S& s, const QJsonValue& v) { s.Port.Parity = static_cast<int>(AsInt(v)); });
    b.num(
        "StopBits", G::Port, FamBoth, FamBoth, 1, 2, "stop bits",
        [](const S& s) { return Num(s.Port.StopBits); },
        [](S& s, const QJsonValue& v) { s.Port.StopBits = static_cast<int>(AsInt(v)); });
    b.choice(
        "FlowControl", G::Port, FamBoth, FamBoth,
        {Item(1, {"None"}), Item(3, {"Hardware"}), Item(5, {"RS485"})}, "flow control",
        [](const S& s) { return Num(s.Port.FlowControl); },
        [](S& s, const QJsonValue& v) { s.Port.FlowControl = static_cast<int>(AsInt(v)); });
    b.choice(
        "WorkMode", G::Port, FamBoth, FamBoth,
        {Item(0, {"UDP Client", "UDP"}), Item(1, {"TCP Client"}), Item(2, {"UDP Server"}),
         Item(3, {"TCP Server"}), Item(4, {"HTTPD Client"})},
        "work mode", [](const S& s) { return Num(s.Port.WorkMode); },
        [](S& s, const QJsonValue& v) { s.Port.WorkMode = static_cast<int>(AsInt(v)); });
    b.num(
        "LocalPort", G::Port, FamBoth, FamBoth, 1, 65535, "the module's own port",
        [](const S& s) { return Num(s.Port.LocalPort); },
        [](S& s, const QJsonValue& v) { s.Port.LocalPort = static_cast<int>(AsInt(v)); });
    b.text(
        "RemoteIP", G::Port, FamBoth, FamBoth, 30, "destination address or domain name",
        [](const S& s) { return QJsonValue(Wire(s.Port.RemoteIP)); },
        [](S& s, const QJsonValue& v) { s.Port.RemoteIP = ToWire(v); });
    b.num(
        "RemotePort", G::Port, FamBoth, FamBoth, 1, 65535, "destination port",
        [](const S& s) { return Num(s.Port.RemotePort); },
        [](S& s, const QJsonValue& v) { s.Port.RemotePort = static_cast<int>(AsInt(v)); });
    b.choice(
        "ModbusTCP", G::Port, FamBoth, FamBoth, {Item(0, {"None"}), Item(1, {"ModbusTCP"})},
        "Modbus TCP gateway (written only in the TCP Client and TCP Server work modes)",
        [](const S& s) { return Num(s.Port.ModbusTCP); },
        [](S& s, const QJsonValue& v) { s.Port.ModbusTCP = static_cast<int>(AsInt(v)); });
    b.flag(
        "BaudSync", G::Port, FamBoth, FamBoth, "baud-rate synchronisation (RFC 2217 style)",
        [](const S& s) { return s.Port.BaudSync != 0; }, [](S& s, bool v) { s.Port.BaudSync = v ? 1 : 0; });
    b.choice(
        "RegisterType", G::Port, FamZ2, FamZ2,
        {Item(0, {"None", "Off", "注册包关闭"}), Item(1, {"MAC", "MAC As Register", "MAC注册包"}),
         Item(2, {"Custom", "USER Register", "自定义注册包"}),
         Item(3, {"Cloud", "Enable VOR Cloud", "启用透传云"})},
        "registration packet type; sets CloudEnable, MacRegister and CustomRegister",
        [](const S& s) { return Num(s.RegisterType); },
        [](S& s, const QJsonValue& v) { s.RegisterType = static_cast<int>(AsInt(v)); });
    b.num(
        "CloudEnable", G::Port, FamBoth, 0, 0, 1, "transparent cloud (set RegisterType)",
        [](const S& s) { return Num(s.Port.CloudEnable); }, [](S&, const QJsonValue&) {});
    b.flag(
        "MacRegister", G::Port, FamBoth, 0, "MAC registration packet (set RegisterType)",
        [](const S& s) { return s.Port.MacRegister; }, [](S&, bool) {});
    b.flag(
        "CustomRegister", G::Port, FamZ2, 0, "user-defined registration packet (set RegisterType)",
        [](const S& s) { return s.Port.CustomRegister; }, [](S&, bool) {});
    b.flag(
        "KickOldConn", G::Port, FamBoth, FamZ2, "TCP server drops the old connection for a new one",
        [](const S& s) { return s.Port.KickOldConn; }, [](S& s, bool v) { s.Port.KickOldConn = v; });
    TFieldDef& count = b.num(
        "TCPSvrCount", G::Port, FamBoth, FamBoth, 1, 16, "TCP server connections",
        [](const S& s) { return Num(s.Port.TCPSvrCount); },
        [](S& s, const QJsonValue& v) { s.Port.TCPSvrCount = static_cast<int>(AsInt(v)); });
    count.MinZ3 = 1;
    count.MaxZ3 = 8;
    b.choice(
        "TCPStyle", G::Port, FamBoth, FamZ3,
        {Item(1, {"Transparent", "透明传输"}), Item(2, {"By ID, drop without ID", "按ID发送-无ID则丢弃"}),
         Item(3, {"By ID, broadcast without ID", "按ID发送-无ID则群发"})},
        "TCP server style (a Z2 save keeps the module's)", [](const S& s) { return Num(s.Port.TCPStyle); },
        [](S& s, const QJsonValue& v) { s.Port.TCPStyle = static_cast<int>(AsInt(v)); });
    b.num(
        "RestartTimeout", G::Port, FamZ2, FamZ2, 0, 65535, "time-out restart time, seconds",
        [](const S& s) { return Num(s.Port.RestartTimeout); },
        [](S& s, const QJsonValue& v) { s.Port.RestartTimeout = static_cast<int>(AsInt(v)); });
    b.choice(
        "HttpdMethod", G::Port, FamZ2, FamZ2, {Item(0, {"GET"}), Item(1, {"POST"})}, "HTTPD method",
        [](const S& s) { return Num(s.Port.HttpdMethod); },
        [](S& s, const QJsonValue& v) { s.Port.HttpdMethod = static_cast<int>(AsInt(v)); });
    b.num(
        "UARTLength", G::Port, FamZ3, FamZ3, 0, 1023, "serial packing length, bytes",
        [](const S& s) { return Num(s.Port.UARTLength); },
        [](S& s, const QJsonValue& v) { s.Port.UARTLength = static_cast<std::uint32_t>(AsInt(v)); });

    // --- Cloud block (sent with RegisterType 3). ---
    b.text(
        "DeviceNo", G::Cloud, FamZ2, FamZ2, 20, "cloud device number",
        [](const S& s) { return QJsonValue(Wire(s.Cloud.DeviceNo)); },
        [](S& s, const QJsonValue& v) { s.Cloud.DeviceNo = ToWire(v); });
    b.text(
        "CommPassword", G::Cloud, FamZ2, FamZ2, 8, "cloud communication password",
        [](const S& s) { return QJsonValue(Wire(s.Cloud.CommPassword)); },
        [](S& s, const QJsonValue& v) { s.Cloud.CommPassword = ToWire(v); });

    // --- Heartbeat and registration block (firmware above 4016). Hex switches come before
    // their data, so a data value given together with its switch is read the new way. ---
    b.choice(
        "HeartbeatType", G::Heart, FamZ2, FamZ2,
        {Item(0, {"None", "Off", "心跳包关闭"}), Item(1, {"Serial", "Uart Heartbeat", "串口心跳包"}),
         Item(2, {"Network", "Net Heartbeat", "网络心跳包"})},
        "heartbeat packet",
        [](const S& s) {
            return Num(HeartBit(s, HNet) ? 2 : HeartBit(s, HSerial) ? 1 : 0);
        },
        [](S& s, const QJsonValue& v) {
            SetHeartBit(s, HNet, AsInt(v) == 2);
            SetHeartBit(s, HSerial, AsInt(v) == 1);
        });
    b.num(
        "HeartbeatInterval", G::Heart, FamZ2, FamZ2, 0, 65535, "heartbeat time, seconds",
        [](const S& s) { return Num(s.Heart.Interval); },
        [](S& s, const QJsonValue& v) { s.Heart.Interval = static_cast<int>(AsInt(v)); });
    b.flag(
        "HeartbeatHex", G::Heart, FamZ2, FamZ2, "HeartbeatData is given as hex pairs",
        [](const S& s) { return HeartBit(s, HHeartHex); },
        [](S& s, bool v) { SetHeartBit(s, HHeartHex, v); });
    b.add(
         "HeartbeatData", G::Heart, TFieldKind::Data, FamZ2, FamZ2,
         "heartbeat packet (hex pairs when HeartbeatHex)",
         [](const S& s) { return DataValue(s.Heart.HeartData, HeartBit(s, HHeartHex)); },
         [](S& s, const QJsonValue& v) { s.Heart.HeartData = DataFromValue(v, HeartBit(s, HHeartHex)); })
        .Max = HeartDataMax;
    b.flag(
        "RegisterOnConnect", G::Heart, FamZ2, FamZ2, "send the registration packet when connecting",
        [](const S& s) { return HeartBit(s, HRegConnect); },
        [](S& s, bool v) { SetHeartBit(s, HRegConnect, v); });
    b.flag(
        "RegisterWithData", G::Heart, FamZ2, FamZ2, "carry the registration packet with data",
        [](const S& s) { return HeartBit(s, HRegWithData); },
        [](S& s, bool v) { SetHeartBit(s, HRegWithData, v); });
    b.flag(
        "RegisterHex", G::Heart, FamZ2, FamZ2, "RegisterData is given as hex pairs",
        [](const S& s) { return HeartBit(s, HRegHex); }, [](S& s, bool v) { SetHeartBit(s, HRegHex, v); });
    b.add(
         "RegisterData", G::Heart, TFieldKind::Data, FamZ2, FamZ2,
         "user-defined registration packet (hex pairs when RegisterHex)",
         [](const S& s) { return DataValue(s.Heart.RegData, HeartBit(s, HRegHex)); },
         [](S& s, const QJsonValue& v) { s.Heart.RegData = DataFromValue(v, HeartBit(s, HRegHex)); })
        .Max = HeartDataMax;
    b.flag(
        "RemoveHttpdHeader", G::Heart, FamZ2, FamZ2, "remove the HTTPD header",
        [](const S& s) { return HeartBit(s, HRemoveHeader); },
        [](S& s, bool v) { SetHeartBit(s, HRemoveHeader, v); });
    b.flag(
        "SerialSetParams", G::Heart, FamZ2, FamZ2, "serial set-parameters enabled",
        [](const S& s) { return HeartBit(s, HSerialSet); },
        [](S& s, bool v) { SetHeartBit(s, HSerialSet, v); });

    // --- HTTPD blocks (work mode HTTPD Client, firmware above 4016). ---
    b.text(
        "HttpdURL", G::Httpd, FamZ2, FamZ2, HttpdUrlMax, "HTTPD URL",
        [](const S& s) { return QJsonValue(Wire(s.HttpdUrl)); },
        [](S& s, const QJsonValue& v) { s.HttpdUrl = ToWire(v); });
    b.text(
        "HttpdHeader", G::Httpd, FamZ2, FamZ2, HttpdHeaderMax, "HTTPD header",
        [](const S& s) { return QJsonValue(Wire(s.HttpdHeader)); },
        [](S& s, const QJsonValue& v) { s.HttpdHeader = ToWire(v); });

    // --- Modbus block. ---
    b.flag(
        "ModbusTCPEnable", G::Modbus, FamZ2, FamZ2, "Modbus TCP on",
        [](const S& s) { return s.Modbus.ModbusTCPEnable == 1; },
        [](S& s, bool v) { s.Modbus.ModbusTCPEnable = v ? 1 : 0; });
    b.flag(
         "ModbusPoll", G::Modbus, FamZ2, FamZ2, "Modbus TCP polling on",
         [](const S& s) { return s.Modbus.PollEnable == 1; },
         [](S& s, bool v) { s.Modbus.PollEnable = v ? 1 : 0; })
        .MinModbusKind = 4;
    const auto decimal = [](const std::string& t) -> QJsonValue {
        bool ok = false;
        const int v = QString::fromStdString(t).toInt(&ok);
        return ok ? Num(v) : QJsonValue(QJsonValue::Null);
    };
    b.num(
         "ModbusPollTimeout", G::Modbus, FamZ2, FamZ2, 10, 9999, "poll time-out",
         [decimal](const S& s) { return decimal(s.Modbus.PollTimeout); },
         [](S& s, const QJsonValue& v) { s.Modbus.PollTimeout = std::to_string(AsInt(v)); })
        .MinModbusKind = 4;
    // A 4-byte Modbus reply carries neither of the next two; a save sends them (kind 7), so
    // they are shown as not reported until given.
    b.add(
         "ModbusAbnormalResponse", G::Modbus, TFieldKind::Bool, FamZ2, FamZ2, "Modbus abnormal response on",
         [](const S& s) {
             // Reported together with the poll interval (kind 7 only).
             if (s.ModbusKind == 4 && s.Modbus.PollInterval.empty())
                 return QJsonValue(QJsonValue::Null);
             return QJsonValue(s.Modbus.AbnormalResponse == 1);
         },
         [](S& s, const QJsonValue& v) { s.Modbus.AbnormalResponse = v.toBool() ? 1 : 0; })
        .MinModbusKind = 4;
    b.num(
         "ModbusPollInterval", G::Modbus, FamZ2, FamZ2, 0, 9999, "poll interval",
         [decimal](const S& s) { return decimal(s.Modbus.PollInterval); },
         [](S& s, const QJsonValue& v) { s.Modbus.PollInterval = std::to_string(AsInt(v)); })
        .MinModbusKind = 4;
    return std::move(b.list);
}

bool GroupPresent(TFieldGroup g, const S& s) {
    switch (g) {
    case TFieldGroup::Base:
    case TFieldGroup::Port:
        return true;
    case TFieldGroup::Cloud:
        return s.HasCloud;
    case TFieldGroup::Heart:
        return s.HasHeart;
    case TFieldGroup::Httpd:
        return s.HasHttpd;
    case TFieldGroup::Modbus:
        return s.ModbusKind != 0;
    }
    return false;
}

std::pair<std::int64_t, std::int64_t> Range(const TFieldDef& f, unsigned families) {
    if (families == FamZ3 && f.MaxZ3 >= 0)
        return {f.MinZ3, f.MaxZ3};
    if (families == FamBoth && f.MaxZ3 >= 0)
        return {std::min(f.Min, f.MinZ3), std::max(f.Max, f.MaxZ3)};
    return {f.Min, f.Max};
}

int EditDistance(const QString& a, const QString& b) {
    std::vector<int> prev(static_cast<std::size_t>(b.size()) + 1), cur(prev.size());
    for (std::size_t j = 0; j < prev.size(); ++j)
        prev[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        cur[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int sub = prev[static_cast<std::size_t>(j - 1)] + (a[i - 1] == b[j - 1] ? 0 : 1);
            cur[static_cast<std::size_t>(j)] = std::min(
                {prev[static_cast<std::size_t>(j)] + 1, cur[static_cast<std::size_t>(j - 1)] + 1, sub});
        }
        std::swap(prev, cur);
    }
    return prev.back();
}

} // namespace

const std::vector<TFieldDef>& FieldTable() {
    static const std::vector<TFieldDef> table = [] {
        std::vector<TFieldDef> t = BuildTable();
        SetPageControls(t);
        return t;
    }();
    return table;
}

const TFieldDef* FindField(const QString& name) {
    for (const TFieldDef& f : FieldTable())
        if (f.Name.compare(name, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

QStringList SimilarFieldNames(const QString& name) {
    std::vector<std::pair<int, QString>> scored;
    const QString low = name.toLower();
    if (low.size() > 40)
        return {}; // no near miss of a field name, and not worth the edit distance
    for (const TFieldDef& f : FieldTable()) {
        const QString fl = f.Name.toLower();
        int d = EditDistance(low, fl);
        if (!low.isEmpty() && (fl.contains(low) || low.contains(fl)))
            d = std::min(d, 1);
        if (d <= std::max<int>(2, static_cast<int>(low.size()) / 3))
            scored.emplace_back(d, f.Name);
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QStringList out;
    for (std::size_t i = 0; i < scored.size() && i < 3; ++i)
        out << scored[i].second;
    return out;
}

QString GroupName(TFieldGroup g) {
    switch (g) {
    case TFieldGroup::Base:
        return QStringLiteral("base");
    case TFieldGroup::Port:
        return QStringLiteral("port");
    case TFieldGroup::Cloud:
        return QStringLiteral("cloud");
    case TFieldGroup::Heart:
        return QStringLiteral("heartbeat");
    case TFieldGroup::Httpd:
        return QStringLiteral("httpd");
    case TFieldGroup::Modbus:
        return QStringLiteral("modbus");
    }
    return {};
}

QString FamiliesText(unsigned families) {
    switch (families) {
    case FamZ2:
        return QStringLiteral("Z2");
    case FamZ3:
        return QStringLiteral("Z3");
    case FamBoth:
        return QStringLiteral("Z2/Z3");
    default:
        return QStringLiteral("-");
    }
}

unsigned FamilyBit(std::int32_t family) {
    return family == FamilyZ2 ? FamZ2 : family == FamilyZ3 ? FamZ3 : 0;
}

bool FieldShown(const TFieldDef& f, const TModuleSettings& s) {
    if ((f.Shown & FamilyBit(s.Family)) == 0 || !GroupPresent(f.Group, s))
        return false;
    return f.Group != TFieldGroup::Modbus || s.ModbusKind >= f.MinModbusKind;
}

bool FieldWritable(const TFieldDef& f, const TModuleSettings& s) {
    return (f.Writable & FamilyBit(s.Family)) != 0 && FieldShown(f, s);
}

QString RangeText(const TFieldDef& f, unsigned families) {
    switch (f.Kind) {
    case TFieldKind::Int: {
        auto [lo, hi] = Range(f, families);
        QString t = QStringLiteral("%1..%2").arg(lo).arg(hi);
        if (families == FamBoth && f.MaxZ3 >= 0)
            t = QStringLiteral("Z2 %1..%2, Z3 %3..%4").arg(f.Min).arg(f.Max).arg(f.MinZ3).arg(f.MaxZ3);
        return t;
    }
    case TFieldKind::Enum: {
        QStringList parts;
        for (const TEnumItem& it : f.Items)
            parts << QStringLiteral("%1=%2").arg(it.Value).arg(it.Names.front());
        return parts.join(QStringLiteral(", "));
    }
    case TFieldKind::Bool:
        return QStringLiteral("0|1");
    case TFieldKind::IPv4:
        return QStringLiteral("a.b.c.d");
    case TFieldKind::Mac:
        return QStringLiteral("12 hex digits");
    case TFieldKind::Text:
        return QStringLiteral("text, at most %1 bytes").arg(f.Max);
    case TFieldKind::Data:
        return QStringLiteral("text or hex, at most %1 bytes").arg(f.Max);
    }
    return {};
}

TResult<QJsonValue> ParseFieldText(const TFieldDef& f, const QString& raw) {
    const QString text = f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data ? raw : raw.trimmed();
    const auto fail = [&f, &raw](const QString& message) { return Refused(f, raw, message); };
    switch (f.Kind) {
    case TFieldKind::Int: {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
        if (!digits.match(text).hasMatch())
            return fail(QStringLiteral("'%1' is not a whole number").arg(text));
        return Num(text.toLongLong());
    }
    case TFieldKind::Enum: {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
        if (digits.match(text).hasMatch())
            return Num(text.toInt());
        const QString n = Normalized(text);
        for (const TEnumItem& it : f.Items)
            for (const QString& name : it.Names)
                if (Normalized(name) == n)
                    return Num(it.Value);
        return fail(QStringLiteral("'%1' is not one of %2").arg(text, RangeText(f)));
    }
    case TFieldKind::Bool: {
        const QString t = text.toLower();
        if (t == QLatin1String("1") || t == QLatin1String("true") || t == QLatin1String("yes") ||
            t == QLatin1String("on"))
            return QJsonValue(true);
        if (t == QLatin1String("0") || t == QLatin1String("false") || t == QLatin1String("no") ||
            t == QLatin1String("off"))
            return QJsonValue(false);
        return fail(QStringLiteral("'%1' is not 0 or 1").arg(text));
    }
    case TFieldKind::IPv4: {
        // Latin-1 would turn a character outside it into '?', never into a digit or a dot.
        const std::optional<std::uint32_t> ip = ParseIPv4Text(text.toLatin1().toStdString());
        if (!ip)
            return fail(QStringLiteral("'%1' is not an IPv4 address a.b.c.d (each part 0-255)").arg(text));
        return QJsonValue(QString::fromStdString(IntToIPText(*ip)));
    }
    case TFieldKind::Mac: {
        static const QRegularExpression separators(QStringLiteral("[\\s:\\-]"));
        QString hex = text;
        hex.remove(separators);
        static const QRegularExpression twelve(QStringLiteral("^[0-9A-Fa-f]{12}$"));
        if (!twelve.match(hex).hasMatch())
            return fail(QStringLiteral("'%1' is not a MAC address (12 hex digits)").arg(text));
        hex = hex.toUpper();
        QStringList pairs;
        for (int i = 0; i < 12; i += 2)
            pairs << hex.mid(i, 2);
        return QJsonValue(pairs.join(QLatin1Char(' ')));
    }
    case TFieldKind::Text:
    case TFieldKind::Data:
        if (text.contains(QChar(0)))
            return fail(QStringLiteral("the text holds a NUL character"));
        return QJsonValue(text);
    }
    return fail(QStringLiteral("unknown field kind"));
}

bool WholeNumberInRange(double d) {
    // Every field's values fit in 0..2^32; 2^53 keeps every whole double exact. The test is
    // written so that NaN fails it, and it runs before any conversion to an integer.
    return d >= 0 && d <= 9007199254740992.0 && std::floor(d) == d;
}

TResult<QJsonValue> ParseFieldJson(const TFieldDef& f, const QJsonValue& v) {
    if (v.isString())
        return ParseFieldText(f, v.toString());
    if (v.isBool()) {
        if (f.Kind == TFieldKind::Bool)
            return v;
        if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum)
            return Num(v.toBool() ? 1 : 0);
    }
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (WholeNumberInRange(d)) {
            if (f.Kind == TFieldKind::Int || f.Kind == TFieldKind::Enum)
                return v;
            if (f.Kind == TFieldKind::Bool && (d == 0 || d == 1))
                return QJsonValue(d == 1);
            if (f.Kind == TFieldKind::Text || f.Kind == TFieldKind::Data)
                return QJsonValue(QString::number(static_cast<std::int64_t>(d)));
        }
    }
    if (v.isDouble() && !WholeNumberInRange(v.toDouble()))
        return Refused(
            f, ValueText(v),
            QStringLiteral("a JSON value of the wrong type: %1 is not a whole number from 0 to 2^53")
                .arg(v.toDouble()));
    return Refused(f, ValueText(v), QStringLiteral("a JSON value of the wrong type"));
}

TStatus CheckRange(const TFieldDef& f, const QJsonValue& v, unsigned families) {
    const auto fail = [&f, &v](const QString& message) -> TStatus {
        return Refused(f, ValueText(v), message);
    };
    switch (f.Kind) {
    case TFieldKind::Int: {
        auto [lo, hi] = Range(f, families);
        const std::int64_t n = AsInt(v);
        if (n < lo || n > hi)
            return fail(QStringLiteral("%1 is outside %2..%3").arg(n).arg(lo).arg(hi));
        return {};
    }
    case TFieldKind::Enum: {
        const std::int64_t n = AsInt(v);
        for (const TEnumItem& it : f.Items)
            if (it.Value == n)
                return {};
        return fail(QStringLiteral("%1 is not one of %2").arg(n).arg(RangeText(f)));
    }
    case TFieldKind::Text: {
        // Commands carry the log-in without spaces, so a stored name with one could never log in.
        if ((f.Name == QLatin1String("UserName") || f.Name == QLatin1String("Password")) &&
            v.toString().contains(QLatin1Char(' ')))
            return fail(QStringLiteral("a log-in text cannot hold spaces"));
        const std::size_t n = TextBytes(v.toString()).size();
        if (static_cast<std::int64_t>(n) > f.Max)
            return fail(QStringLiteral("%1 bytes, at most %2 fit").arg(n).arg(f.Max));
        return {};
    }
    default:
        return {};
    }
}

bool DataIsHex(const TFieldDef& f, const TModuleSettings& s) {
    return HeartBit(s, f.Name == QLatin1String("HeartbeatData") ? HHeartHex : HRegHex);
}

TStatus CheckDataValue(const TFieldDef& f, const QJsonValue& v, bool hex) {
    std::size_t n = 0;
    if (hex) {
        const auto bytes = StrictHex(v.toString());
        if (!bytes)
            return Refused(f, v.toString(),
                           QStringLiteral("'%1' is not hex pairs (the Hex switch is on)").arg(v.toString()));
        n = bytes->size();
    } else {
        n = TextBytes(v.toString()).size();
    }
    if (static_cast<std::int64_t>(n) > f.Max)
        return Refused(f, v.toString(), QStringLiteral("%1 bytes, at most %2 fit").arg(n).arg(f.Max));
    return {};
}

QString DisplayValue(const TFieldDef& f, const QJsonValue& v) {
    if (v.isNull() || v.isUndefined())
        return QStringLiteral("(not reported)");
    switch (f.Kind) {
    case TFieldKind::Int:
        return QString::number(AsInt(v));
    case TFieldKind::Enum: {
        const std::int64_t n = AsInt(v);
        for (const TEnumItem& it : f.Items)
            if (it.Value == n)
                return QStringLiteral("%1 (%2)").arg(n).arg(it.Names.front());
        return QString::number(n);
    }
    case TFieldKind::Bool:
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    // Texts come from modules and files: escaped, so a value is one line and plain characters.
    default:
        return EscapeForTerminal(v.toString());
    }
}

TResult<TAssignment> ParseAssignment(const QString& text) {
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return TError{"", text.toStdString(),
                      QStringLiteral("'%1' is not NAME=VALUE").arg(text).toStdString()};
    const QString name = text.left(eq).trimmed();
    const TFieldDef* f = FindField(name);
    if (!f) {
        QString message = QStringLiteral("unknown field '%1'").arg(name);
        const QStringList near = SimilarFieldNames(name);
        if (!near.isEmpty())
            message += QStringLiteral(" (did you mean %1?)").arg(near.join(QStringLiteral(", ")));
        message += QStringLiteral("; 'varnix-cli fields' lists them");
        return TError{"", name.toStdString(), message.toStdString()};
    }
    const QString valueText = text.mid(eq + 1);
    if (f->Writable == 0)
        return Refused(*f, valueText, QStringLiteral("read-only (%1)").arg(f->Help));
    const TResult<QJsonValue> value = ParseFieldText(*f, valueText);
    if (!value)
        return value.Error();
    if (const TStatus range = CheckRange(*f, *value, FamBoth); !range)
        return TError{range.Error().Field, valueText.toStdString(), range.Error().Message};
    return TAssignment{f, *value};
}

QStringList ApplyAssignments(TModuleSettings& s, const QList<TAssignment>& list) {
    QStringList errors;
    const unsigned fam = FamilyBit(s.Family);
    for (const TFieldDef& f : FieldTable()) {
        for (const TAssignment& a : list) {
            if (a.Field != &f)
                continue;
            const QJsonValue current = FieldShown(f, s) ? f.Get(s) : QJsonValue(QJsonValue::Undefined);
            if (current == a.Value)
                continue; // unchanged: passes whatever its range
            if (!FieldWritable(f, s)) {
                QString why;
                if ((f.Writable & fam) == 0)
                    why = (f.Shown & fam)
                              ? QStringLiteral("a %1 save does not write it").arg(FamiliesText(fam))
                              : QStringLiteral("%1 modules have no such field").arg(FamiliesText(fam));
                else if (f.Group == TFieldGroup::Modbus && s.ModbusKind != 0)
                    why = QStringLiteral("the module's Modbus reply (kind %1) has no polling settings")
                              .arg(s.ModbusKind);
                else
                    why =
                        QStringLiteral("the module sent no %1 settings in the read").arg(GroupName(f.Group));
                errors << QStringLiteral("%1: cannot be set: %2").arg(f.Name, why);
                continue;
            }
            TStatus ok = CheckRange(f, a.Value, fam);
            if (ok && f.Kind == TFieldKind::Data)
                ok = CheckDataValue(f, a.Value, DataIsHex(f, s));
            if (!ok) {
                errors << ErrorMessage(ok.Error());
                continue;
            }
            f.Set(s, a.Value);
        }
    }
    return errors;
}

QList<TFieldChange> DiffSettings(const TModuleSettings& a, const TModuleSettings& b) {
    QList<TFieldChange> out;
    for (const TFieldDef& f : FieldTable()) {
        const bool inA = FieldShown(f, a), inB = FieldShown(f, b);
        if (!inA && !inB)
            continue;
        const QJsonValue va = inA ? f.Get(a) : QJsonValue(QJsonValue::Null);
        const QJsonValue vb = inB ? f.Get(b) : QJsonValue(QJsonValue::Null);
        if (va != vb)
            out.push_back(TFieldChange{&f, va, vb});
    }
    return out;
}

} // namespace varnix
