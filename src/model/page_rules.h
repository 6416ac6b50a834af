#pragma once
// The parameter pages as plain data: the values their controls hold (texts as bytes, selections
// as item indexes, check boxes as booleans), the rules that decide which fields are enabled or
// shown, and the conversion between those values and the parameter records. No widget here: each
// page copies its controls into its form struct and back in one place, everything else is tested
// on its own and is what the save paths and the command-line tool work with.

#include "core/blocks.h"
#include "core/records.h"
#include "lan/save_plan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnix {

// A page value that does not convert: Field is the name of the control that holds it.
struct TPageError {
    std::string Field;
    std::string Text;
    bool operator==(const TPageError&) const = default;
};

// --- Shared rules. ---

// The custom-rate answer of the baud input box: a positive integer that fits the port block.
std::optional<std::uint32_t> ParseCustomBaud(std::string_view answer);
// Port edits: a text that is not empty and is no port number (0, above 65535, or not a number at
// all, as after pasting letters) is cleared on key release.
bool PortTextShouldClear(std::string_view text);
// Poll time-out while typing: cleared when it has more than one character and lies outside
// 10..9999 (a single digit is left alone, the user is still typing).
bool PollTimeoutShouldClear(std::string_view text);
// Poll interval while typing: cleared when it is not empty and lies outside 0..9999.
bool PollIntervalShouldClear(std::string_view text);

// Address-type selector: item 0 (DHCP) disables the address fields.
inline bool AddrFieldsEnabled(int addrTypeIndex) {
    return addrTypeIndex != 0;
}
// Z1 work modes 0 and 1 (UDP, TCP Client) use the destination address and port.
inline bool Z1DestinationEnabled(int workMode) {
    return workMode < 2;
}

// Which port fields a work mode (0 UDP Client, 1 TCP Client, 2 UDP Server, 3 TCP Server,
// 4 HTTPD Client) uses; the same for the Z2 and the Z3 page, the last three only on the Z2 page.
struct TWorkModeView {
    bool ModbusTCPEnabled = false; // Modbus TCP gateway only over TCP (1, 3)
    bool TCPServerEnabled = false; // connection count and style (3)
    bool RemoteIPEnabled = true;   // a TCP server has no destination (3)
    bool GetPostEnabled = false;   // HTTPD method (4)
    bool HttpdGroupShown = false;  // HTTPD group: mode 4 while the LAN tab is active
    bool DataDebugShown = true;    // data debugging: every mode but 4
    bool operator==(const TWorkModeView&) const = default;
};
TWorkModeView WorkModeRule(int workMode, bool lanTabActive);

// Registration type (0 off, 1 MAC, 2 user-defined, 3 transparent cloud).
struct TRegTypeView {
    bool CloudShown = false;      // device number and password (3)
    bool RegOptionsShown = false; // registration direction and the two send boxes (1, 2)
    bool RegDataShown = false;    // user-defined data and its Hex box (2)
    bool operator==(const TRegTypeView&) const = default;
};
TRegTypeView RegTypeRule(int regType);
// Heartbeat type (0 off, 1 serial, 2 network): interval and data only when on.
inline bool HeartFieldsShown(int heartType) {
    return heartType != 0;
}

// --- Z1 page. ---
struct TZ1Form {
    int WorkModeIndex = 0;
    std::string ModuleIP, Mask, Gateway;
    std::string BaudText;
    int ParityIndex = 0, DataIndex = 3, StopIndex = 0;
    std::string ModulePort, DeIP, DePort, ID;
    std::array<bool, 8> Options{}; // ID on connect, ID with data, RS485, RS422, Reset, Link, Index, RFC2217
    bool operator==(const TZ1Form&) const = default;
};
// Fills the form from a decoded Z1 body (numbers as decimal texts).
void ShowZ1OnForm(const TZ1Params& values, TZ1Form& form);
// Reads the form; an empty ID is first set to "0" in the form. Fails on the first numeric text or
// address that does not convert, in page order.
std::optional<TPageError> ReadZ1Form(TZ1Form& form, TZ1Params& out);

