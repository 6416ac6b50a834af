#include "upgrade.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

extern char** environ;

namespace varnix::sim {

namespace {

constexpr int PortRequest = 9, PortServer = 67, PortClient = 68, PortFile = 69, PortData = 13633;
constexpr std::size_t BlockSize = 512;

double parseShare(const char* name, const char* text) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (!end || *end || v < 0 || v > 1)
        throw std::invalid_argument(std::string(name) + " needs a share between 0 and 1");
    return v;
}

long parseCount(const char* name, const char* text) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!end || *end || v < 0)
        throw std::invalid_argument(std::string(name) + " needs a count");
    return v;
}

int udpSocket(in_addr_t addr, int port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("upgrade socket: ") + std::strerror(errno));
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addr;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        const int err = errno;
        close(fd);
        throw std::runtime_error("upgrade: cannot bind port " + std::to_string(port) + ": " +
                                 std::strerror(err));
    }
    return fd;
}

struct Received {
    Bytes data;
    sockaddr_in from{};
    int ifindex = 0;
};

bool receive(int fd, Received& r) {
    r.data.resize(65536);
    iovec iov{r.data.data(), r.data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr m{};
    m.msg_name = &r.from;
    m.msg_namelen = sizeof r.from;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT);
    if (n < 0)
        return false;
    r.data.resize(static_cast<std::size_t>(n));
    r.ifindex = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            r.ifindex = info.ipi_ifindex;
        }
    return true;
}

