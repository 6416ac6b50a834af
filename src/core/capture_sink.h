#pragma once
// What the parts of the program that talk to modules hand to a capture: every datagram they send
// or receive (the LAN endpoint, the firmware upgrade endpoint, the debugging window) and every
// serial chunk. A sink must accept calls from any thread; it never blocks for long (no disk
// write per call) and never fails towards the caller.

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

namespace varnix::capture {

using TClock = std::chrono::system_clock;

enum class TDirection { Sent, Received };

// Who saw the datagram: it decides how the datagram is described in the capture.
enum class TChannel {
    Lan,     // the module protocol on ports 1500/1901 (passwords masked unless kept)
    Upgrade, // the firmware upgrade: request to 9, boot on 67/68, image on 69/40300/13633
    Debug,   // the debugging window: the user's own data, written as it is
};

struct TDatagramEvent {
    TDirection Direction = TDirection::Sent;
    TChannel Channel = TChannel::Lan;
    std::string_view LocalAddress; // dotted IPv4 of the socket's binding ("10.77.0.2")
    std::uint16_t LocalPort = 0;
    std::string_view PeerAddress; // destination when sent (maybe 255.255.255.255), source when received
    std::uint16_t PeerPort = 0;
    std::span<const std::uint8_t> Bytes;
    // When it was sent or received; the epoch (the default) means "now".
    TClock::time_point Time{};
};

struct TSerialEvent {
    TDirection Direction = TDirection::Sent;
    std::string_view Port; // the serial port's name ("/dev/ttyUSB0")
    std::span<const std::uint8_t> Bytes;
    TClock::time_point Time{};
};

class ICaptureSink {
public:
    virtual ~ICaptureSink() = default;
    virtual void Datagram(const TDatagramEvent& event) = 0;
    virtual void SerialChunk(const TSerialEvent& event) = 0;
};

} // namespace varnix::capture
