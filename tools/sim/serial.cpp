#include "serial.h"

#include "config.h"
#include "state.h"
#include "stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace varnix::sim {

namespace {

constexpr std::uint8_t kHead = 0x55;
constexpr std::uint8_t kAck = 0x4B;
constexpr double kPartialMs = 1000; // an unfinished frame older than this is dropped

// Length of the frame a code starts; 0 for a code the module does not know.
std::size_t frameLength(std::uint8_t code) {
    switch (code) {
    case 0xBC:
    case 0xBD:
    case 0xC1:
        return 2;
    case 0xBA:
        return 31;
    case 0xBE:
        return 70;
    case 0xBF:
        return 66;
    case 0xB1:
        return 3;
    default:
        return 0;
    }
}

// head, then each part in turn (GCC 12 misjudges insert() into a brace-initialised vector).
Bytes joined(std::initializer_list<std::uint8_t> head, std::initializer_list<const Bytes*> parts) {
    Bytes r;
    r.reserve(200);
    r.assign(head.begin(), head.end());
    for (const Bytes* p : parts)
        std::copy(p->begin(), p->end(), std::back_inserter(r));
    return r;
}

bool sumOk(const Bytes& f) {
    return f.back() == sum8(f.data(), 2, f.size() - 2);
}

void putIpRev(Bytes& b, std::size_t at, const Ip4& ip) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = ip[static_cast<std::size_t>(3 - i)];
}

// A Z1 body as a module fresh from the factory: 192.168.0.7:8000, TCP Client to
// 192.168.0.201:5000, 115200 8N1, ID 1, RFC2217 on.
Bytes defaultZ1Body() {
    Bytes b(28, 0);
    putIpRev(b, 0, {192, 168, 0, 201});
    b[4] = 5000 & 0xFF, b[5] = 5000 >> 8;
    putIpRev(b, 6, {192, 168, 0, 7});
    b[10] = 8000 & 0xFF, b[11] = 8000 >> 8;
    putIpRev(b, 12, {192, 168, 0, 1});
    b[16] = 1;
    b[17] = 0x00, b[18] = 0xC2, b[19] = 0x01; // 115200
    b[20] = 0x03;                             // NONE, 8, 1
    b[21] = 0x00, b[22] = 0x01;               // ID, high byte first
    b[23] = 0x80;
    putIpRev(b, 24, {255, 255, 255, 0});
    return b;
}

Bytes sized(const Bytes& given, std::size_t n, const Bytes& fallback, const char* what) {
    if (given.empty())
        return fallback;
    if (given.size() != n)
        throw std::invalid_argument(std::string("--") + what + ": needs " + std::to_string(n) + " bytes");
    return given;
}

} // namespace

SerialModule::SerialModule(const SerialOptions& o)
    : family_(o.family), z2_(o.family == "z2"), badChecksum_(o.badChecksum) {
    if (o.family != "z1" && o.family != "z2" && o.family != "z3")
        throw std::invalid_argument("--serial: family must be z1, z2 or z3");
    Vary vary = Vary::forModule(o.varySeed.value_or(0), 0);
    const Blocks def = synthesiseBlocks(Family::Z2, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {192, 168, 0, 7},
                                        "Serial-Z2", "vesta", "vesta", vary);
    Bytes cloud(kCloudSize, 0), heart(kHeartSize, 0);
    vary.fill(cloud, 0, 2); // bytes 0..1 of the 115-byte reply: not tested by the program
    std::memcpy(cloud.data() + 2, "SIM-DEV-0001", 12);
    std::memcpy(cloud.data() + 22, "pass1234", 8);
    heart[0] = 0x01; // network heartbeat
    heart[1] = 30;   // interval
    z1Body_ = sized(o.z1Body, 28, defaultZ1Body(), "z1-body");
    base_ = sized(o.base, kBaseSize, def.base, "base");
    port_ = sized(o.port, kPortSize, def.port, "port");
    cloud_ = sized(o.cloud, kCloudSize, cloud, "cloud");
    heart_ = sized(o.heart, kHeartSize, heart, "heart");
    // Never 0: a zero would leave a checksum that wrongly stops at byte 29 right.
    z1Byte30_ = vary.byteOtherThan(0);
    for (auto& b : z2Tail_)
        b = vary.byte();
}

