#include "module.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace varnix::sim {

namespace {

// Command codes of the addressed LAN commands.
constexpr std::uint8_t kRestart = 0x02;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kZ3EndOfSave = 0x04;
constexpr std::uint8_t kWriteBase = 0x05;
constexpr std::uint8_t kWritePort = 0x06;
constexpr std::uint8_t kFactoryReset = 0x0B;
constexpr std::uint8_t kWriteCloud = 0x0C;
constexpr std::uint8_t kWriteHeart = 0x21;
constexpr std::uint8_t kWriteHttpdUrl = 0x22;
constexpr std::uint8_t kWriteHttpdHeader = 0x23;
constexpr std::uint8_t kWriteModbus = 0x24;

constexpr std::size_t kEnvelope = 22; // FF, length, code, MAC, user, password, checksum

void put16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

// Parameter blocks keep IPv4 addresses last number first.
void putIpReversed(Bytes& b, std::size_t at, const Ip4& ip) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = ip[3 - i];
}

void putText(Bytes& b, std::size_t at, std::size_t width, std::string_view text) {
    const std::size_t n = std::min(width, text.size());
    std::memcpy(b.data() + at, text.data(), n);
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(at + n),
              b.begin() + static_cast<std::ptrdiff_t>(at + width), 0);
}

std::string textUpToZero(const std::uint8_t* p, std::size_t width) {
    std::size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

void checkSize(const std::optional<Bytes>& b, std::size_t size, const char* what) {
    if (b && b->size() != size)
        throw std::invalid_argument(std::string(what) + " block must be " + std::to_string(size) +
                                    " bytes, not " + std::to_string(b->size()));
}

} // namespace

const char* familyName(Family f) {
    switch (f) {
    case Family::Z2:
        return "z2";
    case Family::Z3:
        return "z3";
    case Family::Other193:
        return "other193";
    case Family::Other256:
        return "other256";
    }
    return "z2";
}

std::optional<Family> parseFamily(std::string_view t) {
    if (t == "z2" || t == "Z2")
        return Family::Z2;
    if (t == "z3" || t == "Z3")
        return Family::Z3;
    if (t == "other193")
        return Family::Other193;
    if (t == "other256")
        return Family::Other256;
    return std::nullopt;
}

std::uint8_t sum8(const std::uint8_t* d, std::size_t from, std::size_t to) {
    unsigned s = 0;
    for (std::size_t i = from; i <= to; ++i)
        s += d[i];
    return static_cast<std::uint8_t>(s & 0xFF);
}