void sendTo(int fd, const Bytes& data, in_addr_t addr, int port, int ifindex) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = addr;
    to.sin_port = htons(static_cast<uint16_t>(port));
    iovec iov{const_cast<std::uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr m{};
    m.msg_name = &to;
    m.msg_namelen = sizeof to;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    if (ifindex > 0) { // a broadcast leaves through the module's segment
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = ifindex;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    if (sendmsg(fd, &m, 0) < 0)
        std::fprintf(stderr, "varnix-sim: upgrade send: %s\n", std::strerror(errno));
}

bool writeFile(const std::string& path, const Bytes& data) {
    const std::string tmp = path + ".part";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

// Gives the interface the address the boot reply assigned, as the module does before it reads
// the file (needs CAP_NET_ADMIN, which the modules' namespace of the tests has).
bool assignAddress(const std::string& iface, in_addr_t addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr, text, sizeof text);
    const std::string cidr = std::string(text) + "/24";
    const char* argv[] = {"ip", "addr", "add", cidr.c_str(), "dev", iface.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ip", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

UpgradeOptions takeUpgradeOptions(std::vector<char*>& args) {
    UpgradeOptions o;
    std::vector<char*> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a = args[i];
        if (a.rfind("--upgrade-", 0) != 0) {
            rest.push_back(args[i]);
            continue;
        }
        if (a == "--upgrade-fleet") {
            o.fleet = true;
            continue;
        }
        if (i + 1 >= args.size())
            throw std::invalid_argument(a + " needs a value");
        const char* v = args[++i];
        if (a == "--upgrade-mac") {
            if (!parseMac(v))
                throw std::invalid_argument("--upgrade-mac needs six hex pairs");
            o.mac = v;
        } else if (a == "--upgrade-out") {
            o.out = v;
        } else if (a == "--upgrade-out-dir") {
            o.outDir = v;
        } else if (a == "--upgrade-iface") {
            o.iface = v;
        } else if (a == "--upgrade-firmware") {
            o.firmware = static_cast<int>(parseCount(a.c_str(), v) & 0xFFFF);
        } else if (a == "--upgrade-loader-ms") {
            o.loaderMs = static_cast<int>(parseCount(a.c_str(), v));
        } else if (a == "--upgrade-signature") {
            const auto b = parseHex(v);
            if (!b || b->size() != 4)
                throw std::invalid_argument("--upgrade-signature needs 4 bytes of hex");
            o.defaults.signature = *b;
        } else if (a == "--upgrade-byte26") {
            o.defaults.byte26 = static_cast<int>(parseCount(a.c_str(), v) & 0xFF);
        } else if (a == "--upgrade-drop-blocks") {
            o.defaults.dropBlocks = parseShare(a.c_str(), v);
        } else if (a == "--upgrade-drop-acks") {
            o.defaults.dropAcks = parseShare(a.c_str(), v);
        } else if (a == "--upgrade-drop-last-acks") {
            o.dropLastAcks = static_cast<int>(parseCount(a.c_str(), v));
        } else if (a == "--upgrade-stop-after") {
            o.defaults.stopAfter = parseCount(a.c_str(), v);
        } else if (a == "--upgrade-seed") {
            o.seed = static_cast<unsigned>(parseCount(a.c_str(), v));
        } else {
            throw std::invalid_argument("unknown option " + a);
        }
    }
    args = rest;
    return o;
}

UpgradeSide::UpgradeSide(UpgradeOptions o, Hooks hooks)
    : opt_(std::move(o)), hooks_(std::move(hooks)), xids_(opt_.seed) {}

UpgradeSide::~UpgradeSide() {
    for (Loader& l : loaders_)
        if (l.fdData >= 0)
            close(l.fdData);
    for (int fd : {fdRequest_, fdBoot_})
        if (fd >= 0)
            close(fd);
}

void UpgradeSide::start() {
    if (!opt_.enabled())
        return;
    if (!opt_.iface.empty()) {
        ifindex_ = static_cast<int>(if_nametoindex(opt_.iface.c_str()));
        if (ifindex_ == 0)
            throw std::runtime_error("--upgrade-iface: no interface " + opt_.iface);
    }
    // The request always comes to 255.255.255.255:9; bound to that address the socket leaves
    // port 9 of the PC's own addresses free when both ends share one host.
    fdRequest_ = udpSocket(htonl(INADDR_BROADCAST), PortRequest);
    fdBoot_ = udpSocket(htonl(INADDR_ANY), PortClient);
}

void UpgradeSide::addFds(std::vector<pollfd>& fds) const {
    for (int fd : {fdRequest_, fdBoot_})
        if (fd >= 0)
            fds.push_back({fd, POLLIN, 0});
    for (const Loader& l : loaders_)
        if (l.fdData >= 0)
            fds.push_back({l.fdData, POLLIN, 0});
}

int UpgradeSide::dataSocket(in_addr_t mine) {
    // The data socket carries the assigned address, so the PC sees the blocks acknowledged by it.
    try {
        return udpSocket(mine, PortData);
    } catch (const std::runtime_error& e) {
        if (!opt_.iface.empty() && assignAddress(opt_.iface, mine))
            return udpSocket(mine, PortData);
        std::fprintf(stderr, "varnix-sim: %s; using any address\n", e.what());
        return udpSocket(htonl(INADDR_ANY), PortData);
    }
}

UpgradeSide::Loader* UpgradeSide::loaderFor(const Mac& mac) {
    for (Loader& l : loaders_)
        if (l.mac == mac)
            return &l;
    return nullptr;
}

void UpgradeSide::handle(int fd) {
    if (fd == fdRequest_) {
        onRequest();
        return;
    }
    if (fd == fdBoot_) {
        onBootReply();
        return;
    }
    for (Loader& l : loaders_)
        if (l.fdData == fd) {
            onData(l);
            return;
        }
}

void UpgradeSide::tick() {
    const double now = hooks_.nowMs();
    for (auto it = loaders_.begin(); it != loaders_.end();) {
        // A finished loader stays a while to acknowledge a re-sent last block; one that hears
        // nothing gives up and the module restarts with its old firmware.
        const bool idle = now - it->lastMs > (it->done ? 10000.0 : static_cast<double>(opt_.loaderMs));
        if (!idle) {
            ++it;
            continue;
        }
        if (!it->done)
            finish(*it, false);
        if (it->fdData >= 0)
            close(it->fdData);
        it = loaders_.erase(it);
    }
}

void UpgradeSide::onRequest() {
    Received r;
    if (!receive(fdRequest_, r) || (ifindex_ != 0 && r.ifindex != ifindex_) || r.data.size() != 30)
        return;
    Mac mac{};
    std::copy(r.data.begin() + 6, r.data.begin() + 12, mac.begin());
    for (std::size_t i = 0; i < 30; ++i)
        if (r.data[i] != (i < 6 ? 0xAA : mac[(i - 6) % 6]))
            return;
    const bool alone = !opt_.mac.empty() && parseMac(opt_.mac) == mac;
    if (alone || (opt_.fleet && hooks_.find(mac) != nullptr))
        start(mac);
}

void UpgradeSide::start(const Mac& mac) {
    // (Re)boot into the loader: ask for an address and the boot file.
    Loader* l = loaderFor(mac);
    if (!l) {
        loaders_.emplace_back();
        l = &loaders_.back();
    }
    if (l->fdData >= 0)
        close(l->fdData);
    Module* m = hooks_.find(mac);
    const UpgradeTweaks mine = m ? m->upgradeTweaks() : UpgradeTweaks{};
    *l = Loader{};
    l->mac = mac;
    l->t = opt_.defaults;
    if (mine.dropBlocks)
        l->t.dropBlocks = mine.dropBlocks;
    if (mine.dropAcks)
        l->t.dropAcks = mine.dropAcks;
    if (mine.signature)
        l->t.signature = mine.signature;
    if (mine.byte26)
        l->t.byte26 = mine.byte26;
    if (mine.stopAfter)
        l->t.stopAfter = mine.stopAfter;
    if (mine.firmware)
        l->t.firmware = mine.firmware;
    l->rng.seed(opt_.seed + static_cast<unsigned>(macKey(mac.data())));
    l->xid = static_cast<std::uint32_t>(xids_());
    l->lastAcksToDrop = mine.dropLastAcks.value_or(opt_.dropLastAcks);
    l->lastMs = hooks_.nowMs();
    if (m) {
        m->enterLoader();
        hooks_.changed();
    }
    Bytes req(300, 0);
    req[0] = 1, req[1] = 1, req[2] = 6, req[3] = 0;
    for (int i = 0; i < 4; ++i)
        req[4 + i] = static_cast<std::uint8_t>(l->xid >> (24 - 8 * i));
    req[26] = static_cast<std::uint8_t>(l->t.byte26.value_or(0));
    std::memcpy(&req[28], mac.data(), 6);
    const Bytes sig = l->t.signature.value_or(Bytes{0x5A, 0x32, 0x10, 0x07});
    std::memcpy(&req[44], sig.data(), 4);
    const std::uint8_t cookie[4] = {0x63, 0x82, 0x53, 0x63};
    std::memcpy(&req[236], cookie, 4);
    req[240] = 0xFF;
    sendTo(fdBoot_, req, htonl(INADDR_BROADCAST), PortServer, ifindex_);
}

void UpgradeSide::onBootReply() {
    Received r;
    if (!receive(fdBoot_, r) || (ifindex_ != 0 && r.ifindex != ifindex_))
        return;
    const Bytes& b = r.data;
    if (b.size() != 300 || b[0] != 2 || std::memcmp(&b[108], "firmware.bin", 12) != 0)
        return;
    Mac mac{};
    std::copy(b.begin() + 28, b.begin() + 34, mac.begin());
    Loader* l = loaderFor(mac);
    const std::uint32_t xid =
        (std::uint32_t{b[4]} << 24) | (std::uint32_t{b[5]} << 16) | (std::uint32_t{b[6]} << 8) | b[7];
    // Only the reply to its own request: its MAC and its transaction id.
    if (!l || l->done || l->xid != xid || l->fdData >= 0)
        return;
    in_addr mine{}, srv{};
    std::memcpy(&mine.s_addr, &b[16], 4);
    std::memcpy(&srv.s_addr, &b[20], 4);
    l->server = srv.s_addr;
    l->lastMs = hooks_.nowMs();
    l->fdData = dataSocket(mine.s_addr);
    Bytes rrq{0, 1};
    for (const char* p = "firmware.bin"; *p; ++p)
        rrq.push_back(static_cast<std::uint8_t>(*p));
    rrq.push_back(0);
    for (const char* p = "octet"; *p; ++p)
        rrq.push_back(static_cast<std::uint8_t>(*p));
    rrq.push_back(0);
    sendTo(l->fdData, rrq, l->server, PortFile, 0);
}

void UpgradeSide::onData(Loader& l) {
    Received r;
    if (!receive(l.fdData, r))
        return;
    std::uniform_real_distribution<double> dist(0.0, 1.0);
    const auto roll = [&](const std::optional<double>& share) {
        return share && *share > 0 && dist(l.rng) < *share;
    };
    const Bytes& b = r.data;
    if (r.from.sin_addr.s_addr != l.server || b.size() < 4 || b[0] != 0 || b[1] != 3)
        return;
    l.lastMs = hooks_.nowMs();
    if (l.t.stopAfter && *l.t.stopAfter >= 0 && l.blocks >= *l.t.stopAfter)
        return; // stopped answering part-way
    if (roll(l.t.dropBlocks))
        return;
    const std::uint16_t n = static_cast<std::uint16_t>((b[2] << 8) | b[3]);
    const bool last = b.size() < 4 + BlockSize;
    if (!l.done && n == static_cast<std::uint16_t>(l.expected)) {
        l.image.insert(l.image.end(), b.begin() + 4, b.end());
        ++l.expected, ++l.blocks;
        if (last)
            finish(l, true);
    } else if (n != static_cast<std::uint16_t>(l.expected - 1)) {
        return; // neither the next block nor a repeat of the last one
    }
    if (last && l.lastAcksToDrop > 0) {
        --l.lastAcksToDrop;
        return;
    }
    if (roll(l.t.dropAcks))
        return;
    const Bytes ack{0, 4, b[2], b[3]};
    sendTo(l.fdData, ack, r.from.sin_addr.s_addr, ntohs(r.from.sin_port), 0);
}

void UpgradeSide::finish(Loader& l, bool whole) {
    l.done = true;
    if (whole) {
        std::string path = opt_.out;
        if (opt_.mac.empty() || parseMac(opt_.mac) != l.mac || path.empty())
            path = opt_.outDir.empty() ? std::string()
                                       : opt_.outDir + "/" + toHex(l.mac.data(), l.mac.size()) + ".bin";
        if (!path.empty() && !writeFile(path, l.image))
            std::fprintf(stderr, "varnix-sim: cannot write %s\n", path.c_str());
    }
    if (Module* m = hooks_.find(l.mac)) {
        std::optional<int> firmware;
        if (whole)
            firmware = l.t.firmware.value_or(opt_.firmware.value_or(m->firmware() + 1));
        m->leaveLoader(firmware, hooks_.nowMs(), hooks_.restartMs);
        hooks_.changed();
    }
}

} // namespace varnix::sim