// --- Z2 page: base and port groups (and the selectors of the extended groups that feed them). ---
struct TZ2Form {
    // base block
    int AddrTypeIndex = 1;
    std::string LocationURLPort, HTTPServerPort, StaticIP, GatewayIP, SubnetMask, ModName, UserName, Password;
    std::array<bool, 4> OptionBits{}; // Reset, Link, Index, RFC2217 = option bits 4..7
    std::string UserMAC, Dns;
    std::string ShortConnTime;
    bool ShortConnEnable = false, ClearBuffer = false;
    int HeartTargetIndex = 0, RegSendIndex = 0; // shown only; the status bits are kept
    // port block
    std::string BaudText;
    int ParityIndex = 0, DataIndex = 3, StopIndex = 0, FlowIndex = 0;
    std::string LocalPort, RemotePort;
    int WorkModeIndex = 0, ModbusTCPIndex = 0;
    std::string RemoteIP, UARTLength;
    bool BaudSync = true;
    int TCPSvrCountIndex = 3, TCPStyleIndex = 0;
    bool KickOldConn = false;
    std::string RestartTimeout;
    int RegTypeIndex = 0; // registration selector: 1 MAC, 2 user-defined, 3 cloud
    int GetPostIndex = 0;
    bool operator==(const TZ2Form&) const = default;
};
// What a parameter reply changes on the page. The port part is applied only for exactly one
// element; a value outside a list's range (a flow-control code other than 1, 3, 5, a parity
// code of 9) leaves that selection as it was.
void ShowZ2OnForm(const TBaseParam& base, const TarrComParam& ports, TZ2Form& form);
// Reads the base or the port half; fails on the first numeric text that does not convert.
std::optional<TPageError> ReadZ2BaseForm(const TZ2Form& form, TBaseParam& base);
std::optional<TPageError> ReadZ2PortForm(const TZ2Form& form, TPortParam& port);

// --- Z2 extended groups. ---
struct TZ2ExtForm {
    bool RegConnTo = false, RegDataWith = false;
    std::string RegData; // as shown: hex pairs when RegDataHex, else the bytes
    bool RegDataHex = false;
    std::string DeviceNo = "11111111111111111110", CommPassword;
    std::string HttpdUrl, HttpdHeader;
    bool RemoveHttpdHeader = false;
    bool ComSetEnable = false;
    int HeartTypeIndex = 0;
    std::string HeartTime;
    std::string HeartData; // as shown: hex pairs when HeartDataHex
    bool HeartDataHex = false;
    bool ModbusTcp = false, ModbusPoll = false, AbnormalResponse = false;
    std::string WaitTime, PollInterval;
    bool operator==(const TZ2ExtForm&) const = default;
};
void ShowCloudOnForm(const TarrCloudParam& cloud, TZ2ExtForm& form);
void ShowHeartOnForm(const THeartParam& heart, TZ2ExtForm& form);
TCloudParam ReadCloudForm(const TZ2ExtForm& form);
THeartInput ReadHeartForm(const TZ2ExtForm& form);
TModbusParam ReadModbusForm(const TZ2ExtForm& form);

// Which Modbus controls a Modbus reply shows (the group itself is always shown).
struct TModbusView {
    bool TcpShown = false, PollShown = false, AbnormalShown = false;
    bool WaitTimeShown = false; // time-out label and edit
    bool RangesShown = false;   // the range labels and the poll interval label and edit
    bool operator==(const TModbusView&) const = default;
};
// Applies a Modbus reply of kind 1, 4 or 7 to the form and returns what to show; the caller keeps
// the visibility of what the result does not mention as it is (kinds 1 and 4 set less).
TModbusView ShowModbusOnForm(const TModbusParam& values, int kind, TZ2ExtForm& form);

// Hex toggle of a data edit: checked turns the bytes into hex pairs; unchecked turns valid hex
// back into bytes and leaves anything else unchanged.
std::string ToggleHexText(const std::string& shown, bool nowHex);

// The HTTPD header as it goes to the module, from the text a plain-text editor gives back (line
// breaks as LF only): every line break becomes CR LF, as HTTP wants. `shownBytes` is what the
// editor gave back right after it was filled with the module's `moduleBytes`; while the text is
// still that, the module's bytes go back unchanged, byte for byte.
std::string HttpdHeaderForModule(const std::string& text, const std::string& shownBytes,
                                 const std::string& moduleBytes);

// --- Z3 page. ---
struct TZ3Form {
    int AddrTypeIndex = 1;
    std::string LocationURLPort, HTTPServerPort, StaticIP, GatewayIP, SubnetMask, ModName, UserName, Password;
    std::string IdType, UserMAC;
    std::string BaudText;
    int ParityIndex = 0, DataIndex = 3, StopIndex = 0, FlowIndex = 0;
    std::string LocalPort, RemotePort, RemoteIP;
    int ModbusTCPIndex = 0;
    bool BaudSync = true;
    int WorkModeIndex = 1;
    std::string UARTLength;
    int TCPSvrCountIndex = 7, TCPStyleIndex = 0;
    bool operator==(const TZ3Form&) const = default;
};
// Read in page order; fail on the first numeric text that does not convert.
std::optional<TPageError> ReadZ3BaseForm(const TZ3Form& form, TBaseParam& base);
std::optional<TPageError> ReadZ3PortForm(const TZ3Form& form, TPortParam& port);

// The page control that holds a record field a save plan failed on.
std::string Z2ControlOfSaveField(TSaveField field);
std::string Z3ControlOfSaveField(TSaveField field);

} // namespace varnix
