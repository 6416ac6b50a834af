#include "engine/lane.h"

#include <type_traits>
#include <utility>
#include <variant>

namespace varnix {

TLane::TLane(TUdpSvrOptions options) {
    svr_ = std::make_unique<TUdpSvr>(std::move(options));
    svr_->OnReceive = [this](const TIdBytes& data, const std::string& peer, const std::string& local,
                             std::uint16_t peerPort, std::uint16_t localPort) {
        if (OnReceived)
            OnReceived(data, peer, local, peerPort, localPort);
        Received(data, peer, peerPort);
    };
    svr_->OnSend = [this](const TIdBytes& data, const std::string& dest, const std::string& local,
                          std::uint16_t destPort, std::uint16_t localPort) {
        if (OnSent)
            OnSent(data, dest, local, destPort, localPort);
    };
    svr_->OnSearchReply = [this](const TSearchHit& h) {
        if (!OnSearchHit)
            return;
        TFoundModule m;
        m.Ip = h.Reply.IP;
        m.Name = h.Reply.Name;
        m.Mac = h.Reply.MAC;
        m.Firmware = h.Reply.FirmwareNumber;
        m.Family = h.Reply.Family;
        m.Binding = h.Binding;
        m.Local = svr_->BindingAddress(h.Binding);
        m.PeerAddr = h.PeerAddr;
        m.PeerPort = h.PeerPort;
        OnSearchHit(m);
    };
}

TLane::~TLane() = default;

int TLane::BindingFor(const TFoundModule& m) {
    svr_->UpdateBindings();
    for (int i = 0; i < svr_->BindingCount(); ++i)
        if (svr_->BindingAddress(i) == m.Local)
            return i;
    return m.Binding;
}

void TLane::Serve(const TFoundModule& m) {
    module_ = m;
    serving_ = true;
    foreign_ = 0;
    lastPort_ = 0;
    binding_ = BindingFor(m);
}

void TLane::Release() {
    serving_ = false;
    module_ = TFoundModule{};
}

std::uint16_t TLane::PortFor(std::uint8_t code) const {
    return module_.Family == FamilyZ3 && code != CmdRestart ? PortZ3 : PortZ2;
}

void TLane::Send(const TLogin& login, std::uint8_t code, std::span<const std::uint8_t> payload,
                 std::uint16_t port) {
    if (!serving_)
        return;
    // The protocol's ports stand for the endpoint's own (tests and the demo move them).
    const TUdpSvrOptions& o = svr_->Options();
    lastPort_ = port == PortZ3 ? o.PortZ3 : o.PortZ2;
    try {
        svr_->SendDatagram(binding_,
                           BuildAddressedCommand(code, module_.Mac, login.User, login.Password, payload),
                           lastPort_);
    } catch (const ConversionError&) {
        // A MAC that does not read: nothing can be sent to this module.
    }
}

void TLane::SendCommand(const TLogin& login, std::uint8_t code) {
    Send(login, code, {}, PortFor(code));
}

void TLane::Search() {
    svr_->Search();
}

void TLane::Received(const TIdBytes& data, const std::string& peer, std::uint16_t peerPort) {
    const TDatagramClass c = ClassifyDatagram(data, svr_->RolePort(peerPort));
    if (std::holds_alternative<TSearchReply>(c) || std::holds_alternative<TIgnoredDatagram>(c))
        return; // search replies are for anyone; ignored lengths are nobody's
    const bool fromModule = serving_ && peer == module_.PeerAddr;
    const bool fromModulePort = fromModule && peerPort == module_.PeerPort;
    std::visit(
        [&](const auto& d) {
            using T = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<T, TStatusDatagram>) {
                const std::optional<TAck> ack = AckOfStatus(d.Code, d.Text);
                if (!ack) {
                    // An unknown length or another series: no answer, but worth saying when the
                    // module sent it.
                    if (fromModule && OnOtherStatus)
                        OnOtherStatus(d.Code, d.Text);
                    return;
                }
                if (!fromModulePort && !(fromModule && peerPort == lastPort_)) {
                    ++foreign_;
                } else if (OnAck) {
                    OnAck(*ack);
                }
            } else if constexpr (std::is_same_v<T, TModbusDatagram>) {
                if (!fromModulePort)
                    ++foreign_;
                else if (OnModbus)
                    OnModbus(d, data);
            } else if constexpr (std::is_same_v<T, TBlockDatagram>) {
                if (!fromModulePort)
                    ++foreign_;
                else if (OnBlock)
                    OnBlock(d.Block, data);
            }
        },
        c);
}

} // namespace varnix
