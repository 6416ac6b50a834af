#pragma once
// The parameter records shared by both links and every page.

#include <cstdint>
#include <string>
#include <vector>

namespace varnix {

// Base network settings of a Z2/Z3 module (base block, 67 bytes).
struct TBaseParam {
    int StatusBit1 = 0;      // bit 1 of status byte 3; shown nowhere
    int AddrType = 0;        // 1 static IP, 0 DHCP (bit 7)
    int HeartTarget = 0;     // 0 heartbeat to the server, 1 to the serial terminal (bit 0)
    int RegSendMode = 0;     // 0 registration once on connect, 1 in front of every packet (bit 2)
    int LocationURLPort = 0; // UPnP port
    int HTTPServerPort = 0;  // module's web server port
    std::string StaticIP;
    std::string GatewayIP;
    std::string SubnetMask;
    std::string ModName;          // up to 16 characters
    std::string UserName;         // up to 6 characters
    std::string Password;         // up to 6 characters
    int OptionFlags = 0;          // byte 52 as received (Z2 option bits, Z3 device-ID type)
    bool ClearBuffer = false;     // bit 4
    bool ShortConnEnable = false; // bit 5
    std::string UserMAC;          // MAC text of bytes 53-58
    std::string Dns;
    int ShortConnTime = 0; // byte 63
    bool operator==(const TBaseParam&) const = default;
};

// Serial port and socket settings of a Z2/Z3 module (port block, 63 bytes).
struct TPortParam {
    std::uint32_t BaudRate = 0;
    int DataBits = 0;    // 5..8
    int Parity = 0;      // 1 NONE, 2 ODD, 3 EVEN, 4 MARK, 5 SPACE
    int StopBits = 0;    // 1 or 2
    int FlowControl = 0; // 1 none, 3 hardware, 5 RS485
    int LocalPort = 0;
    int RemotePort = 0;
    std::string RemoteIP;         // address or domain, up to 30 characters
    int ModbusTCP = 0;            // Modbus TCP gateway selected
    int BaudSync = 0;             // baud-rate synchronisation (RFC 2217 style)
    int CloudEnable = 0;          // transparent cloud in use
    int WorkMode = 0;             // 0 UDP Client, 1 TCP Client, 2 UDP Server, 3 TCP Server, 4 HTTPD Client
    std::uint32_t UARTLength = 0; // serial packing length (encoded for Z3 only; never decoded)
    int TCPSvrCount = 0;
    int RestartTimeout = 0; // seconds
    int TCPStyle = 0;       // 1 transparent, 2 by ID / drop, 3 by ID / broadcast
    int HttpdMethod = 0;    // 0 GET, 1 POST
    bool MacRegister = false;
    bool KickOldConn = false;
    bool CustomRegister = false;
    bool operator==(const TPortParam&) const = default;
};
// Always produced with exactly one element; a consumer that finds another length ignores it.
using TarrComParam = std::vector<TPortParam>;

struct TCloudParam {
    std::string DeviceNo;     // up to 20 characters
    std::string CommPassword; // up to 8 characters
    bool operator==(const TCloudParam&) const = default;
};
using TarrCloudParam = std::vector<TCloudParam>;

struct TModbusParam {
    std::uint8_t ModbusTCPEnable = 0;
    std::uint8_t PollEnable = 0;
    std::string PollTimeout; // decimal text
    std::uint8_t AbnormalResponse = 0;
    std::string PollInterval; // decimal text
    bool operator==(const TModbusParam&) const = default;
};

// Heartbeat and registration settings (85-byte block), decoded with every length clamped to
// the 40-byte data fields.
struct THeartParam {
    std::uint8_t Flags = 0;              // bit 0 net heartbeat, 1 serial heartbeat, 2 reg on connect,
                                         // 3 reg with data, 4 remove HTTPD header, 5 serial set-params,
                                         // 6 heartbeat data is hex, 7 registration data is hex
    int Interval = 0;                    // seconds
    std::vector<std::uint8_t> HeartData; // at most 40 bytes
    std::vector<std::uint8_t> RegData;   // at most 40 bytes
    bool operator==(const THeartParam&) const = default;
};

// The values of the 28-byte Z1 parameter body.
struct TZ1Params {
    std::string DestIP;
    int DestPort = 0;
    std::string ModuleIP;
    int ModulePort = 0;
    std::string GatewayIP;
    int WorkMode = 0; // 0 UDP Mode, 1 TCP Client, 2 UDP Server, 3 TCP Server
    std::uint32_t BaudRate = 0;
    int ParityIndex = 0;      // 0 NONE, 1 ODD, 2 EVEN, 3 MARK, 4 SPACE
    int DataIndex = 3;        // 0..3 = 5..8 data bits
    int StopIndex = 0;        // 0..1 = 1..2 stop bits
    int DeviceID = 0;         // 0..65535, big-endian on the wire
    std::uint8_t Options = 0; // bit 0 ID on connect, 1 ID with data, 2 RS485, 3 RS422,
                              // 4 Reset, 5 Link, 6 Index, 7 RFC2217
    std::string SubnetMask;
    bool operator==(const TZ1Params&) const = default;
};

} // namespace varnix