Bytes SerialModule::z1Reply() const {
    Bytes r = joined({kHead, 0xBC}, {&z1Body_});
    r.push_back(z1Byte30_); // not interpreted by the PC, but summed
    r.push_back(static_cast<std::uint8_t>(sum8(r.data(), 2, 30) + (badChecksum_ ? 1 : 0)));
    return r;
}

std::vector<Bytes> SerialModule::feed(const std::uint8_t* d, std::size_t n, double nowMs) {
    if (pending_.empty())
        pendingSince_ = nowMs;
    pending_.insert(pending_.end(), d, d + n);
    std::vector<Bytes> out;
    while (!pending_.empty()) {
        const std::size_t len = pending_.size() >= 2 && pending_[0] == kHead ? frameLength(pending_[1]) : 0;
        if (pending_[0] == kHead && pending_.size() < 2)
            break;
        if (len == 0) {
            // Not a frame start: skip one byte and look again.
            frames_.push_back({nowMs, Bytes{pending_[0]}, "junk"});
            pending_.erase(pending_.begin());
            continue;
        }
        if (pending_.size() < len)
            break;
        const Bytes frame(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(len));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(len));
        for (Bytes& r : handle(frame, nowMs))
            out.push_back(std::move(r));
        pendingSince_ = nowMs;
    }
    return out;
}

void SerialModule::expire(double nowMs) {
    if (!pending_.empty() && nowMs - pendingSince_ > kPartialMs) {
        frames_.push_back({nowMs, pending_, "junk"});
        pending_.clear();
    }
}

std::vector<Bytes> SerialModule::handle(const Bytes& f, double nowMs) {
    Frame rec{nowMs, f, "ignored"};
    std::vector<Bytes> out;
    const std::uint8_t code = f[1];
    if (code == 0xBC && !z2_) {
        rec.result = "read";
        out.push_back(z1Reply());
    } else if (code == 0xBD && z2_) {
        rec.result = "read";
        const Bytes tail(z2Tail_.begin(), z2Tail_.end());
        Bytes r = joined({kHead, 0xBD}, {&base_, &port_, &tail});
        out.push_back(std::move(r));
    } else if (code == 0xC1 && z2_) {
        rec.result = "more";
        Bytes r(cloud_.begin(), cloud_.begin() + 30);
        r.insert(r.end(), heart_.begin(), heart_.end());
        out.push_back(std::move(r));
    } else if (code == 0xBA && !z2_) {
        rec.result = sumOk(f) ? "K" : "checksum";
        if (sumOk(f))
            z1Body_.assign(f.begin() + 2, f.begin() + 30);
    } else if ((code == 0xBE || code == 0xBF) && z2_) {
        rec.result = sumOk(f) ? "K" : "checksum";
        if (sumOk(f))
            (code == 0xBE ? base_ : port_).assign(f.begin() + 2, f.end() - 1);
    } else if (code == 0xB1 && z2_) {
        rec.result = f[2] == 0x5A ? "K" : "ignored";
    }
    if (rec.result == "K")
        out.push_back(Bytes{kAck});
    frames_.push_back(std::move(rec));
    return out;
}

std::string SerialModule::stateJson() const {
    std::string s = "{\"family\":\"" + family_ + "\",\"z1body\":\"" + toHex(z1Body_) + "\",\"base\":\"" +
                    toHex(base_) + "\",\"port\":\"" + toHex(port_) + "\",\"cloud\":\"" + toHex(cloud_) +
                    "\",\"heart\":\"" + toHex(heart_) + "\",\"frames\":[";
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        char t[32];
        std::snprintf(t, sizeof t, "%.1f", frames_[i].tMs);
        s += std::string(i ? "," : "") + "\n{\"t\":" + t + ",\"hex\":\"" + toHex(frames_[i].bytes) +
             "\",\"result\":\"" + frames_[i].result + "\"}";
    }
    return s + "\n]}\n";
}

bool isSerialCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--serial") == 0)
            return true;
    return false;
}

