#pragma once
// Save sequences of the LAN link as plans: a pure function encodes the page's records into the
// block store and returns the ordered datagrams (code, destination port, payload, pause)
// without sending anything. A save job of the engine sends a plan.
//
// A plan is all or nothing: when any value cannot be converted (an address text, the heartbeat
// interval, the Modbus poll time-out or interval) planning fails with an error naming the field,
// the block store is left exactly as it was and nothing is to be sent.

#include "core/block_store.h"
#include "core/records.h"
#include "core/types.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnix {

struct TSaveStep {
    std::uint8_t Code = 0;
    std::uint16_t Port = 0; // PortZ2 or PortZ3
    TIdBytes Payload;       // empty for a plain command (22-byte datagram)
    int PauseAfterMs = 0;   // the wait after sending this step
    bool operator==(const TSaveStep&) const = default;
};

// Pause between the datagrams of a save.
inline constexpr int SavePauseMs = 500;

// Heartbeat and registration inputs of the Z2 page.
struct THeartInput {
    std::uint8_t Flags = 0;   // bit 0 net heartbeat ... bit 7 registration data is hex
    std::string IntervalText; // seconds, decimal text as typed
    std::string HeartText;    // data as typed (hex pairs when HeartIsHex)
    bool HeartIsHex = false;
    std::string RegText;
    bool RegIsHex = false;
};

// What decides which blocks a Z2 save includes.
struct TZ2SaveConditions {
    int RegistrationIndex = 0;       // registration type selector; 3 = transparent cloud
    int WorkModeIndex = 0;           // 4 = HTTPD Client
    bool ModbusGroupVisible = false; // the module answered a read with Modbus settings
    bool PollingVisible = false;     // kind 7 (with polling) instead of kind 1
};

// Highest firmware number that knows neither the heartbeat nor the HTTPD blocks.
inline constexpr int HeartFirmwareAbove = 4016;

struct TZ2SaveInput {
    TBaseParam Base;
    TPortParam Port;
    TCloudParam Cloud;
    THeartInput Heart;
    std::string HttpdUrl;    // at most 100 bytes (a longer one refuses the save)
    std::string HttpdHeader; // at most 200 bytes (a longer one refuses the save)
    TModbusParam Modbus;     // PollTimeout / PollInterval as typed
    int Firmware = 0;        // the selected row's firmware number (0 when not a number)
    TZ2SaveConditions Conditions;
};

struct TZ3SaveInput {
    TBaseParam Base;
    TPortParam Port;
};

// The fields a save can fail on (named in the error).
enum class TSaveField {
    StaticIP,
    GatewayIP,
    SubnetMask,
    UserMAC,
    Dns,
    HeartInterval,
    PollTimeout,
    PollInterval,
    // Texts that do not fit their field in bytes (they are never cut).
    ModName,
    UserName,
    Password,
    RemoteIP,
    DeviceNo,
    CommPassword,
    HeartbeatData,
    RegisterData,
    HttpdURL,
    HttpdHeader
};
// The field's catalogue name, as the cli and the profiles name it: "StaticIP", ...,
// "HeartbeatInterval", "ModbusPollTimeout", "ModbusPollInterval", "ModName", ...
const char* SaveFieldName(TSaveField field);

struct TSaveError {
    TSaveField Field = TSaveField::StaticIP;
    std::string Text;    // the text that is not a valid value
    std::string Message; // English, e.g. "ModbusPollTimeout: 'abc' is not a valid value",
                         // "ModName: 28 bytes, at most 16 fit"
};

struct TSavePlan {
    bool Ok = false;
    std::vector<TSaveStep> Steps;
    TSaveError Error; // when !Ok
    // Set when a kind-7 poll time-out below 10 was raised to 10: the page shows this text.
    std::optional<std::string> CorrectedPollTimeout;
};

// Z2 save: base (05) and port (06), each followed by 500 ms; then cloud (0C) when the registration selector
// shows transparent cloud; heartbeat (21) when the firmware is above 4016; HTTPD URL (22) and header (23) in
// HTTPD Client mode with such firmware; each followed by 500 ms; Modbus (24, kind 7 when polling is visible,
// else kind 1, no pause) when the Modbus group is visible; finally restart (02). Every step goes to one
// module.
TSavePlan PlanZ2Save(const TZ2SaveInput& input, TBlockStore& store);

// Z3 save: base (05) and port (06) with the Z3 encoders, each followed by 500 ms, then the end of
// the save (04), all at PortZ3.
TSavePlan PlanZ3Save(const TZ3SaveInput& input, TBlockStore& store);

// The part of the block store a write step's payload is encoded in and sent from: the base or
// port block, the cloud or heartbeat block, the HTTPD URL or header block. Empty for a plain
// command, and for a Modbus write, which is built from the page's values rather than kept in the
// store in the form it is sent.
std::span<std::uint8_t> WrittenBlock(TBlockStore& store, std::uint8_t code);

} // namespace varnix
