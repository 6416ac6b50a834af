#pragma once
// A Z2 module that sent every block, for the cli fuzz targets to apply values to.
#include "core/blocks.h"
#include "model/module_settings.h"

namespace varnix::cli::fuzz {

inline void FullModule(TModuleSettings& s, TBlockStore& store) {
    TBaseParam base;
    base.AddrType = 1;
    base.StaticIP = "10.0.0.5";
    base.GatewayIP = "10.0.0.1";
    base.SubnetMask = "255.255.255.0";
    base.Dns = "10.0.0.1";
    base.ModName = "Line-1";
    base.UserMAC = "00 1A 2B 3C 4D 5E";
    TPortParam port;
    port.BaudRate = 115200;
    port.DataBits = 8;
    port.Parity = 1;
    port.StopBits = 1;
    port.FlowControl = 1;
    port.LocalPort = 8234;
    port.RemotePort = 8234;
    port.WorkMode = 4;
    port.TCPSvrCount = 4;
    EncodeBaseBlock(FamilyZ2, base, store.Base(), 0);
    EncodePortBlock(FamilyZ2, port, store.Port(), 0);
    TReceivedBlocks got;
    got.Params = got.Cloud = got.Heart = got.Httpd = true;
    got.ModbusKind = 7;
    got.Modbus = TModbusParam{1, 1, "200", 0, "1000"};
    s = DecodeModuleSettings(FamilyZ2, 4017, store, got);
}

} // namespace varnix::cli::fuzz
