#include "core/convert.h"

#include <cctype>

#include <algorithm>
#include <limits>

namespace varnix {

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Two hex digits at text[pos], or -1 when either is missing or not a hex digit.
int HexPair(std::string_view text, std::size_t pos) {
    if (pos + 1 >= text.size())
        return -1;
    const int hi = HexValue(text[pos]);
    const int lo = HexValue(text[pos + 1]);
    return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

void AppendHex(std::string& out, std::uint8_t b) {
    out += HexDigits[b >> 4];
    out += HexDigits[b & 0x0F];
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A run of one or more decimal digits, reduced modulo 256. Anything else throws, naming the
// whole address text so the message tells the user which field is wrong.
std::uint8_t DottedNumber(std::string_view run, std::string_view whole) {
    if (run.empty())
        throw ConversionError(std::string(whole));
    unsigned value = 0;
    for (char c : run) {
        if (!IsDigit(c))
            throw ConversionError(std::string(whole));
        value = (value * 10 + static_cast<unsigned>(c - '0')) % 256;
    }
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::optional<std::uint32_t> ParseIPv4Text(std::string_view text) {
    std::uint32_t value = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.')
                return std::nullopt;
            ++pos;
        }
        unsigned number = 0;
        std::size_t digits = 0;
        for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
            if (++digits > 3)
                return std::nullopt;
            number = number * 10 + static_cast<unsigned>(text[pos] - '0');
        }
        if (digits == 0 || number > 255)
            return std::nullopt;
        value = (value << 8) | number;
    }
    if (pos != text.size())
        return std::nullopt;
    return value;
}

std::string IntToIPText(std::uint32_t v) {
    return std::to_string(v >> 24) + '.' + std::to_string((v >> 16) & 0xFF) + '.' +
           std::to_string((v >> 8) & 0xFF) + '.' + std::to_string(v & 0xFF);
}

std::string BytesToIPText(std::span<const std::uint8_t, 4> b) {
    return std::to_string(b[3]) + '.' + std::to_string(b[2]) + '.' + std::to_string(b[1]) + '.' +
           std::to_string(b[0]);
}

void IPTextToBytes(std::string_view text, std::span<std::uint8_t, 4> b) {
    const std::string clean = RemoveSpaces(text);
    if (clean.empty())
        return;
    const std::string_view s(clean);
    // Every number before a '.' fills the next byte from b[3] down; the number after the last
    // '.' goes to b[0]. Numbers beyond the fourth are still checked but never stored.
    int next = 3;
    int stored = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = s.find('.', start);
        const bool last = dot == std::string_view::npos;
        const std::string_view run = s.substr(start, last ? std::string_view::npos : dot - start);
        const std::uint8_t value = DottedNumber(run, text);
        if (last) {
            if (stored < 4)
                b[0] = value;
            return;
        }
        if (next >= 0) {
            b[static_cast<std::size_t>(next)] = value;
            --next;
            ++stored;
        }
        start = dot + 1;
    }
}

std::uint32_t IPTextToInt(std::string_view text) {
    std::uint32_t result = 0;
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t begin = pos;
        std::uint32_t value = 0;
        while (pos < text.size() && IsDigit(text[pos])) {
            value = value * 10 + static_cast<std::uint32_t>(text[pos] - '0'); // wraps, like the result
            ++pos;
        }
        if (pos == begin)
            throw ConversionError(std::string(text));
        result = result * 256 + value;
        ++pos; // the separator, whatever it is
    }
    return result;
}

bool SameSubnet(std::string_view a, std::string_view b, std::string_view mask) {
    const std::uint32_t m = IPTextToInt(mask);
    return (IPTextToInt(a) & m) == (IPTextToInt(b) & m);
}

std::string MacKey(std::string_view mac) {
    std::string out;
    for (const char c : mac)
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0)
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string BytesToMacText(std::span<const std::uint8_t, 6> b) {
    std::string out;
    out.reserve(17);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i > 0)
            out += ' ';
        AppendHex(out, b[i]);
    }
    return out;
}

void MacTextToBytes(std::string_view text, std::span<std::uint8_t, 6> b) {
    const std::string clean = RemoveSpaces(text);
    for (std::size_t i = 0; i < b.size(); ++i) {
        const int v = HexPair(clean, 2 * i);
        if (v < 0)
            throw ConversionError(std::string(text));
        b[i] = static_cast<std::uint8_t>(v);
    }
}

std::string RemoveSpaces(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != ' ')
            out += c;
    return out;
}

std::string TextToHex(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text)
        AppendHex(out, static_cast<std::uint8_t>(c));
    return out;
}

