#include "model/field_table.h"

#include "model/field_codec.h"

#include <functional>

namespace varnix {

using namespace fieldcodec;

namespace {

using S = TModuleSettings;
using Getter = std::function<QJsonValue(const S&)>;
using Setter = std::function<void(S&, const QJsonValue&)>;

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

} // namespace

std::vector<TFieldDef> BuildFieldTable() {
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

} // namespace varnix
