#include "lan/udp_svr.h"

#include "core/blocks.h"
#include "lan/local_addresses.h"

#include <QObject>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <type_traits>

namespace varnix {

namespace {

// Datagrams taken per recvmmsg call; each slot can hold the largest UDP payload, so no datagram
// is ever truncated (the buffers are touched only as far as datagrams fill them).
constexpr unsigned BatchSize = 32;
constexpr std::size_t SlotSize = 65536;

bool ParseIPv4(const std::string& text, in_addr& out) { return inet_pton(AF_INET, text.c_str(), &out) == 1; }

std::string IPv4Text(const in_addr& a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

}  // namespace

struct TUdpSvr::Binding {
    int Fd = -1;
    int Index = 0;
    std::string Address;
    std::uint16_t Port = 0;
    int ReceiveBuffer = 0;
    QSocketNotifier* Notifier = nullptr;  // deleted with deleteLater: it may be inside its own signal
    // Receive batch, allocated on the first wake-up.
    std::vector<std::uint8_t> Buffer;
    std::vector<mmsghdr> Headers;
    std::vector<iovec> Vectors;
    std::vector<sockaddr_in> Peers;
};

TUdpSvr::TUdpSvr(TUdpSvrOptions options)
    : options_(std::move(options)),
      store_(options_.Store != nullptr ? options_.Store : &GlobalBlockStore()),
      alive_(std::make_shared<bool>(true)) {}

std::unique_ptr<TUdpSvr> TUdpSvr::Create(TUdpSvrOptions options) {
    return std::make_unique<TUdpSvr>(std::move(options));
}

TUdpSvr::~TUdpSvr() {
    *alive_ = false;
    CloseBindings();
}

void TUdpSvr::Destroy() { CloseBindings(); }

void TUdpSvr::CloseBindings() {
    ++generation_;
    for (auto& b : bindings_) {
        if (b->Notifier != nullptr) {
            b->Notifier->setEnabled(false);
            b->Notifier->deleteLater();
            b->Notifier = nullptr;
        }
        if (b->Fd >= 0) ::close(b->Fd);
        b->Fd = -1;
    }
    bindings_.clear();
}

std::vector<std::string> TUdpSvr::LocalAddressList() const {
    if (options_.LocalAddresses) return options_.LocalAddresses();
    std::vector<std::string> list;
    GetLocalIPList(list, options_.IncludeLoopback);
    return list;
}

bool TUdpSvr::OpenBinding(const std::string& address) {
    in_addr local{};
    if (!ParseIPv4(address, local)) return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    int rcvbuf = options_.ReceiveBufferBytes;
    // SO_RCVBUFFORCE passes net.core.rmem_max where the process may (CAP_NET_ADMIN); otherwise
    // SO_RCVBUF gets as much as the limit allows.
    if (rcvbuf > 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = local;
    sa.sin_port = 0;  // the system picks a free port
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return false;
    }
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);

    auto b = std::make_shared<Binding>();
    b->Fd = fd;
    b->Index = static_cast<int>(bindings_.size());
    b->Address = address;
    b->Port = ntohs(sa.sin_port);
    len = sizeof b->ReceiveBuffer;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &b->ReceiveBuffer, &len);
    b->Notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    const std::weak_ptr<Binding> weak = b;
    QObject::connect(b->Notifier, &QSocketNotifier::activated, b->Notifier, [this, weak] {
        if (const auto binding = weak.lock()) ReadBinding(binding);
    });
    bindings_.push_back(std::move(b));
    return true;
}

void TUdpSvr::UpdateBindings() {
    const std::vector<std::string> list = LocalAddressList();
    bool differ = list.size() != bindings_.size();
    for (std::size_t i = 0; !differ && i < list.size(); ++i) differ = bindings_[i]->Address != list[i];
    if (!differ || list.empty()) return;
    CloseBindings();
    for (const std::string& address : list) {
        if (!OpenBinding(address)) {
            if (OnStatus) OnStatus(stPortInUse, PortInUseText);
            return;
        }
    }
}