Blocks synthesiseBlocks(Family family, const Mac& mac, const Ip4& ip, const std::string& name,
                        const std::string& user, const std::string& password, Vary& vary) {
    const Ip4 gateway{ip[0], ip[1], ip[2], 1};
    const Ip4 mask{255, 255, 255, 0};
    Blocks b;

    b.base.assign(kBaseSize, 0);
    b.base[3] = 0x80;       // static IP; DHCP, heartbeat and short-connection bits clear
    put16(b.base, 4, 1900); // UPnP port
    put16(b.base, 6, 80);   // HTTP server port
    putIpReversed(b.base, 9, ip);
    putIpReversed(b.base, 13, gateway);
    putIpReversed(b.base, 17, mask);
    putText(b.base, 21, 16, name);
    putText(b.base, 37, 6, user);
    putText(b.base, 43, 6, password);
    b.base[52] = 0; // Z2: no option bits; Z3: no device ID
    std::copy(mac.begin(), mac.end(), b.base.begin() + 53);
    putIpReversed(b.base, 59, gateway); // DNS
    b.base[63] = 3;                     // short-connection time
    // Not interpreted, only carried back: bytes 0-2, 8, 49-51, 64-66 and status bits 3 and 6.
    vary.fill(b.base, 0, 3);
    vary.fill(b.base, 8, 1);
    vary.fill(b.base, 49, 3);
    vary.fill(b.base, 64, 3);
    vary.bits(b.base, 3, 0x48);

    const std::string remote = ipText(gateway);
    b.port.assign(kPortSize, 0);
    put32(b.port, 0, 115200);
    b.port[4] = 8; // data bits
    b.port[5] = 1; // parity NONE
    b.port[6] = 1; // stop bits
    b.port[7] = 1; // no flow control
    put16(b.port, 12, 8234);
    put16(b.port, 14, 8234);
    putText(b.port, 16, 30, remote);
    b.port[51] = 3; // TCP Server
    if (family == Family::Z3) {
        put32(b.port, 52, 1024); // serial packing length
        b.port[58] = 4 * 16 + 1; // 4 connections, transparent style
    } else {
        b.port[52] = 0;         // HTTPD GET
        b.port[53] = 4;         // TCP server connections
        put16(b.port, 54, 300); // time-out restart, seconds
        b.port[58] = 1;         // transparent TCP server style
    }
    // Not interpreted, only carried back: bytes 46-49, 57, 59-62 and socket-flag bits 0, 1, 7.
    vary.fill(b.port, 46, 4);
    vary.fill(b.port, 57, 1);
    vary.fill(b.port, 59, 4);
    vary.bits(b.port, 50, 0x83);

    b.cloud.assign(kCloudSize, 0);
    putText(b.cloud, 2, 20, toHex(mac.data(), mac.size()));
    putText(b.cloud, 22, 8, "12345678");
    vary.fill(b.cloud, 0, 2); // not interpreted, carried
    vary.fill(b.cloud, 30, 20);

    const std::string heart = "heart";
    const std::string reg = "register";
    b.heart.assign(kHeartSize, 0);
    b.heart[0] = 0x01; // network heartbeat
    put16(b.heart, 1, 30);
    b.heart[3] = static_cast<std::uint8_t>(heart.size());
    b.heart[4] = static_cast<std::uint8_t>(reg.size());
    putText(b.heart, 5, 40, heart);
    putText(b.heart, 45, 40, reg);

    const std::string url = "/data";
    const std::string header = "Content-Type: text/plain";
    b.httpd.assign(kHttpdSize, 0);
    b.httpd[0] = static_cast<std::uint8_t>(url.size());
    putText(b.httpd, 1, 100, url);
    b.httpd[kHttpdUrlSize] = static_cast<std::uint8_t>(header.size());
    putText(b.httpd, kHttpdUrlSize + 1, 200, header);

    // Modbus TCP off, polling off, poll time-out 200, abnormal response off, poll interval 1000.
    b.modbus = {0x00, 0x00, 0x00, 0xC8, 0x00, 0x03, 0xE8};
    return b;
}

Bytes buildSearchReply(const Ip4& ip, const Mac& mac, int firmware, const std::string& name,
                       const SearchOpenBytes& open) {
    Bytes r(kSearchReplySize, 0);
    r[0] = 0xFF;
    r[1] = 0x24;
    r[2] = 0x01;
    std::copy_n(open.begin(), 2, r.begin() + 3);
    std::copy_n(open.begin() + 2, 2, r.begin() + 17);
    std::copy_n(open.begin() + 4, 3, r.begin() + 33);
    std::copy(ip.begin(), ip.end(), r.begin() + 5); // first dotted number first
    std::copy(mac.begin(), mac.end(), r.begin() + 9);
    put16(r, 15, static_cast<unsigned>(firmware));
    putText(r, 19, 14, name);
    return r;
}

