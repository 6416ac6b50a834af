#include "lan.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace varnix::sim {

namespace {

constexpr int kBufferBytes = 4 * 1024 * 1024;
constexpr std::size_t kBatch = 256;

void setBuffer(int fd, int force, int plain) {
    // The FORCE variants pass the net.core limits where we are allowed to (root in the
    // namespace); otherwise the kernel caps the plain request at wmem_max/rmem_max.
    int size = kBufferBytes;
    if (setsockopt(fd, SOL_SOCKET, force, &size, sizeof size) != 0)
        setsockopt(fd, SOL_SOCKET, plain, &size, sizeof size);
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

std::string endpointText(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ':' + std::to_string(ntohs(a.sin_port));
}

LanTransport::~LanTransport() {
    for (int fd : fds_)
        if (fd >= 0)
            ::close(fd);
}

void LanTransport::open(const Options& o) {
    in_addr addr{};
    if (inet_pton(AF_INET, o.bind.c_str(), &addr) != 1)
        throw std::runtime_error("--bind: not an IPv4 address: " + o.bind);
    anyAddress_ = addr.s_addr == htonl(INADDR_ANY);
    broadcastReplies_ = o.broadcastReplies;
    // Bound to the wildcard the sockets would hear every interface of the host; answering only
    // what came in on named interfaces keeps every reply on those interfaces (lo, or the veth
    // pairs of a test's namespace).
    if (anyAddress_ && o.ifaces.empty())
        throw std::runtime_error("--bind 0.0.0.0 needs --iface (lo, or the namespace's interfaces)");
    if (!o.ifaces.empty()) {
        if (!anyAddress_)
            throw std::runtime_error("--iface needs --bind 0.0.0.0");
        for (const auto& name : o.ifaces) {
            const unsigned idx = if_nametoindex(name.c_str());
            if (idx == 0)
                throw std::runtime_error("--iface: no interface " + name);
            ifaceAddr_[static_cast<int>(idx)] = in_addr{};
        }
        ifaddrs* list = nullptr;
        if (getifaddrs(&list) == 0) {
            for (ifaddrs* i = list; i; i = i->ifa_next) {
                if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
                    continue;
                const int idx = static_cast<int>(if_nametoindex(i->ifa_name));
                if ((i->ifa_flags & IFF_LOOPBACK) != 0)
                    loopback_[idx] = true;
                const auto it = ifaceAddr_.find(idx);
                if (it != ifaceAddr_.end() && it->second.s_addr == 0)
                    it->second = reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr;
            }
            freeifaddrs(list);
        }
    }
    for (int s = 0; s < 2; ++s) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw std::runtime_error(errnoText("socket"));
        fds_[s] = fd;
        const int on = 1;
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        setBuffer(fd, SO_SNDBUFFORCE, SO_SNDBUF);
        setBuffer(fd, SO_RCVBUFFORCE, SO_RCVBUF);
        // Serving one interface, the sockets are kept to it (SO_BINDTODEVICE): its replies can only
        // leave there, and two simulators on two interfaces of one namespace can share the ports
        // (one module per segment).
        if (o.ifaces.size() == 1 && o.ifaces[0] != "lo" &&
            setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, o.ifaces[0].c_str(),
                       static_cast<socklen_t>(o.ifaces[0].size())) != 0)
            throw std::runtime_error(errnoText("SO_BINDTODEVICE " + o.ifaces[0]));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr = addr;
        a.sin_port = htons(static_cast<std::uint16_t>(o.ports[s]));
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error(errnoText("bind " + o.bind + ':' + std::to_string(o.ports[s])));
        ports_[s] = o.ports[s];
    }
}

bool LanTransport::receive(int socket, Datagram& out) {
    iovec iov{buffer_.data(), buffer_.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
    msghdr msg{};
    msg.msg_name = &out.from;
    msg.msg_namelen = sizeof out.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(fds_[socket], &msg, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return false; // EAGAIN: queue empty; other errors are not fatal for a simulator
    out.socket = socket;
    out.ifindex = 0;
    out.arrivalMs = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            out.ifindex = info.ipi_ifindex;
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            out.arrivalMs = static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
        }
    out.data.assign(buffer_.begin(), buffer_.begin() + n);
    return true;
}

bool LanTransport::accepted(const Datagram& d) const {
    return ifaceAddr_.empty() || ifaceAddr_.count(d.ifindex) != 0;
}

std::size_t LanTransport::send(int socket, const sockaddr_in& to, int arrivalIfindex,
                               const std::vector<const Bytes*>& datagrams) {
    // Bound to 0.0.0.0 the kernel would pick the source itself, and for a broadcast that came
    // from an address of this host it picks that very address; name the served interface's.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    std::size_t controlLen = 0;
    const auto src = ifaceAddr_.find(arrivalIfindex);
    const bool served = anyAddress_ && src != ifaceAddr_.end();
    const bool broadcast = served && broadcastReplies_ && loopback_.count(arrivalIfindex) == 0;
    if (served && (src->second.s_addr != 0 || broadcast)) {
        auto* c = reinterpret_cast<cmsghdr*>(control);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = src->second;
        if (broadcast)
            info.ipi_ifindex = arrivalIfindex;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        controlLen = sizeof control;
    }

    std::vector<mmsghdr> msgs(std::min(kBatch, datagrams.size()));
    std::vector<iovec> iovs(msgs.size());
    sockaddr_in dest = to;
    if (broadcast)
        dest.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    std::size_t sent = 0;      // datagrams dealt with
    std::size_t delivered = 0; // of which the kernel took
    using Clock = std::chrono::steady_clock;
    auto stuckSince = Clock::now();
    while (sent < datagrams.size()) {
        const std::size_t count = std::min(msgs.size(), datagrams.size() - sent);
        for (std::size_t i = 0; i < count; ++i) {
            const Bytes* d = datagrams[sent + i];
            iovs[i] = iovec{const_cast<std::uint8_t*>(d->data()), d->size()};
            msgs[i] = mmsghdr{};
            msgs[i].msg_hdr.msg_name = &dest;
            msgs[i].msg_hdr.msg_namelen = sizeof dest;
            msgs[i].msg_hdr.msg_iov = &iovs[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_control = controlLen ? control : nullptr;
            msgs[i].msg_hdr.msg_controllen = controlLen;
        }
        const int n = ::sendmmsg(fds_[socket], msgs.data(), static_cast<unsigned>(count), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            delivered += static_cast<std::size_t>(n);
            stuckSince = Clock::now();
            continue;
        }
        const int err = errno;
        if (n < 0 && err == EINTR)
            continue;
        if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS)) {
            // Full: wait for room. ENOBUFS does not always make poll() wait, so pause a little too.
            if (Clock::now() - stuckSince > std::chrono::seconds(5))
                break; // the peer's path has been jammed for seconds: give up on this burst
            pollfd p{fds_[socket], POLLOUT, 0};
            ::poll(&p, 1, 100);
            if (err == ENOBUFS)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            continue;
        }
        ++sent; // any other error concerns this one datagram only (say, no route): skip it
    }
    return delivered;
}

} // namespace varnix::sim
