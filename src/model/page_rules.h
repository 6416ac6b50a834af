#pragma once
// The pure rules of the parameter pages: which fields a selection enables or shows, the checks
// some edits run while the user types, and the few texts a page rewrites before it reads them.
// No widget here; the values themselves move between the pages and the settings through the
// field catalogue (model/fields.h).

#include "lan/save_plan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnix {

// --- Edits that check while typing. ---

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

// --- Texts a page rewrites before reading them. ---

// An edit left empty that stands for a default rather than a mistake: the short-connection time
// (3 s, the module's default), the time-out restart time (0, off) and the Z1 device ID (0).
// Null for every other field: an empty edit there is refused.
std::optional<std::string_view> EmptyEditDefault(std::string_view field);
// The module takes poll time-outs from 10 on: a number below 10 is raised to "10", which the
// page shows before it saves. Null when the text is no number or not below 10.
std::optional<std::string> RaisedPollTimeout(std::string_view text);
// The HTTPD header as it goes to the module, from the text a plain-text editor gives back (line
// breaks as LF only): every line break becomes CR LF, as HTTP wants.
std::string HttpdHeaderForModule(const std::string& text);
// Hex toggle of a data edit: checked turns the bytes into hex pairs; unchecked turns valid hex
// back into bytes and leaves anything else unchanged.
std::string ToggleHexText(const std::string& shown, bool nowHex);

// --- Selections that enable or show other fields. ---

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

// What the Modbus group shows for the kind of the module's Modbus reply (0: none, the group is
// hidden) and the state of its two boxes. Kind 1 carries only the Modbus TCP switch. A module
// that sent kind 4 or 7 is saved with kind 7, so both show the polling settings the same way:
// the abnormal-response box while Modbus TCP is on, the time-out and interval (and their range
// labels) while polling is on.
struct TModbusView {
    bool GroupShown = false, TcpShown = false, PollShown = false, AbnormalShown = false;
    bool PollSettingsShown = false; // time-out and interval edits, their labels and range labels
    bool operator==(const TModbusView&) const = default;
};
TModbusView ModbusRule(int kind, bool modbusTcpOn, bool pollOn);

} // namespace varnix
