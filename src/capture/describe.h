#pragma once
// What a datagram or a serial frame is, in a few words for the packet comment of a capture
// ("search request", "read reply, base+port, 00 1A 2B 3C 4D 5E", "acknowledgement K"), and the
// masking of log-in passwords before a capture is handed to someone else. Pure functions on
// bytes that may come from anyone on the LAN: every length and content is accepted.

#include <cstdint>
#include <span>
#include <string>

namespace varnix::capture {

// A LAN or firmware-upgrade datagram, told apart by its ports and then, like the program does,
// by its length and leading bytes. A module answers from port 1500 (Z2) or 1901 (Z3); commands
// go to those ports. When neither port says which side sent it, the content decides.
std::string DescribeDatagram(std::span<const std::uint8_t> datagram, std::uint16_t sourcePort,
                             std::uint16_t destinationPort);

// A serial chunk sent to (sentByPc) or received from a module with its CFG pin grounded.
std::string DescribeSerialFrame(std::span<const std::uint8_t> frame, bool sentByPc);

// Replaces every log-in password a datagram carries by '*' (all six bytes, so its length does not
// show either): the password of an addressed command (bytes 15..20) and the module's log-in
// password inside a base block (written by command 0x05, reported in the 130-byte read reply).
// The checksum byte is moved by the same amount as the sum of the changed bytes, so a datagram
// whose checksum was right stays right and one whose checksum was wrong stays wrong by as much.
// sentByPc: the datagram left this program (commands); otherwise it came from a module.
// Returns whether anything was replaced.
bool MaskLogin(std::span<std::uint8_t> datagram, bool sentByPc);
// Whether MaskLogin may find a password in it (a cheap look at size and first byte), so that the
// rest need not be copied to be masked.
bool MayCarryLogin(std::span<const std::uint8_t> datagram, bool sentByPc);

// The same for the serial frames that carry a base block: the Z2 base frame 55 BE (checksum moved
// as above) and the 137-byte Z2 parameter reply.
bool MaskSerialLogin(std::span<std::uint8_t> frame, bool sentByPc);

} // namespace varnix::capture