namespace {

volatile sig_atomic_t g_serialStop = 0;
void onSerialSignal(int) {
    g_serialStop = 1;
}

SerialOptions parseSerialOptions(int argc, char** argv) {
    SerialOptions o;
    auto value = [&](int& i) -> std::string {
        if (i + 1 >= argc)
            throw std::invalid_argument(std::string(argv[i]) + " needs a value");
        return argv[++i];
    };
    auto hex = [&](int& i) {
        const auto b = parseHex(value(i));
        if (!b)
            throw std::invalid_argument(std::string(argv[i - 1]) + ": not hex");
        return *b;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--serial")
            o.family = value(i);
        else if (a == "--split-ms")
            o.splitMs = std::stoi(value(i));
        else if (a == "--bad-checksum")
            o.badChecksum = true;
        else if (a == "--silent")
            o.silent = true;
        else if (a == "--state")
            o.statePath = value(i);
        else if (a == "--link")
            o.linkPath = value(i);
        else if (a == "--duration")
            o.durationS = std::stod(value(i));
        else if (a == "--vary-seed")
            o.varySeed = parseVarySeed(value(i));
        else if (a == "--z1-body")
            o.z1Body = hex(i);
        else if (a == "--base")
            o.base = hex(i);
        else if (a == "--port")
            o.port = hex(i);
        else if (a == "--cloud")
            o.cloud = hex(i);
        else if (a == "--heart")
            o.heart = hex(i);
        else
            throw std::invalid_argument("unknown serial option " + a);
    }
    return o;
}

void writeAll(int fd, const std::uint8_t* d, std::size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, d, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            return;
        d += k;
        n -= static_cast<std::size_t>(k);
    }
}

} // namespace

int runSerialSimulator(int argc, char** argv) {
    SerialOptions o = parseSerialOptions(argc, argv);
    o.varySeed = o.varySeed.value_or(freshVarySeed());
    SerialModule module(o);
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        throw std::runtime_error(std::string("cannot make a pty: ") + std::strerror(errno));
    const std::string slave = ::ptsname(master);
    // The simulator keeps the slave open itself, so the master never sees a hang-up between the
    // program's sessions; raw mode so that no byte is translated or echoed before the program
    // sets its own line state.
    const int keep = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (keep < 0 || ::tcgetattr(keep, &t) != 0)
        throw std::runtime_error("cannot open " + slave);
    ::cfmakeraw(&t);
    ::tcsetattr(keep, TCSANOW, &t);
    if (!o.linkPath.empty()) {
        ::unlink(o.linkPath.c_str());
        if (::symlink(slave.c_str(), o.linkPath.c_str()) != 0)
            throw std::runtime_error("--link: " + o.linkPath + ": " + std::strerror(errno));
    }
    auto save = [&] {
        if (!o.statePath.empty() && !writeFileAtomically(o.statePath, module.stateJson()))
            std::fprintf(stderr, "varnix-sim: cannot write state %s\n", o.statePath.c_str());
    };
    save();

    const sigset_t waitMask = blockStopSignals(onSerialSignal);

    printVarySeed(*o.varySeed); // on stderr, before the ready line
    std::printf("varnix-sim: serial %s\nvarnix-sim: ready\n", slave.c_str());
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    auto nowMs = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    };
    while (!g_serialStop) {
        if (o.durationS > 0 && nowMs() >= o.durationS * 1000)
            break;
        timespec tick{0, 100'000'000}; // wakes to drop stale partial frames and to check the duration
        pollfd p{master, POLLIN, 0};
        if (::ppoll(&p, 1, &tick, &waitMask) <= 0) {
            if (module.hasPartial()) {
                module.expire(nowMs());
                save();
            }
            continue;
        }
        std::uint8_t buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            continue;
        const std::vector<Bytes> replies = module.feed(buf, static_cast<std::size_t>(n), nowMs());
        // Record first, so a test that sees a reply finds the frame already in the state file.
        save();
        if (o.silent)
            continue;
        for (const Bytes& r : replies) {
            if (o.splitMs > 0 && r.size() > 1) {
                const std::size_t half = r.size() / 2;
                writeAll(master, r.data(), half);
                std::this_thread::sleep_for(std::chrono::milliseconds(o.splitMs));
                writeAll(master, r.data() + half, r.size() - half);
            } else {
                writeAll(master, r.data(), r.size());
            }
        }
    }
    if (!o.linkPath.empty())
        ::unlink(o.linkPath.c_str());
    ::close(keep);
    ::close(master);
    return 0;
}

} // namespace varnix::sim
