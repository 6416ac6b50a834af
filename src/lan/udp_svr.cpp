#include "lan/udp_svr.h"

#include "core/blocks.h"
#include "core/convert.h"
#include "lan/local_addresses.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <type_traits>

namespace varnix {

namespace {

// Datagrams taken per recvmmsg call; each slot can hold the largest UDP payload, so no datagram
// is ever truncated (the buffers are touched only as far as datagrams fill them).
constexpr unsigned BatchSize = 32;
constexpr std::size_t SlotSize = 65536;

bool ParseIPv4(const std::string& text, in_addr& out) {
    return inet_pton(AF_INET, text.c_str(), &out) == 1;
}

std::string IPv4Text(const in_addr& a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

// The interface that owns a local address: its name, index and the subnet's broadcast address.
// Found only for an interface that can broadcast (not loopback).
struct TInterfaceOf {
    std::string Name;
    int Index = 0;
    in_addr Broadcast{};
};

bool FindInterface(const in_addr& local, TInterfaceOf& out) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if ((i->ifa_flags & IFF_BROADCAST) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0)
            continue;
        sockaddr_in a{};
        std::memcpy(&a, i->ifa_addr, sizeof a);
        if (a.sin_addr.s_addr != local.s_addr)
            continue;
        out.Name = i->ifa_name;
        out.Index = static_cast<int>(::if_nametoindex(i->ifa_name));
        sockaddr_in mask{};
        if (i->ifa_netmask != nullptr)
            std::memcpy(&mask, i->ifa_netmask, sizeof mask);
        out.Broadcast.s_addr = local.s_addr | ~mask.sin_addr.s_addr;
        found = out.Index != 0;
    }
    ::freeifaddrs(list);
    return found;
}

// A datagram socket with broadcast allowed. SO_REUSEADDR is left to the caller: it must be set
// only after the port is chosen (see OpenBinding).
int OpenUdpSocket(int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    int rcvbuf = receiveBuffer;
    // SO_RCVBUFFORCE passes net.core.rmem_max where the process may (CAP_NET_ADMIN); otherwise
    // SO_RCVBUF gets as much as the limit allows.
    if (rcvbuf > 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ShareAddress(int fd) {
    const int on = 1;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

std::uint16_t PortOf(int fd) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 ? ntohs(sa.sin_port) : 0;
}

bool BindTo(int fd, in_addr address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = address;
    sa.sin_port = htons(port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
}

// The companion of a binding at `port`: 0.0.0.0, kept to the interface. SO_BINDTODEVICE needs no
// privilege since Linux 5.7; where it is refused, the interface index of every datagram
// (IP_PKTINFO) keeps it to the interface instead.
int OpenCompanion(const TInterfaceOf& iface, int receiveBuffer) {
    const int fd = OpenUdpSocket(receiveBuffer);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, iface.Name.c_str(),
                 static_cast<socklen_t>(iface.Name.size()));
    // Bound without SO_REUSEADDR, the system picks a port that no socket of any address holds;
    // SO_REUSEADDR comes after, so the binding's own socket can join it at its address. A port
    // picked for a socket that already shares its address could be one that another such socket
    // holds (measured: 4 of 400 lanes got a port twice), and then both would hear each other's
    // broadcast replies.
    if (!BindTo(fd, in_addr{htonl(INADDR_ANY)}, 0) || !ShareAddress(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The address the kernel sends from to `dest`: the preferred source of its route, "" without one.
// connect() on a datagram socket only looks the route up; nothing is sent.
std::string RouteSource(const sockaddr_in& dest) {
    const int fd = OpenUdpSocket(0);
    if (fd < 0)
        return {};
    sockaddr_in local{};
    socklen_t len = sizeof local;
    const bool found = ::connect(fd, reinterpret_cast<const sockaddr*>(&dest), sizeof dest) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0;
    ::close(fd);
    char text[INET_ADDRSTRLEN] = {};
    return found && ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) ? std::string(text)
                                                                             : std::string();
}

} // namespace

struct TUdpSvr::Binding {
    // [0]: bound to the address; [1]: the broadcast companion (absent: -1).
    int Fds[2] = {-1, -1};
    // Deleted with deleteLater: they may be inside their own signal.
    QSocketNotifier* Notifiers[2] = {nullptr, nullptr};
    int Index = 0;
    std::string Address;
    in_addr Local{};
    int IfIndex = 0;
    in_addr Broadcast{};
    std::uint16_t Port = 0;
    int ReceiveBuffer = 0;
    // Receive batch, allocated on the first wake-up, and how far it has been handled.
    std::vector<std::uint8_t> Buffer;
    std::vector<mmsghdr> Headers;
    std::vector<iovec> Vectors;
    std::vector<sockaddr_in> Peers;
    std::vector<std::uint8_t> Control;
    int BatchSocket = 0; // which socket the batch came from
    int BatchCount = 0;
    int BatchNext = 0;
    int NextSocket = 0;      // the socket read next, alternating so neither starves the other
    bool Reading = false;    // a turn is in progress (belt and braces: the notifiers are off too)
    bool Continuing = false; // a continuation is scheduled for the next turn
};

TUdpSvr::TUdpSvr(TUdpSvrOptions options)
    : options_(std::move(options)), alive_(std::make_shared<bool>(true)) {}

std::unique_ptr<TUdpSvr> TUdpSvr::Create(TUdpSvrOptions options) {
    return std::make_unique<TUdpSvr>(std::move(options));
}

TUdpSvr::~TUdpSvr() {
    *alive_ = false;
    CloseBindings();
}

void TUdpSvr::Destroy() {
    CloseBindings();
}

void TUdpSvr::CloseBindings() {
    ++generation_;
    for (auto& b : bindings_) {
        for (int s = 0; s < 2; ++s) {
            if (b->Notifiers[s] != nullptr) {
                b->Notifiers[s]->setEnabled(false);
                b->Notifiers[s]->deleteLater();
                b->Notifiers[s] = nullptr;
            }
            if (b->Fds[s] >= 0)
                ::close(b->Fds[s]);
            b->Fds[s] = -1;
        }
    }
    bindings_.clear();
}

std::vector<std::string> TUdpSvr::LocalAddressList() const {
    if (options_.LocalAddresses)
        return options_.LocalAddresses();
    std::vector<std::string> list;
    GetLocalIPList(list, options_.IncludeLoopback);
    return list;
}

bool TUdpSvr::OpenBinding(const std::string& address) {
    in_addr local{};
    if (!ParseIPv4(address, local))
        return false;
    TInterfaceOf iface;
    const bool broadcastCapable = FindInterface(local, iface);
    int fd = -1;
    int companion = -1;
    std::uint16_t port = 0;
    if (!broadcastCapable) {
        // Loopback: one socket, on a port of its own.
        fd = OpenUdpSocket(options_.ReceiveBufferBytes);
        if (fd < 0 || !BindTo(fd, local, 0)) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        port = PortOf(fd);
    }
    // The companion takes a port that nobody holds; the binding's own socket then joins it at its
    // address, which another program may hold at that port: try a few ports before giving up.
    for (int attempt = 0; broadcastCapable && attempt < 8 && fd < 0; ++attempt) {
        companion = OpenCompanion(iface, options_.ReceiveBufferBytes);
        if (companion < 0)
            return false;
        port = PortOf(companion);
        fd = OpenUdpSocket(options_.ReceiveBufferBytes);
        if (fd >= 0 && (!ShareAddress(fd) || !BindTo(fd, local, port))) {
            ::close(fd);
            fd = -1;
        }
        if (fd < 0) {
            ::close(companion);
            companion = -1;
        }
    }
    if (fd < 0)
        return false;

    auto b = std::make_shared<Binding>();
    b->Fds[0] = fd;
    b->Fds[1] = companion;
    b->Index = static_cast<int>(bindings_.size());
    b->Address = address;
    b->Local = local;
    b->IfIndex = broadcastCapable ? iface.Index : 0;
    b->Broadcast = iface.Broadcast;
    b->Port = port;
    socklen_t len = sizeof b->ReceiveBuffer;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &b->ReceiveBuffer, &len);
    const std::weak_ptr<Binding> weak = b;
    for (int s = 0; s < 2; ++s) {
        if (b->Fds[s] < 0)
            continue;
        b->Notifiers[s] = new QSocketNotifier(b->Fds[s], QSocketNotifier::Read);
        QObject::connect(b->Notifiers[s], &QSocketNotifier::activated, b->Notifiers[s], [this, weak] {
            if (const auto binding = weak.lock())
                ReadBinding(binding);
        });
    }
    bindings_.push_back(std::move(b));
    return true;
}

void TUdpSvr::UpdateBindings() {
    const std::vector<std::string> list = LocalAddressList();
    bool differ = list.size() != bindings_.size();
    for (std::size_t i = 0; !differ && i < list.size(); ++i)
        differ = bindings_[i]->Address != list[i];
    if (!differ || list.empty())
        return;
    CloseBindings();
    for (const std::string& address : list) {
        if (!OpenBinding(address)) {
            if (OnStatus)
                OnStatus(stPortInUse, PortInUseText);
            return;
        }
    }
}

int TUdpSvr::Search() {
    UpdateBindings();
    const TIdBytes request = BuildSearchRequest();
    bool allSent = true;
    const std::uint64_t generation = generation_;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(options_.PortZ2);
    ParseIPv4(options_.DestinationAddr, dest.sin_addr);
    // Only a datagram to the limited broadcast leaves through the interface of the address it is
    // sent from, so only then does each binding reach a segment of its own. Any other destination
    // (a module's address, a directed broadcast, loopback) is routed by the destination alone:
    // sent from every binding it takes the same path once per binding, and every module answers
    // once per binding (each listed that many times, and "seen through two adapters"). It goes
    // out once, from the binding the kernel itself would send from.
    int only = -1;
    if (dest.sin_addr.s_addr != htonl(INADDR_BROADCAST) && BindingCount() > 1) {
        const std::string source = RouteSource(dest);
        for (int i = 0; i < BindingCount() && only < 0; ++i)
            if (BindingAddress(i) == source)
                only = i;
    }
    for (int i = 0; i < BindingCount(); ++i) {
        if (only >= 0 && i != only)
            continue;
        Binding& b = *bindings_[static_cast<std::size_t>(i)];
        const ssize_t n = ::sendto(b.Fds[0], request.data(), request.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
        if (n != static_cast<ssize_t>(request.size())) {
            allSent = false;
            continue;
        }
        Captured(capture::TDirection::Sent, request, options_.DestinationAddr, b.Address, options_.PortZ2,
                 b.Port);
        if (OnSend)
            OnSend(request, options_.DestinationAddr, b.Address, options_.PortZ2, b.Port);
        if (generation != generation_)
            return 0; // a handler rebuilt the bindings under us
    }
    if (!allSent)
        return 0;
    if (OnStatus)
        OnStatus(stSearchSent, std::string());
    return 1;
}

void TUdpSvr::SendDatagram(int binding, const TIdBytes& data, std::uint16_t destPort) {
    if (binding < 0 || binding >= BindingCount())
        return;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(destPort);
    if (!ParseIPv4(options_.DestinationAddr, dest.sin_addr))
        return;
    const Binding& b = *bindings_[static_cast<std::size_t>(binding)];
    const ssize_t n = ::sendto(b.Fds[0], data.data(), data.size(), 0,
                               reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (n != static_cast<ssize_t>(data.size()))
        return;
    Captured(capture::TDirection::Sent, data, options_.DestinationAddr, b.Address, destPort, b.Port);
    if (OnSend)
        OnSend(data, options_.DestinationAddr, b.Address, destPort, b.Port);
}

void TUdpSvr::Captured(capture::TDirection direction, std::span<const std::uint8_t> data,
                       std::string_view peer, std::string_view local, std::uint16_t peerPort,
                       std::uint16_t localPort) const {
    if (options_.Capture == nullptr)
        return;
    options_.Capture->Datagram(
        {direction, capture::TChannel::Lan, local, localPort, peer, peerPort, data, {}});
}

std::string TUdpSvr::BindingAddress(int binding) const {
    if (binding < 0 || binding >= BindingCount())
        return {};
    return bindings_[static_cast<std::size_t>(binding)]->Address;
}

bool TUdpSvr::BindingHearsBroadcasts(int binding) const {
    if (binding < 0 || binding >= BindingCount())
        return false;
    return bindings_[static_cast<std::size_t>(binding)]->Fds[1] >= 0;
}

void TUdpSvr::SetTurnBudget(int maxBatches, int maxMicroseconds) {
    turnBatches_ = std::max(1, maxBatches);
    turnMicroseconds_ = std::max(1, maxMicroseconds);
}

std::uint16_t TUdpSvr::RolePort(std::uint16_t peerPort) const {
    if (peerPort == options_.PortZ2)
        return varnix::PortZ2;
    if (peerPort == options_.PortZ3)
        return varnix::PortZ3;
    return peerPort;
}

void TUdpSvr::PollNow() {
    const std::uint64_t generation = generation_;
    const std::vector<std::shared_ptr<Binding>> bindings = bindings_;
    const std::weak_ptr<bool> alive = alive_;
    for (const auto& b : bindings) {
        if (!b->Reading)
            ReadBinding(b);
        if (alive.expired() || generation != generation_)
            return; // a handler destroyed the endpoint or rebuilt its bindings
    }
}

std::uint16_t TUdpSvr::BindingPort(int binding) const {
    if (binding < 0 || binding >= BindingCount())
        return 0;
    return bindings_[static_cast<std::size_t>(binding)]->Port;
}

int TUdpSvr::BindingReceiveBuffer(int binding) const {
    if (binding < 0 || binding >= BindingCount())
        return 0;
    return bindings_[static_cast<std::size_t>(binding)]->ReceiveBuffer;
}

void TUdpSvr::SetNotifiers(Binding& b, bool enabled) {
    for (QSocketNotifier* n : b.Notifiers)
        if (n != nullptr)
            n->setEnabled(enabled);
}

// Takes the next batch, from the two sockets in turn; false when both queues are empty.
bool TUdpSvr::ReceiveBatch(Binding& b) {
    const std::size_t controlSize = CMSG_SPACE(sizeof(in_pktinfo));
    for (int tries = 0; tries < 2; ++tries) {
        const int s = b.NextSocket;
        b.NextSocket = b.Fds[1] >= 0 ? 1 - s : 0;
        if (b.Fds[s] < 0)
            continue;
        for (unsigned i = 0; i < BatchSize; ++i) {
            b.Vectors[i] = iovec{b.Buffer.data() + i * SlotSize, SlotSize};
            b.Headers[i] = mmsghdr{};
            b.Headers[i].msg_hdr.msg_iov = &b.Vectors[i];
            b.Headers[i].msg_hdr.msg_iovlen = 1;
            b.Headers[i].msg_hdr.msg_name = &b.Peers[i];
            b.Headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            b.Headers[i].msg_hdr.msg_control = b.Control.data() + i * controlSize;
            b.Headers[i].msg_hdr.msg_controllen = controlSize;
        }
        int got;
        do {
            got = ::recvmmsg(b.Fds[s], b.Headers.data(), BatchSize, MSG_DONTWAIT, nullptr);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            b.BatchSocket = s;
            b.BatchCount = got;
            b.BatchNext = 0;
            return true;
        }
    }
    return false;
}

// The companion hears its port on every address of its interface; it keeps what a socket bound
// to the binding's address hears on Windows: its own address and the two broadcast addresses.
bool TUdpSvr::CompanionKeeps(const Binding& b, msghdr& h) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&h); c != nullptr; c = CMSG_NXTHDR(&h, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
            continue;
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        const std::uint32_t to = info.ipi_addr.s_addr;
        return info.ipi_ifindex == b.IfIndex &&
               (to == htonl(INADDR_BROADCAST) || to == b.Broadcast.s_addr || to == b.Local.s_addr);
    }
    return false;
}

void TUdpSvr::ReadBinding(const std::shared_ptr<Binding>& binding) {
    const std::shared_ptr<Binding> b = binding; // the batch stays valid whatever a handler does
    if (b->Reading)
        return;
    if (b->Buffer.empty()) {
        b->Buffer.resize(BatchSize * SlotSize);
        b->Headers.resize(BatchSize);
        b->Vectors.resize(BatchSize);
        b->Peers.resize(BatchSize);
        b->Control.resize(BatchSize * CMSG_SPACE(sizeof(in_pktinfo)));
    }
    // Not read again until this turn is done: a handler that runs a nested event loop (a modal
    // dialog) leaves this binding's datagrams queued in the kernel rather than re-entering here.
    SetNotifiers(*b, false);
    b->Reading = true;
    b->Continuing = false;
    const std::weak_ptr<bool> alive = alive_;
    const std::uint64_t generation = generation_;
    const auto start = std::chrono::steady_clock::now();
    const auto budget = std::chrono::microseconds(turnMicroseconds_);
    int batches = 0;
    in_addr lastPeer{};
    std::string lastPeerText;
    for (;;) {
        if (b->BatchNext >= b->BatchCount) {
            if (batches >= turnBatches_ || !ReceiveBatch(*b))
                break;
            ++batches;
        }
        const int i = b->BatchNext++;
        auto& h = b->Headers[static_cast<std::size_t>(i)];
        const sockaddr_in& peer = b->Peers[static_cast<std::size_t>(i)];
        if (b->BatchSocket == 1 && !CompanionKeeps(*b, h.msg_hdr))
            continue;
        // A burst comes mostly from one address (the simulator, or modules behind one gateway);
        // keep its text instead of formatting it for every datagram.
        if (peer.sin_addr.s_addr != lastPeer.s_addr || lastPeerText.empty()) {
            lastPeer = peer.sin_addr;
            lastPeerText = IPv4Text(peer.sin_addr);
        }
        HandleDatagram(b->Index,
                       std::span<const std::uint8_t>(
                           b->Buffer.data() + static_cast<std::size_t>(i) * SlotSize, h.msg_len),
                       lastPeerText, ntohs(peer.sin_port));
        // A handler may have destroyed the endpoint or rebuilt its bindings (and with them b).
        if (alive.expired() || !*alive.lock() || generation != generation_)
            return;
        if (std::chrono::steady_clock::now() - start >= budget)
            break;
    }
    b->Reading = false;
    if (b->BatchNext >= b->BatchCount && batches < turnBatches_) {
        // Both queues are empty (or the time ran out with the batch done: the notifiers, level
        // triggered, bring the rest on the next turn).
        SetNotifiers(*b, true);
        return;
    }
    // Work is left (in the batch or in the kernel): continue on the next event-loop turn, after
    // the timers, painting and input that are waiting.
    ++yieldedTurns_;
    b->Continuing = true;
    const std::weak_ptr<Binding> weak = b;
    QTimer::singleShot(0, b->Notifiers[0], [this, weak] {
        const auto next = weak.lock();
        if (next && next->Continuing)
            ReadBinding(next);
    });
}

void TUdpSvr::HandleDatagram(int binding, std::span<const std::uint8_t> datagram, const std::string& peerAddr,
                             std::uint16_t peerPort) {
    if (options_.Capture != nullptr && binding >= 0 && binding < BindingCount()) {
        const Binding& b = *bindings_[static_cast<std::size_t>(binding)];
        Captured(capture::TDirection::Received, datagram, peerAddr, b.Address, peerPort, b.Port);
    }
    if (OnReceive) {
        const std::weak_ptr<bool> alive = alive_;
        const TIdBytes copy(datagram.begin(), datagram.end());
        OnReceive(copy, peerAddr, BindingAddress(binding), peerPort, BindingPort(binding));
        if (alive.expired())
            return; // the handler destroyed the endpoint
    }

    std::visit(
        [&](auto&& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, TStatusDatagram>) {
                if (OnStatus)
                    OnStatus(c.Code, c.Text);
            } else if constexpr (std::is_same_v<T, TSearchReply>) {
                if (OnSearchReply)
                    OnSearchReply(TSearchHit{c, binding, peerAddr, peerPort});
            }
        },
        ClassifyDatagram(datagram, RolePort(peerPort)));
}

} // namespace varnix