std::string HexToText(std::string_view hex) {
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int v = HexPair(hex, i);
        if (v < 0)
            return std::string(hex);
        out += static_cast<char>(v);
    }
    return out;
}

bool HexTextToBytes(std::string_view hex, TIdBytes& out) {
    out.clear();
    const std::string clean = RemoveSpaces(hex);
    const std::size_t pairs = (clean.size() + 1) / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        const int v = HexPair(clean, 2 * i); // a lone last digit reads as -1
        if (v < 0) {
            if (out.empty())
                return false;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

bool HexTextToBuffer(std::string_view hex, std::span<std::uint8_t> buf) {
    const std::size_t pairs = hex.size() / 2;
    for (std::size_t i = 0; i < buf.size(); ++i) {
        if (i >= pairs) {
            buf[i] = 0;
            continue;
        }
        const int v = HexPair(hex, 2 * i);
        if (v < 0)
            return false;
        buf[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

std::string BytesToHexDump(std::span<const std::uint8_t> bytes) {
    return BytesToHexSep(bytes, " ");
}

std::string BytesToHexSep(std::span<const std::uint8_t> bytes, std::string_view sep) {
    std::string out;
    out.reserve(bytes.size() * (2 + sep.size()));
    for (std::uint8_t b : bytes) {
        AppendHex(out, b);
        out += sep;
    }
    return out;
}

std::string BytesToText(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string BytesToShownText(std::span<const std::uint8_t> bytes) {
    std::size_t n = 0;
    while (n < bytes.size() && bytes[n] != 0)
        ++n;
    return BytesToText(bytes.first(n));
}

void TextToFixedBytes(std::string_view text, std::span<std::uint8_t> buf) {
    if (text.size() > buf.size())
        throw ConversionError(std::string(text));
    for (std::size_t i = 0; i < buf.size(); ++i)
        buf[i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0;
}

TStatus CheckLoginText(const std::string& field, std::string_view text) {
    const std::size_t n = RemoveSpaces(text).size();
    if (n <= LoginFieldBytes)
        return {};
    return FieldError(field, std::string(text),
                      std::to_string(n) + " bytes, at most " + std::to_string(LoginFieldBytes) + " fit");
}

void PutLoginField(std::span<std::uint8_t> buf, std::string_view text, std::size_t offset,
                   std::size_t count) {
    // The field is NUL-padded; a buffer too short for offset + count is written only as far as
    // it reaches.
    if (offset >= buf.size())
        return;
    const std::string clean = RemoveSpaces(text);
    if (clean.size() > count)
        throw ConversionError(std::string(text));
    const std::size_t n = std::min(count, buf.size() - offset);
    TextToFixedBytes(clean.substr(0, std::min(clean.size(), n)), buf.subspan(offset, n));
}

std::uint32_t BytesToInt(std::span<const std::uint8_t> bytes, bool littleEndian) {
    std::uint32_t v = 0;
    if (littleEndian) {
        for (std::size_t i = bytes.size(); i-- > 0;)
            v = (v << 8) | bytes[i];
    } else {
        for (std::uint8_t b : bytes)
            v = (v << 8) | b;
    }
    return v;
}

std::array<std::uint8_t, 2> WordToBytes(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>((v >> 8) & 0xFF)};
}

std::array<bool, 8> ByteToBits(std::uint8_t b) {
    std::array<bool, 8> f{};
    for (int i = 0; i < 8; ++i)
        f[static_cast<std::size_t>(i)] = (b >> i) & 1;
    return f;
}

std::uint8_t BitsToByte(const std::array<bool, 8>& flags) {
    unsigned b = 0;
    for (int i = 0; i < 8; ++i)
        if (flags[static_cast<std::size_t>(i)])
            b |= 1u << i;
    return static_cast<std::uint8_t>(b);
}

std::uint8_t Sum8(std::span<const std::uint8_t> bytes) {
    unsigned s = 0;
    for (std::uint8_t b : bytes)
        s += b;
    return static_cast<std::uint8_t>(s & 0xFF);
}

std::int64_t TextToInt(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == ' ')
        ++begin;
    while (end > begin && text[end - 1] == ' ')
        --end;
    bool negative = false;
    if (begin < end && (text[begin] == '-' || text[begin] == '+')) {
        negative = text[begin] == '-';
        ++begin;
    }
    if (begin == end)
        throw ConversionError(std::string(text));
    constexpr std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    std::uint64_t value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        if (!IsDigit(text[i]))
            throw ConversionError(std::string(text));
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (limit - digit) / 10)
            throw ConversionError(std::string(text));
        value = value * 10 + digit;
    }
    const auto v = static_cast<std::int64_t>(value);
    return negative ? -v : v;
}

} // namespace varnix
