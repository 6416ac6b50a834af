#pragma once
// Small byte helpers of the simulator: hex text, dotted addresses, MAC texts. No Qt.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnix::sim {

using Bytes = std::vector<std::uint8_t>;
using Mac = std::array<std::uint8_t, 6>;
using Ip4 = std::array<std::uint8_t, 4>; // in dotted order: a.b.c.d is {a, b, c, d}

// Pairs of hex digits; spaces, ':' and '-' between pairs are skipped. nullopt on anything else
// or on an odd digit count.
std::optional<Bytes> parseHex(std::string_view text);
// Upper-case pairs without separators.
std::string toHex(const std::uint8_t* data, std::size_t size);
inline std::string toHex(const Bytes& b) {
    return toHex(b.data(), b.size());
}

// Six bytes given as hex with '-', ':', ' ' or no separators.
std::optional<Mac> parseMac(std::string_view text);
// "00 1A 2B 3C 4D 5E"
std::string macText(const std::uint8_t* six);
inline std::string macText(const Mac& m) {
    return macText(m.data());
}
std::uint64_t macKey(const std::uint8_t* six);

// Strict dotted quad, each number 0..255.
std::optional<Ip4> parseIp(std::string_view text);
std::string ipText(const Ip4& ip);

// A JSON string literal (with quotes). Valid UTF-8 goes through as is; other bytes >= 0x80 are
// written as \u00XX so the output is always valid JSON.
std::string jsonString(std::string_view bytes);

} // namespace varnix::sim
