#pragma once
// Text forms of addresses, MACs and hex data, byte-order helpers, the 8-bit sum and the
// fixed-width text fields of the LAN envelope. All texts are byte strings (one char per byte);
// hex input accepts 0-9, A-F and a-f, hex output is always upper case. No function keeps state.

#include "core/result.h"
#include "core/types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace varnix {

// --- IPv4 texts. Parameter blocks store a.b.c.d as the bytes d, c, b, a. ---

// The one reader of an address a user or a file gives: exactly four decimal parts of one to three
// digits, each 0-255, separated by single dots, and nothing else (no sign, no spaces, no fifth
// part). Leading zeros are accepted and read in decimal ("192.168.000.007" is 192.168.0.7):
// the value is what counts, and callers keep the canonical IntToIPText form, so no reader ever
// sees the zeros (some system readers would take "010" as octal). Gives a<<24|b<<16|c<<8|d.
std::optional<std::uint32_t> ParseIPv4Text(std::string_view text);

// 0xC0A80007 -> "192.168.0.7" (most significant byte first).
std::string IntToIPText(std::uint32_t v);
// The reversed storage: 07 00 A8 C0 -> "192.168.0.7".
std::string BytesToIPText(std::span<const std::uint8_t, 4> b);
// The block encoders' write rule for a text ParseIPv4Text has accepted (it is lenient only so
// that nothing outside the 4-byte field is ever written): spaces are removed; the dotted numbers
// fill b[3], b[2], b[1], b[0] in turn and the number after
// the last '.' goes to b[0] (so "1.2.3" leaves b[1] alone), each modulo 256.
// Numbers beyond the fourth are checked but ignored (the field is never written outside its 4 bytes).
// A part that is not a decimal number throws ConversionError; bytes already written stay.
// An empty text writes nothing.
void IPTextToBytes(std::string_view text, std::span<std::uint8_t, 4> b);
// Four decimal runs, each followed by one skipped character: a.b.c.d -> a<<24|b<<16|c<<8|d.
// An empty run throws ConversionError.
std::uint32_t IPTextToInt(std::string_view text);
bool SameSubnet(std::string_view a, std::string_view b, std::string_view mask);

// --- MAC texts: "00 1A 2B 3C 4D 5E". ---
std::string BytesToMacText(std::span<const std::uint8_t, 6> b);
// Spaces are removed; six hex pairs. A bad pair or fewer than 12 digits throws ConversionError;
// the bytes before it stay written.
void MacTextToBytes(std::string_view text, std::span<std::uint8_t, 6> b);
// The hex digits of any MAC text, upper case: "00-1a-2B 3c:4D5E" -> "001A2B3C4D5E". For comparing
// MACs written in different ways.
std::string MacKey(std::string_view mac);

// --- Hex texts. ---
std::string RemoveSpaces(std::string_view text);
// "AB" -> "4142".
std::string TextToHex(std::string_view text);
// "4142" -> "AB"; a last single digit is ignored; any bad pair returns the input unchanged.
std::string HexToText(std::string_view hex);
// Spaces removed; a bad pair before any byte fails; later bad pairs are skipped.
bool HexTextToBytes(std::string_view hex, TIdBytes& out);
// buf[i] = pair i for i below digits/2, else 0; a bad pair stops with failure, leaving buf[i..] alone.
bool HexTextToBuffer(std::string_view hex, std::span<std::uint8_t> buf);
// Every byte as "XX " (the last one too); empty input gives "".
std::string BytesToHexDump(std::span<const std::uint8_t> bytes);
// Every byte as "XX" followed by sep (the last one too).
std::string BytesToHexSep(std::span<const std::uint8_t> bytes, std::string_view sep);

// --- Fixed-width text fields. ---
// Exactly bytes.size() characters, NULs included.
std::string BytesToText(std::span<const std::uint8_t> bytes);
// The text cut at its first NUL (what a page shows of a fixed-width field).
std::string BytesToShownText(std::span<const std::uint8_t> bytes);
// buf[i] = text[i] below the text length, 0 after it. A text longer than buf is never cut (a cut
// could split a GBK or UTF-8 character): it throws ConversionError and buf is left as it was.
void TextToFixedBytes(std::string_view text, std::span<std::uint8_t> buf);
// Bytes of the user name and of the password in every addressed command and in the base block.
inline constexpr std::size_t LoginFieldBytes = 6;
// A log-in text (the bytes sent) fits its field once its spaces are removed; otherwise a TError
// naming `field`: "UserName: 10 bytes, at most 6 fit". Check before building commands: they
// refuse such a text rather than cut it.
TStatus CheckLoginText(const std::string& field, std::string_view text);
// Log-in field: spaces removed, NUL-padded to count bytes at buf[offset..]. A log-in longer than
// count throws ConversionError (nothing written). Nothing is written beyond the end of buf.
void PutLoginField(std::span<std::uint8_t> buf, std::string_view text, std::size_t offset, std::size_t count);

// --- Numbers and bits. ---
// n up to 4 bytes, little- or big-endian.
std::uint32_t BytesToInt(std::span<const std::uint8_t> bytes, bool littleEndian);
// v mod 256 first, then (v div 256) mod 256.
std::array<std::uint8_t, 2> WordToBytes(std::uint32_t v);
std::array<bool, 8> ByteToBits(std::uint8_t b);
std::uint8_t BitsToByte(const std::array<bool, 8>& flags);
// (b[0] + ... + b[n-1]) mod 256; an empty range gives 0.
std::uint8_t Sum8(std::span<const std::uint8_t> bytes);

// Reads a decimal number the way the pages do: optional surrounding spaces, optional sign,
// digits only. Throws ConversionError naming the text otherwise.
std::int64_t TextToInt(std::string_view text);

} // namespace varnix
