#include "bytes.h"

#include <cstdio>

namespace varnix::sim {

namespace {
int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isSeparator(char c) {
    return c == ' ' || c == ':' || c == '-' || c == '\t' || c == '\n';
}

// Length of the valid UTF-8 sequence starting at s[i], or 0.
std::size_t utf8Length(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size() || (n == 2 && c < 0xC2))
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 0;
    return n;
}
} // namespace

std::optional<Bytes> parseHex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (isSeparator(c)) {
            if (high >= 0)
                return std::nullopt; // a separator inside a pair
            continue;
        }
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::optional<Mac> parseMac(std::string_view text) {
    const auto bytes = parseHex(text);
    if (!bytes || bytes->size() != 6)
        return std::nullopt;
    Mac m{};
    for (std::size_t i = 0; i < 6; ++i)
        m[i] = (*bytes)[i];
    return m;
}

std::string macText(const std::uint8_t* six) {
    std::string s;
    for (int i = 0; i < 6; ++i) {
        if (i)
            s.push_back(' ');
        s += toHex(six + i, 1);
    }
    return s;
}

std::uint64_t macKey(const std::uint8_t* six) {
    std::uint64_t k = 0;
    for (int i = 0; i < 6; ++i)
        k = (k << 8) | six[i];
    return k;
}

std::optional<Ip4> parseIp(std::string_view text) {
    Ip4 ip{};
    std::size_t part = 0;
    int value = -1;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (value < 0 || part >= 4)
                return std::nullopt;
            ip[part++] = static_cast<std::uint8_t>(value);
            value = -1;
            continue;
        }
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
        if (value > 255)
            return std::nullopt;
    }
    if (part != 4)
        return std::nullopt;
    return ip;
}

std::string ipText(const Ip4& ip) {
    return std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) + '.' +
           std::to_string(ip[3]);
}

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char buf[8];
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
            ++i;
        } else if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
        } else if (const std::size_t n = utf8Length(s, i)) {
            out.append(s.substr(i, n));
            i += n;
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            out += buf;
            ++i;
        }
    }
    out.push_back('"');
    return out;
}

} // namespace varnix::sim