int TUdpSvr::Search() {
    UpdateBindings();
    const TIdBytes request = BuildSearchRequest();
    bool allSent = true;
    const std::uint64_t generation = generation_;
    for (int i = 0; i < BindingCount(); ++i) {
        const sockaddr_in dest = [&] {
            sockaddr_in d{};
            d.sin_family = AF_INET;
            d.sin_port = htons(options_.PortZ2);
            ParseIPv4(options_.DestinationAddr, d.sin_addr);
            return d;
        }();
        Binding& b = *bindings_[static_cast<std::size_t>(i)];
        const ssize_t n = ::sendto(b.Fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&dest),
                                   sizeof dest);
        if (n != static_cast<ssize_t>(request.size())) {
            allSent = false;
            continue;
        }
        if (OnSend) OnSend(request, options_.DestinationAddr, b.Address, options_.PortZ2, b.Port);
        if (generation != generation_) return 0;  // a handler rebuilt the bindings under us
    }
    if (!allSent) return 0;
    if (OnStatus) OnStatus(stSearchSent, std::string());
    return 1;
}

void TUdpSvr::SendDatagram(int binding, const TIdBytes& data, std::uint16_t destPort) {
    if (binding < 0 || binding >= BindingCount()) return;
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(destPort);
    if (!ParseIPv4(options_.DestinationAddr, dest.sin_addr)) return;
    const Binding& b = *bindings_[static_cast<std::size_t>(binding)];
    const ssize_t n =
        ::sendto(b.Fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest);
    if (n != static_cast<ssize_t>(data.size())) return;
    if (OnSend) OnSend(data, options_.DestinationAddr, b.Address, destPort, b.Port);
}

void TUdpSvr::SendCommandZ3(int binding, std::string_view mac, std::string_view user, std::string_view password,
                            std::uint8_t code) {
    SendBlockZ3(binding, mac, code, user, password, {});
}

void TUdpSvr::SendCommandZ2(int binding, std::string_view mac, std::string_view user, std::string_view password,
                            std::uint8_t code) {
    SendBlockZ2(binding, mac, code, user, password, {});
}

void TUdpSvr::SendBlockZ3(int binding, std::string_view mac, std::uint8_t code, std::string_view user,
                          std::string_view password, std::span<const std::uint8_t> payload) {
    try {
        SendDatagram(binding, BuildAddressedCommand(code, mac, user, password, payload), options_.PortZ3);
    } catch (const ConversionError&) {
        // An unparsable MAC: nothing is sent, nothing is reported.
    }
}

void TUdpSvr::SendBlockZ2(int binding, std::string_view mac, std::uint8_t code, std::string_view user,
                          std::string_view password, std::span<const std::uint8_t> payload) {
    try {
        SendDatagram(binding, BuildAddressedCommand(code, mac, user, password, payload), options_.PortZ2);
    } catch (const ConversionError&) {
    }
}

std::string TUdpSvr::BindingAddress(int binding) const {
    if (binding < 0 || binding >= BindingCount()) return {};
    return bindings_[static_cast<std::size_t>(binding)]->Address;
}

std::uint16_t TUdpSvr::BindingPort(int binding) const {
    if (binding < 0 || binding >= BindingCount()) return 0;
    return bindings_[static_cast<std::size_t>(binding)]->Port;
}

int TUdpSvr::BindingReceiveBuffer(int binding) const {
    if (binding < 0 || binding >= BindingCount()) return 0;
    return bindings_[static_cast<std::size_t>(binding)]->ReceiveBuffer;
}

