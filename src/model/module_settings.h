#pragma once
// Everything a read told us about one module, in the form the parameter pages hold it: the
// decoded base and port records plus the extra Z2 blocks the module sent. Set, profile apply and
// provisioning change these values and hand them to the same save plans the pages use.

#include "core/block_store.h"
#include "core/records.h"
#include "core/types.h"
#include "lan/save_plan.h"

#include <cstdint>
#include <string>

namespace varnix {

// Which parameter replies a read brought back.
struct TReceivedBlocks {
    bool Params = false; // 130 bytes: base and port block
    bool Cloud = false;  // 50 bytes
    bool Heart = false;  // 85 bytes
    bool Httpd = false;  // 302 bytes
    int ModbusKind = 0;  // 1, 4 or 7; 0 = no Modbus reply
    TModbusParam Modbus; // as decoded from the Modbus reply
};

struct TModuleSettings {
    std::int32_t Family = FamilyZ2;
    int Firmware = 0;
    TBaseParam Base;
    // For Z3 modules UARTLength, TCPSvrCount and TCPStyle hold the Z3 layout of port bytes 52-58.
    TPortParam Port;
    // Z2 registration type as the page's selector derives it from the socket flags:
    // 0 off, 1 MAC registration, 2 user-defined registration, 3 transparent cloud.
    int RegisterType = 0;

    bool HasCloud = false;
    TCloudParam Cloud;
    bool HasHeart = false;
    THeartParam Heart; // Flags bit 0 network / bit 1 serial heartbeat; data as bytes
    bool HasHttpd = false;
    std::string HttpdUrl;
    std::string HttpdHeader;
    int ModbusKind = 0; // kind of the module's Modbus reply (0: none)
    TModbusParam Modbus;

    bool operator==(const TModuleSettings&) const = default;
};

// Registration type from the port record: off, then cloud, MAC, user-defined (the last one set wins).
int RegisterTypeFromPort(const TPortParam& port);

// Decodes what the read left in `store`. Blocks not received keep their default values and are
// marked absent.
TModuleSettings DecodeModuleSettings(std::int32_t family, int firmware, const TBlockStore& store,
                                     const TReceivedBlocks& got);

// The Modbus block a Z2 save sends: none without a Modbus reply, kind 7 when the module sent
// polling settings (kind 4 or 7), else kind 1.
int ModbusSaveKind(const TModuleSettings& s);

// Inputs of the page save plans built from the settings.
TZ2SaveInput MakeZ2SaveInput(const TModuleSettings& s);
TZ3SaveInput MakeZ3SaveInput(const TModuleSettings& s);

// What a module will hold after a save of `planned` blocks: the store after planning, decoded as
// a read would, with the blocks that are sent. Used to show side effects and to verify.
TModuleSettings SettingsAfterPlan(const TModuleSettings& before, const TBlockStore& plannedStore);

} // namespace varnix
