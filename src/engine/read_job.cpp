#include "engine/read_job.h"

#include "core/blocks.h"
#include "core/convert.h"

#include <utility>

namespace varnix {

TReadJob::TReadJob(TLane& lane, TClock& clock, TReadRequest request)
    : lane_(lane), request_(std::move(request)), deadline_(clock.NewTimer()), quiet_(clock.NewTimer()) {}

TReadJob::~TReadJob() {
    Cancel();
}

void TReadJob::Start() {
    result_ = TReadResult{};
    mac_ = MacKey(request_.Module.Mac);
    running_ = true;
    lane_.Serve(request_.Module);
    lane_.OnBlock = [this](TBlockReply b, std::span<const std::uint8_t> bytes) { Block(b, bytes); };
    lane_.OnModbus = [this](const TModbusDatagram& m, std::span<const std::uint8_t> bytes) {
        Modbus(m, bytes);
    };
    lane_.OnAck = [this](const TAck& a) { Ack(a); };
    lane_.SendCommand(request_.Login, CmdRead);
    deadline_->Start(request_.TimeoutMs, [this] { Finish(); });
}

void TReadJob::Unhook() {
    lane_.OnBlock = nullptr;
    lane_.OnModbus = nullptr;
    lane_.OnAck = nullptr;
    deadline_->Stop();
    quiet_->Stop();
}

void TReadJob::Cancel() {
    if (!running_)
        return;
    running_ = false;
    Unhook();
}

void TReadJob::Replied() {
    if (result_.Status != TOutcome::Password && result_.Status != TOutcome::ModuleError)
        quiet_->Start(request_.QuietMs, [this] { Quiet(); });
    if (OnProgress)
        OnProgress();
}

void TReadJob::Quiet() {
    // A reply that arrived before the quiet time was up counts, even when the event loop had not
    // got round to its socket yet: it restarts the quiet time.
    lane_.PollNow();
    if (running_ && !quiet_->Active())
        Finish();
}

void TReadJob::Block(TBlockReply block, std::span<const std::uint8_t> bytes) {
    TBlockStore& s = result_.Store;
    switch (block) {
    case TBlockReply::Params130: {
        const auto reply = bytes.first<ParamReplySize>();
        // The base block's MAC tells whose reply this is; a module not yet given one sends FFs.
        const std::string mac = MacKey(DecodeParamReply(reply).first.UserMAC);
        if (mac != mac_ && mac != "FFFFFFFFFFFF") {
            ++result_.ForeignReplies;
            return;
        }
        s.StoreParamReply(reply);
        result_.Got.Params = true;
        break;
    }
    case TBlockReply::Cloud50:
        s.StoreCloud(bytes.first<CloudBlockSize>());
        result_.Got.Cloud = true;
        break;
    case TBlockReply::Heart85:
        s.StoreHeart(bytes.first<HeartBlockSize>());
        result_.Got.Heart = true;
        break;
    case TBlockReply::Httpd302:
        s.StoreHttpd(bytes.first<HttpdReplySize>());
        result_.Got.Httpd = true;
        break;
    }
    Replied();
}

void TReadJob::Modbus(const TModbusDatagram& m, std::span<const std::uint8_t> bytes) {
    result_.Store.StoreModbus(bytes);
    result_.Got.ModbusKind = m.Kind;
    result_.Got.Modbus = m.Param;
    Replied();
}

void TReadJob::Ack(const TAck& ack) {
    if (ack.Result == 'K')
        return; // nothing a read asks for
    result_.Status = AckOutcome(ack);
    result_.Error = QStringLiteral("the module answered the read with %1").arg(AckResultText(ack));
    quiet_->Start(0, [this] { Finish(); });
}

TModuleSettings TReadJob::PartialSettings() const {
    return DecodeModuleSettings(request_.Module.Family, request_.Module.Firmware, result_.Store, result_.Got);
}

void TReadJob::Finish() {
    if (!running_)
        return;
    running_ = false;
    Unhook();
    TReadResult r = std::move(result_);
    r.ForeignDatagrams = lane_.ForeignCount();
    if (r.Status != TOutcome::Password && r.Status != TOutcome::ModuleError) {
        if (!r.Got.Params) {
            r.Status = TOutcome::NoAnswer;
            r.Error = QStringLiteral("no parameter reply within %1 ms").arg(request_.TimeoutMs);
            if (r.ForeignReplies > 0)
                r.Error += QStringLiteral(" (%1 reply of another MAC ignored)").arg(r.ForeignReplies);
        } else {
            r.Status = TOutcome::Ok;
            r.Settings =
                DecodeModuleSettings(request_.Module.Family, request_.Module.Firmware, r.Store, r.Got);
        }
    }
    // The owner may destroy this job from OnDone.
    if (const auto done = OnDone)
        done(std::move(r));
}

} // namespace varnix