void TUdpSvr::ReadBinding(const std::shared_ptr<Binding>& binding) {
    const std::shared_ptr<Binding> b = binding;  // the batch stays valid whatever a handler does
    if (b->Buffer.empty()) {
        b->Buffer.resize(BatchSize * SlotSize);
        b->Headers.resize(BatchSize);
        b->Vectors.resize(BatchSize);
        b->Peers.resize(BatchSize);
    }
    // Not read again until this wake-up is done: a handler that runs a nested event loop (a modal
    // dialog) leaves this binding's datagrams queued in the kernel rather than re-entering here.
    b->Notifier->setEnabled(false);
    const std::weak_ptr<bool> alive = alive_;
    const std::uint64_t generation = generation_;
    const int fd = b->Fd;
    const int index = b->Index;
    in_addr lastPeer{};
    std::string lastPeerText;
    for (;;) {
        for (unsigned i = 0; i < BatchSize; ++i) {
            b->Vectors[i] = iovec{b->Buffer.data() + i * SlotSize, SlotSize};
            b->Headers[i] = mmsghdr{};
            b->Headers[i].msg_hdr.msg_iov = &b->Vectors[i];
            b->Headers[i].msg_hdr.msg_iovlen = 1;
            b->Headers[i].msg_hdr.msg_name = &b->Peers[i];
            b->Headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        }
        const int got = ::recvmmsg(fd, b->Headers.data(), BatchSize, MSG_DONTWAIT, nullptr);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            break;  // queue empty (EAGAIN) or an error: wait for the next wake-up
        }
        for (int i = 0; i < got; ++i) {
            const auto& h = b->Headers[static_cast<std::size_t>(i)];
            const sockaddr_in& peer = b->Peers[static_cast<std::size_t>(i)];
            // A burst comes mostly from one address (the simulator, or modules behind one
            // gateway); keep its text instead of formatting it for every datagram.
            if (peer.sin_addr.s_addr != lastPeer.s_addr || lastPeerText.empty()) {
                lastPeer = peer.sin_addr;
                lastPeerText = IPv4Text(peer.sin_addr);
            }
            HandleDatagram(index,
                           std::span<const std::uint8_t>(b->Buffer.data() + static_cast<std::size_t>(i) * SlotSize,
                                                         h.msg_len),
                           lastPeerText, ntohs(peer.sin_port));
            // A handler may have destroyed the endpoint or rebuilt its bindings (and with them b).
            if (alive.expired() || !*alive.lock() || generation != generation_) return;
        }
        if (static_cast<unsigned>(got) < BatchSize) break;
    }
    b->Notifier->setEnabled(true);
}

void TUdpSvr::HandleDatagram(int binding, std::span<const std::uint8_t> datagram, const std::string& peerAddr,
                             std::uint16_t peerPort) {
    if (OnReceive) {
        const std::weak_ptr<bool> alive = alive_;
        const TIdBytes copy(datagram.begin(), datagram.end());
        OnReceive(copy, peerAddr, BindingAddress(binding), peerPort, BindingPort(binding));
        if (alive.expired()) return;  // the handler destroyed the endpoint
    }

    std::visit(
        [&](auto&& c) {
            using T = std::decay_t<decltype(c)>;
            if constexpr (std::is_same_v<T, TStatusDatagram>) {
                if (OnStatus) OnStatus(c.Code, c.Text);
            } else if constexpr (std::is_same_v<T, TSearchReply>) {
                if (OnSearchReply) OnSearchReply(c.IP, c.Name, c.MAC, c.Firmware, c.Family, binding);
            } else if constexpr (std::is_same_v<T, TModbusDatagram>) {
                if (OnModbusParams) OnModbusParams(c.Param, c.Kind);
            } else if constexpr (std::is_same_v<T, TBlockDatagram>) {
                // The store is filled before the event, so the handler and every later encoder
                // see the module's bytes.
                const std::span<const std::uint8_t> d = datagram;
                switch (c.Block) {
                case TBlockReply::Params130: {
                    store_->StoreParamReply(d.first<ParamReplySize>());
                    if (OnDeviceParams) {
                        const auto [base, ports] = DecodeParamReply(d.first<ParamReplySize>());
                        OnDeviceParams(base, ports, c.Family, 0);
                    }
                    break;
                }
                case TBlockReply::Cloud50:
                    store_->StoreCloud(d.first<CloudBlockSize>());
                    if (OnCloudParams) OnCloudParams(DecodeCloudBlock(d.first<CloudBlockSize>()), 0, c.Family);
                    break;
                case TBlockReply::Heart85:
                    store_->StoreHeart(d.first<HeartBlockSize>());
                    if (OnHeartParams) OnHeartParams(store_->Heart, 0, c.Family);
                    break;
                case TBlockReply::Httpd302: {
                    store_->StoreHttpd(d.first<HttpdReplySize>());
                    if (OnHttpdTexts) {
                        const auto [url, header] = DecodeHttpdTexts(std::span<const std::uint8_t, HttpdReplySize>(store_->Httpd));
                        OnHttpdTexts(url, header);
                    }
                    break;
                }
                }
            }
        },
        ClassifyDatagram(datagram, peerPort));
}

}  // namespace varnix
