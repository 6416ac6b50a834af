#include "engine/module_lane.h"

#include "engine/save_executor.h"
#include "lan/lan_protocol.h"

#include <utility>

namespace varnix {

TModuleLane::TModuleLane(TUdpSvrOptions options) {
    options.Store = &store_;
    svr_ = std::make_unique<TUdpSvr>(std::move(options));
    for (QTimer* t : {&deadline_, &quiet_}) {
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
        QObject::connect(t, &QTimer::timeout, [this] { Finish(); });
    }
    Wire();
}

TModuleLane::~TModuleLane() = default;

void TModuleLane::Wire() {
    svr_->OnReceive = [this](const TIdBytes& data, const std::string&, const std::string&, std::uint16_t,
                             std::uint16_t) { lastDatagram_ = data; };
    svr_->OnStatus = [this](std::int32_t code, const std::string& text) {
        const std::optional<TAck> ack = AckOfStatus(code, text, lastDatagram_);
        if (!ack)
            return;
        if (!Reading()) {
            if (OnAck)
                OnAck(*ack);
            return;
        }
        if (ack->Result == 'K')
            return;
        result_.Status = AckExit(*ack);
        result_.Error = QStringLiteral("the module answered the read with %1").arg(AckResultText(*ack));
        quiet_.start(0);
    };
    svr_->OnDeviceParams = [this](const TBaseParam& base, const TarrComParam&, std::int32_t, std::int32_t) {
        if (!Reading())
            return;
        // The base block's MAC tells whose reply this is; a module not yet given one sends FFs.
        const std::string mac = MacKey(base.UserMAC);
        if (mac != mac_ && mac != "FFFFFFFFFFFF") {
            ++result_.ForeignReplies;
            return;
        }
        result_.Store.BasePort = store_.BasePort;
        result_.Store.KeptStatus = store_.KeptStatus;
        result_.Store.KeptSocketFlags = store_.KeptSocketFlags;
        result_.Got.Params = true;
        Replied();
    };
    svr_->OnCloudParams = [this](const TarrCloudParam&, std::int32_t, std::int32_t) {
        result_.Store.Cloud = store_.Cloud;
        result_.Got.Cloud = true;
        Replied();
    };
    svr_->OnHeartParams = [this](const std::array<std::uint8_t, HeartBlockSize>&, std::int32_t,
                                 std::int32_t) {
        result_.Store.Heart = store_.Heart;
        result_.Got.Heart = true;
        Replied();
    };
    svr_->OnHttpdTexts = [this](const std::string&, const std::string&) {
        result_.Store.Httpd = store_.Httpd;
        result_.Got.Httpd = true;
        Replied();
    };
    svr_->OnModbusParams = [this](const TModbusParam& param, int kind) {
        result_.Store.Modbus = store_.Modbus;
        result_.Got.ModbusKind = kind;
        result_.Got.Modbus = param;
        Replied();
    };
}

void TModuleLane::Replied() {
    if (Reading() && result_.Status != TExit::Password && result_.Status != TExit::ModuleError)
        quiet_.start(quietMs_);
}

int TModuleLane::BindingFor(const TFoundModule& m) {
    svr_->UpdateBindings();
    for (int i = 0; i < svr_->BindingCount(); ++i)
        if (svr_->BindingAddress(i) == m.Local)
            return i;
    return m.Binding;
}

void TModuleLane::SendStep(const TFoundModule& m, const TLogin& login, const TSaveStep& step) {
    SendSaveStep(*svr_, step, TLanTarget{BindingFor(m), m.Mac}, login.User, login.Password);
}

void TModuleLane::StartRead(const TFoundModule& m, const TLogin& login, int timeoutMs, int quietMs,
                            std::function<void(TReadResult)> done) {
    const int binding = BindingFor(m);
    module_ = m;
    mac_ = MacKey(m.Mac);
    result_ = TReadResult{};
    quietMs_ = quietMs;
    done_ = std::move(done);
    if (m.Family == FamilyZ3)
        svr_->SendCommandZ3(binding, m.Mac, login.User, login.Password, CmdRead);
    else
        svr_->SendCommandZ2(binding, m.Mac, login.User, login.Password, CmdRead);
    deadline_.start(std::max(0, timeoutMs));
}

void TModuleLane::Finish() {
    if (!Reading())
        return;
    deadline_.stop();
    quiet_.stop();
    TReadResult r = std::move(result_);
    if (r.Status != TExit::Password && r.Status != TExit::ModuleError) {
        if (!r.Got.Params) {
            r.Status = TExit::NoAnswer;
            r.Error = QStringLiteral("no parameter reply within %1 ms").arg(deadline_.interval());
            if (r.ForeignReplies > 0)
                r.Error += QStringLiteral(" (%1 reply of another MAC ignored)").arg(r.ForeignReplies);
        } else {
            r.Status = TExit::Ok;
            r.Settings = DecodeModuleSettings(module_.Family, module_.Firmware, r.Store, r.Got);
        }
    }
    // Whatever the module still sends for this read is not taken into the next one.
    svr_->BeginRead(-1, {});
    auto done = std::exchange(done_, nullptr);
    done(std::move(r));
}

} // namespace varnix
