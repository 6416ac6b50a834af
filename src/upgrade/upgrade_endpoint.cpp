#include "upgrade/upgrade_endpoint.h"

#include "upgrade/upgrade_session.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnix {

namespace {

constexpr int BootIndex = 1;

sockaddr_in Address(std::uint32_t addrNetworkOrder, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addrNetworkOrder;
    sa.sin_port = htons(port);
    return sa;
}

} // namespace

int InterfaceIndexOf(std::uint32_t addrNetworkOrder) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return 0;
    int index = 0;
    for (ifaddrs* i = list; i && index == 0; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET)
            continue;
        sockaddr_in in{};
        std::memcpy(&in, i->ifa_addr, sizeof in);
        if (in.sin_addr.s_addr == addrNetworkOrder)
            index = static_cast<int>(::if_nametoindex(i->ifa_name));
    }
    ::freeifaddrs(list);
    return index;
}

TUpgradeEndpoint::TUpgradeEndpoint(QObject* parent) : QObject(parent) {
    bindings_[0].Port = UpgradeRequestPort;
    bindings_[1].Port = BootServerPort;
    bindings_[2].Port = FileServerPort;
    bindings_[3].Port = DataLocalPort;
}

TUpgradeEndpoint::~TUpgradeEndpoint() {
    Close();
}

std::optional<TEndpointError> TUpgradeEndpoint::Open(const std::string& localIP) {
    Close();
    in_addr a{};
    if (::inet_pton(AF_INET, localIP.c_str(), &a) != 1)
        return TEndpointError{0, EADDRNOTAVAIL};
    local_ = a.s_addr;
    localText_ = localIP;
    ifIndex_ = InterfaceIndexOf(local_);
    if (ifIndex_ == 0)
        return TEndpointError{0, EADDRNOTAVAIL};
    for (std::size_t i = 0; i < bindings_.size(); ++i) {
        const std::uint32_t addr = i == BootIndex ? htonl(INADDR_ANY) : local_;
        if (auto e = Bind(bindings_[i], addr)) {
            Close();
            return e;
        }
    }
    open_ = true;
    return std::nullopt;
}

std::optional<TEndpointError> TUpgradeEndpoint::Bind(TBinding& b, std::uint32_t addr) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return TEndpointError{b.Port, errno};
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    const sockaddr_in sa = Address(addr, b.Port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const int err = errno;
        ::close(fd);
        return TEndpointError{b.Port, err};
    }
    b.Fd = fd;
    b.Notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(b.Notifier, &QSocketNotifier::activated, this, [this, &b] { Drain(b); });
    return std::nullopt;
}

void TUpgradeEndpoint::Close() {
    for (TBinding& b : bindings_) {
        // Close may run inside this notifier's own signal (a datagram ended the run).
        if (b.Notifier) {
            b.Notifier->setEnabled(false);
            b.Notifier->deleteLater();
        }
        b.Notifier = nullptr;
        if (b.Fd >= 0)
            ::close(b.Fd);
        b.Fd = -1;
    }
    open_ = false;
}

void TUpgradeEndpoint::Drain(TBinding& b) {
    // A handler may close the endpoint (the run ended); stop reading then.
    const int fd = b.Fd;
    std::array<char, 65536> buf;
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control;
    // At most a bounded number per wake-up: the notifier fires again on the next event-loop turn
    // while datagrams are queued, so a flood cannot keep timers and painting from running.
    constexpr int MaxPerTurn = 256;
    for (int n = 0; n < MaxPerTurn && b.Fd == fd && fd >= 0; ++n) {
        sockaddr_in from{};
        iovec iov{buf.data(), buf.size()};
        msghdr m{};
        m.msg_name = &from;
        m.msg_namelen = sizeof from;
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control.data();
        m.msg_controllen = control.size();
        const ssize_t got = ::recvmsg(fd, &m, MSG_DONTWAIT);
        if (got < 0)
            return;
        if (b.Port == BootServerPort) {
            int arrivedOn = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    arrivedOn = info.ipi_ifindex;
                }
            if (arrivedOn != ifIndex_)
                continue; // another adapter's segment
        }
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        const std::span data(reinterpret_cast<const std::uint8_t*>(buf.data()),
                             static_cast<std::size_t>(got));
        if (capture_ != nullptr)
            capture_->Datagram({capture::TDirection::Received,
                                capture::TChannel::Upgrade,
                                localText_,
                                b.Port,
                                text,
                                ntohs(from.sin_port),
                                data,
                                {}});
        if (OnReceived)
            OnReceived(b.Port, text, ntohs(from.sin_port), data);
    }
}

std::optional<TEndpointError> TUpgradeEndpoint::Send(const TUpgradeSend& d) {
    const TBinding* b = nullptr;
    for (const TBinding& x : bindings_)
        if (x.Port == d.LocalPort && x.Fd >= 0)
            b = &x;
    if (!b)
        return TEndpointError{d.LocalPort, EBADF};
    in_addr dest{};
    if (::inet_pton(AF_INET, d.DestIP.c_str(), &dest) != 1)
        return TEndpointError{d.LocalPort, EDESTADDRREQ};
    sockaddr_in to = Address(dest.s_addr, d.DestPort);
    iovec iov{const_cast<std::uint8_t*>(d.Data.data()), d.Data.size()};
    msghdr m{};
    m.msg_name = &to;
    m.msg_namelen = sizeof to;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(in_pktinfo))> control{};
    if (b->Port == BootServerPort) {
        // The socket is bound to 0.0.0.0: name the interface and the source address.
        m.msg_control = control.data();
        m.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = ifIndex_;
        info.ipi_spec_dst.s_addr = local_;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    for (;;) {
        if (::sendmsg(b->Fd, &m, 0) >= 0) {
            if (capture_ != nullptr)
                capture_->Datagram({capture::TDirection::Sent,
                                    capture::TChannel::Upgrade,
                                    localText_,
                                    d.LocalPort,
                                    d.DestIP,
                                    d.DestPort,
                                    d.Data,
                                    {}});
            return std::nullopt;
        }
        if (errno != EINTR)
            return TEndpointError{d.LocalPort, errno};
    }
}

} // namespace varnix