Module::Module(const ModuleDesc& desc, Vary vary)
    : family_(desc.family), firmware_(desc.firmware), replies_(desc.replies), modbusKind_(desc.modbusKind),
      ignoreWrites_(desc.ignoreWrites), silent_(desc.silent), vary_(vary) {
    tweaks_ = desc.upgrade;
    checkSize(desc.base, kBaseSize, "base");
    checkSize(desc.port, kPortSize, "port");
    checkSize(desc.cloud, kCloudSize, "cloud");
    checkSize(desc.heart, kHeartSize, "heart");
    checkSize(desc.httpd, kHttpdSize, "httpd");
    if (desc.modbus && desc.modbus->size() != 1 && desc.modbus->size() != 4 && desc.modbus->size() != 7)
        throw std::invalid_argument("modbus block must be 1, 4 or 7 bytes");
    if (!desc.mac && !desc.base)
        throw std::invalid_argument("a module needs a MAC (or a base block)");
    if (desc.firmware < 0 || desc.firmware > 65535)
        throw std::invalid_argument("firmware must be 0..65535");
    if (modbusKind_ == 0)
        modbusKind_ = desc.modbus ? static_cast<int>(desc.modbus->size()) : 7;
    if (modbusKind_ != 1 && modbusKind_ != 4 && modbusKind_ != 7)
        throw std::invalid_argument("modbusKind must be 1, 4 or 7");
    for (const auto& r : replies_) {
        const bool known = r == "130" || r == "50" || r == "85" || r == "302" || r == "modbus";
        const bool number = !r.empty() && r.size() <= 5 &&
                            std::all_of(r.begin(), r.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                            std::stoi(r) <= 65507;
        if (!known && !number)
            throw std::invalid_argument("unknown reply \"" + r + "\"");
    }
    if (replies_.empty()) {
        if (family_ == Family::Z3)
            replies_ = {"130"};
        else
            replies_ = {"130", "50", "85", "302", "modbus"};
    }

    // Identity given in the desc, else the one the base block holds.
    Mac mac = desc.mac.value_or(Mac{});
    Ip4 ip = desc.ip.value_or(Ip4{192, 168, 0, 7});
    std::string name = desc.name.value_or(std::string());
    if (desc.base) {
        const Bytes& b = *desc.base;
        if (!desc.mac)
            std::copy(b.begin() + 53, b.begin() + 59, mac.begin());
        if (!desc.ip)
            ip = Ip4{b[12], b[11], b[10], b[9]};
        if (!desc.name)
            name = textUpToZero(b.data() + 21, 16);
    }
    if (name.size() > 16)
        name.resize(16);

    // Drawn whether or not the blocks are given, so a module's other bytes do not depend on it.
    blocks_ = synthesiseBlocks(family_, mac, ip, name, desc.user, desc.password, vary_);
    for (auto& b : searchOpen_)
        b = vary_.byte();
    paddingSeed_ = vary_.next();
    if (desc.base)
        blocks_.base = *desc.base;
    if (desc.port)
        blocks_.port = *desc.port;
    if (desc.cloud)
        blocks_.cloud = *desc.cloud;
    if (desc.heart)
        blocks_.heart = *desc.heart;
    if (desc.httpd)
        blocks_.httpd = *desc.httpd;
    if (desc.modbus)
        blocks_.modbus = *desc.modbus;
    else
        blocks_.modbus.resize(static_cast<std::size_t>(modbusKind_));
    initial_ = blocks_;
    // What the module holds fresh from the factory: its hardware MAC, everything else the
    // family's defaults; drawn last, so the bytes above do not depend on it.
    const Ip4 factoryIp{192, 168, 0, 7};
    factory_ = synthesiseBlocks(family_, mac, factoryIp, family_ == Family::Z3 ? "VOR-Z3" : "VOR-Z2", "vesta",
                                "vesta", vary_);
    factory_.modbus.resize(static_cast<std::size_t>(modbusKind_));

    mac_ = mac;
    ip_ = ip;
    name_ = name;
    std::copy(blocks_.base.begin() + 37, blocks_.base.begin() + 49, login_.begin());
}

bool Module::listensTo(Port port, std::uint8_t code) const {
    switch (family_) {
    case Family::Z2:
        return port == Port::Z2;
    case Family::Z3:
        return port == Port::Z3 || code == kRestart;
    default:
        return false; // other series do not speak this command protocol
    }
}

Bytes Module::searchReply() const {
    if (family_ == Family::Other193 || family_ == Family::Other256) {
        const std::size_t size = family_ == Family::Other193 ? 193 : 256;
        Bytes r = padding(size); // the program only tells them by their length
        r[0] = 0xFF;
        r[1] = static_cast<std::uint8_t>((size - 3) & 0xFF);
        r[2] = 0x01;
        std::copy(mac_.begin(), mac_.end(), r.begin() + 3);
        std::copy(ip_.begin(), ip_.end(), r.begin() + 9);
        return r;
    }
    return buildSearchReply(ip_, mac_, firmware_, name_, searchOpen_);
}

Bytes Module::padding(std::size_t n) const {
    Bytes r(n);
    Vary v(paddingSeed_);
    v.fill(r, 0, n);
    return r;
}

Bytes Module::ack(std::uint8_t code, char status) {
    // Byte 2 is not examined by the program; it never equals the command code here, so an
    // acknowledgement cannot be matched to its command by it.
    return {0xFF, 0x01, vary_.byteOtherThan(code), static_cast<std::uint8_t>(status)};
}

Bytes Module::modbusReply() const {
    // Kind 7 travels in a 64-byte datagram of which only the first 7 bytes are read; the stored
    // block is cut or zero-padded to the kind.
    const std::size_t kind = static_cast<std::size_t>(modbusKind_);
    Bytes r = kind == 7 ? padding(64) : Bytes(kind);
    std::fill_n(r.begin(), kind, 0);
    std::copy_n(blocks_.modbus.begin(), std::min(kind, blocks_.modbus.size()), r.begin());
    return r;
}

void Module::takeIdentityFromBase() {
    const Bytes& b = blocks_.base;
    ip_ = Ip4{b[12], b[11], b[10], b[9]};
    name_ = textUpToZero(b.data() + 21, 16);
    std::copy(b.begin() + 53, b.begin() + 59, mac_.begin());
    std::copy(b.begin() + 37, b.begin() + 49, login_.begin());
}

void Module::leaveLoader(std::optional<int> newFirmware, double nowMs, int restartMs) {
    inLoader_ = false;
    if (newFirmware) {
        firmware_ = *newFirmware;
        ++upgrades_;
    }
    reboot(nowMs, restartMs);
}

void Module::reboot(double nowMs, int restartMs) {
    // The module comes back with what its base block holds; meanwhile it answers nothing, so the
    // new identity can be taken at once.
    takeIdentityFromBase();
    rebootUntilMs_ = nowMs + restartMs;
}

Module::Outcome Module::command(const std::uint8_t* d, std::size_t n, double nowMs, int restartMs) {
    Outcome out;
    const std::uint8_t code = d[2];
    const std::uint8_t expected = sum8(d, 1, n - 2);
    if (d[n - 1] != expected) {
        out.result = "checksum";
        out.replies.push_back({0x45, expected});
        return out;
    }
    if (!std::equal(login_.begin(), login_.end(), d + 9)) {
        out.result = "P";
        out.replies.push_back(ack(code, 'P'));
        return out;
    }

    const std::uint8_t* payload = d + 21;
    const std::size_t size = n - kEnvelope;
    auto store = [&](Bytes& block, std::size_t offset, std::size_t want) {
        if (size != want) {
            out.result = "E";
            out.replies.push_back(ack(code, 'E'));
            return;
        }
        if (!ignoreWrites_) {
            std::copy_n(payload, size, block.begin() + static_cast<std::ptrdiff_t>(offset));
            writes_.push_back(code);
            out.changed = true;
        }
        out.result = "K";
        out.replies.push_back(ack(code, 'K'));
    };
    auto other = [&] {
        out.result = "E";
        out.replies.push_back(ack(code, 'E'));
    };
    const bool z2 = family_ == Family::Z2;

    switch (code) {
    case kRead:
        out.result = "read";
        for (const auto& r : replies_) {
            if (r == "130") {
                Bytes b = blocks_.base;
                b.insert(b.end(), blocks_.port.begin(), blocks_.port.end());
                out.replies.push_back(std::move(b));
            } else if (r == "50") {
                out.replies.push_back(blocks_.cloud);
            } else if (r == "85") {
                out.replies.push_back(blocks_.heart);
            } else if (r == "302") {
                out.replies.push_back(blocks_.httpd);
            } else if (r == "modbus") {
                out.replies.push_back(modbusReply());
            } else {
                out.replies.push_back(padding(static_cast<std::size_t>(std::stoi(r))));
            }
        }
        break;
    case kWriteBase:
        store(blocks_.base, 0, kBaseSize);
        break;
    case kWritePort:
        store(blocks_.port, 0, kPortSize);
        break;
    case kWriteCloud:
        z2 ? store(blocks_.cloud, 0, kCloudSize) : other();
        break;
    case kWriteHeart:
        z2 ? store(blocks_.heart, 0, kHeartSize) : other();
        break;
    case kWriteHttpdUrl:
        z2 ? store(blocks_.httpd, 0, kHttpdUrlSize) : other();
        break;
    case kWriteHttpdHeader:
        z2 ? store(blocks_.httpd, kHttpdUrlSize, kHttpdHeaderSize) : other();
        break;
    case kWriteModbus:
        if (!z2) {
            other();
        } else if (size != 1 && size != 4 && size != 7) {
            other();
        } else {
            if (!ignoreWrites_) {
                blocks_.modbus.assign(payload, payload + size);
                writes_.push_back(code);
                out.changed = true;
            }
            out.result = "K";
            out.replies.push_back(ack(code, 'K'));
        }
        break;
    case kZ3EndOfSave:
        if (z2) {
            other();
            break;
        }
        [[fallthrough]];
    case kRestart:
        out.result = "K";
        out.replies.push_back(ack(code, 'K'));
        ++restarts_;
        reboot(nowMs, restartMs);
        out.changed = out.identityChanged = true;
        break;
    case kFactoryReset:
        out.result = "K";
        out.replies.push_back(ack(code, 'K'));
        blocks_ = resetToFactory_ ? factory_ : initial_;
        ++resets_;
        reboot(nowMs, restartMs);
        out.changed = out.identityChanged = true;
        break;
    default:
        other();
        break;
    }
    return out;
}

void Fleet::add(Module m) {
    byMac_[macKey(m.mac().data())].push_back(modules_.size());
    modules_.push_back(std::move(m));
}

Module* Fleet::find(const Mac& mac) {
    const auto it = byMac_.find(macKey(mac.data()));
    return it == byMac_.end() || it->second.empty() ? nullptr : &modules_[it->second.front()];
}

void Fleet::reindex() {
    byMac_.clear();
    for (std::size_t i = 0; i < modules_.size(); ++i)
        byMac_[macKey(modules_[i].mac().data())].push_back(i);
}

Fleet::Result Fleet::handle(Port port, const std::uint8_t* d, std::size_t n, double nowMs) {
    Result res;
    res.result = "ignored";
    static const std::uint8_t search[] = {0xFF, 0x01, 0x01, 0x02};
    if (n == sizeof search && std::equal(d, d + n, search)) {
        if (port != Port::Z2)
            return res;
        res.result = "search";
        res.replies.reserve(modules_.size());
        for (const auto& m : modules_)
            if (!m.rebooting(nowMs))
                res.replies.push_back({m.replyPort(), m.searchReply()});
        return res;
    }
    if (n < kEnvelope || d[0] != 0xFF)
        return res;

    const auto it = byMac_.find(macKey(d + 3));
    if (it == byMac_.end())
        return res;
    bool reindexNeeded = false;
    // Copy: a restart below may change a module's MAC and so the index.
    const std::vector<std::size_t> candidates = it->second;
    for (std::size_t idx : candidates) {
        Module& m = modules_[idx];
        if (!m.listensTo(port, d[2]))
            continue;
        if (!res.module)
            res.module = m.mac();
        if (m.rebooting(nowMs) || m.silent())
            continue;
        const bool first = res.result == "ignored";
        Module::Outcome o = m.command(d, n, nowMs, restartMs_);
        if (first) {
            res.result = o.result;
            res.module = m.mac();
        }
        // The MAC the module had when it was addressed is the one that concerned it.
        if (o.identityChanged) {
            reindexNeeded = true;
            if (first)
                res.module = Mac{d[3], d[4], d[5], d[6], d[7], d[8]};
        }
        res.changed = res.changed || o.changed;
        for (auto& r : o.replies)
            res.replies.push_back({m.replyPort(), std::move(r)});
    }
    if (reindexNeeded)
        reindex();
    return res;
}

} // namespace varnix::sim
