#pragma once
// Modules as a read decodes them, for the page tests: a Z2 module that sent every block and a Z3
// module, and a second value of every field a page shows (to type over the first).

#include "model/module_settings.h"

namespace varnix::pagetest {

inline TModuleSettings Z2Module() {
    TModuleSettings s;
    s.Family = FamilyZ2;
    s.Firmware = 4017;
    TBaseParam& b = s.Base;
    b.AddrType = 1;
    b.StaticIP = "10.77.0.50";
    b.GatewayIP = "10.77.0.1";
    b.SubnetMask = "255.255.255.0";
    b.Dns = "8.8.8.8";
    b.ModName = "Line-1";
    b.UserName = "vesta";
    b.Password = "vesta";
    b.UserMAC = "00 1A 2B 3C 4D 5E";
    b.LocationURLPort = 1900;
    b.HTTPServerPort = 80;
    b.ShortConnTime = 3;
    b.OptionFlags = 0xA0; // Link and RFC2217
    b.RegSendMode = 1;
    TPortParam& p = s.Port;
    p.BaudRate = 115200;
    p.DataBits = 8;
    p.Parity = 1;
    p.StopBits = 1;
    p.FlowControl = 1;
    p.WorkMode = 3;
    p.LocalPort = 8234;
    p.RemoteIP = "192.168.0.1";
    p.RemotePort = 8235;
    p.BaudSync = 1;
    p.TCPSvrCount = 4;
    p.TCPStyle = 1;
    p.RestartTimeout = 300;
    p.MacRegister = true;
    s.RegisterType = 1;
    s.HasCloud = true;
    s.Cloud = {"001A2B3C4D5E", "12345678"};
    s.HasHeart = true;
    s.Heart.Flags = 0x05; // network heartbeat, registration on connect
    s.Heart.Interval = 30;
    s.Heart.HeartData = {'h', 'e', 'a', 'r', 't'};
    s.Heart.RegData = {'r', 'e', 'g'};
    s.HasHttpd = true;
    s.HttpdUrl = "/data";
    s.HttpdHeader = "Content-Type: text/plain\r\nX-Id: 7\r\n";
    s.ModbusKind = 7;
    s.Modbus = {0, 1, "200", 0, "1000"};
    return s;
}

// Every field the Z2 page shows with another value than Z2Module's.
inline TModuleSettings Z2ModuleTyped() {
    TModuleSettings s = Z2Module();
    TBaseParam& b = s.Base;
    b.AddrType = 0;
    b.StaticIP = "172.16.5.9";
    b.GatewayIP = "172.16.5.254";
    b.SubnetMask = "255.255.0.0";
    b.Dns = "1.1.1.1";
    b.ModName = "Hall-2";
    b.UserName = "admin";
    b.Password = "s3cr";
    b.UserMAC = "02 00 00 AA BB CC";
    b.LocationURLPort = 1901;
    b.HTTPServerPort = 8080;
    b.ClearBuffer = true;
    b.ShortConnEnable = true;
    b.ShortConnTime = 9;
    b.OptionFlags = 0x50; // Reset and Index
    TPortParam& p = s.Port;
    p.BaudRate = 250000; // no item: the custom slot
    p.DataBits = 7;
    p.Parity = 3;
    p.StopBits = 2;
    p.FlowControl = 5;
    p.WorkMode = 4;
    p.LocalPort = 9001;
    p.RemoteIP = "server.example";
    p.RemotePort = 9002;
    p.ModbusTCP = 1;
    p.BaudSync = 0;
    p.KickOldConn = true;
    p.TCPSvrCount = 12;
    p.RestartTimeout = 60;
    p.HttpdMethod = 1;
    s.RegisterType = 2;
    s.Cloud = {"98765432109876543210", "pw"};
    s.Heart.Flags = 0xFA; // serial heartbeat, both registration sends, both hex switches, ...
    s.Heart.Interval = 45;
    s.Heart.HeartData = {0x00, 0xFF, 0x10};
    s.Heart.RegData = {0xAB};
    s.HttpdUrl = "/post";
    s.HttpdHeader = "X-A: 1\r\nX-B: 2";
    s.Modbus = {1, 0, "300", 1, "50"};
    return s;
}

inline TModuleSettings Z3Module() {
    TModuleSettings s;
    s.Family = FamilyZ3;
    s.Firmware = 4017;
    TBaseParam& b = s.Base;
    b.AddrType = 1;
    b.StaticIP = "192.168.0.60";
    b.GatewayIP = "192.168.0.1";
    b.SubnetMask = "255.255.255.0";
    b.Dns = "192.168.0.1";
    b.ModName = "Z3-1";
    b.UserName = "vesta";
    b.Password = "vesta";
    b.UserMAC = "00 1A 2B 3C 4D 60";
    b.LocationURLPort = 1900;
    b.HTTPServerPort = 80;
    b.OptionFlags = 1;
    TPortParam& p = s.Port;
    p.BaudRate = 9600;
    p.DataBits = 8;
    p.Parity = 1;
    p.StopBits = 1;
    p.FlowControl = 1;
    p.WorkMode = 1;
    p.LocalPort = 5555;
    p.RemoteIP = "192.168.0.131";
    p.RemotePort = 5556;
    p.BaudSync = 1;
    p.UARTLength = 200;
    p.TCPSvrCount = 8;
    p.TCPStyle = 1;
    return s;
}

// Every field the Z3 page shows with another value than Z3Module's.
inline TModuleSettings Z3ModuleTyped() {
    TModuleSettings s = Z3Module();
    TBaseParam& b = s.Base;
    b.AddrType = 0;
    b.StaticIP = "10.0.0.61";
    b.GatewayIP = "10.0.0.254";
    b.SubnetMask = "255.0.0.0";
    b.ModName = "Z3-Hall";
    b.UserName = "root";
    b.Password = "pw12";
    b.UserMAC = "02 00 00 00 00 61";
    b.LocationURLPort = 1902;
    b.HTTPServerPort = 81;
    b.OptionFlags = 3;
    TPortParam& p = s.Port;
    p.BaudRate = 1024000;
    p.DataBits = 6;
    p.Parity = 5;
    p.StopBits = 2;
    p.FlowControl = 3;
    p.WorkMode = 3;
    p.LocalPort = 6000;
    p.RemoteIP = "10.0.0.200";
    p.RemotePort = 6001;
    p.ModbusTCP = 1;
    p.BaudSync = 0;
    p.UARTLength = 1023;
    p.TCPSvrCount = 5;
    p.TCPStyle = 3;
    return s;
}

} // namespace varnix::pagetest
