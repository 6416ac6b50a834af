#pragma once
// Basic types shared by every part of the program that touches module data.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace varnix {

// A counted byte array: every datagram and serial frame sent or received is one.
using TIdBytes = std::vector<std::uint8_t>;

// Family codes carried by device rows and by the parameter events.
inline constexpr std::int32_t FamilyUnknown = 0; // unknown or incompatible firmware
inline constexpr std::int32_t FamilyZ2 = 2;
inline constexpr std::int32_t FamilyZ1 = 35; // serial link only; a LAN search never yields it
inline constexpr std::int32_t FamilyZ3 = 36;

// Raised when an address, MAC or number text cannot be read. Whatever the converter wrote into
// the caller's buffer before the faulty part stays written.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& text)
        : std::runtime_error("'" + text + "' is not a valid value"), text_(text) {}
    // The text (or the part of it) that could not be converted.
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

} // namespace varnix
