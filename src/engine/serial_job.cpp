#include "engine/serial_job.h"

#include "serial/comm.h"

#include <cerrno>
#include <cstring>

namespace varnix {

TSerialOpenError SerialOpenError(const ECommsError& e, std::string path) {
    TSerialOpenError out;
    out.SystemError = e.SystemError();
    out.Text = e.what();
    out.Path = std::move(path);
    if (std::strcmp(e.what(), CommErrNotComm) == 0) {
        out.Kind = TSerialOpenFailure::NotSerial;
        return out;
    }
    switch (e.SystemError()) {
    case EBUSY:
        out.Kind = TSerialOpenFailure::Busy;
        break;
    case EACCES:
    case EPERM:
        out.Kind = TSerialOpenFailure::NoPermission;
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        out.Kind = TSerialOpenFailure::Missing;
        break;
    default:
        out.Kind = TSerialOpenFailure::Other;
        break;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The shared part

TSerialJob::TSerialJob(TClock& clock, TComm* comm)
    : own_(comm == nullptr ? std::make_unique<TComm>() : nullptr), comm_(comm != nullptr ? comm : own_.get()),
      timer_(clock.NewTimer()) {}

TSerialJob::~TSerialJob() {
    Cancel();
}

void TSerialJob::Cancel() {
    if (state_ != TState::Idle)
        End();
}

void TSerialJob::Begin(const TSerialPort& port) {
    // A job started again drops its previous run without a word.
    Cancel();
    input_ = {};
    state_ = TState::Opening;
    // Opened on the next turn, so that nothing is reported inside Start.
    timer_->Start(0, [this, port] { Open(port); });
}

void TSerialJob::SetCapture(capture::ICaptureSink* sink) {
    comm_->SetCapture(sink);
}

void TSerialJob::Open(const TSerialPort& port) {
    comm_->ClosePort();
    if (port.Name.empty()) {
        OpenFailed(TSerialOpenError{TSerialOpenFailure::NoName, 0, {}, {}});
        return;
    }
    const std::string path = TComm::DevicePath(port.Name);
    comm_->SetCommName(path);
    comm_->SetBaudRate(port.Baud > 0 ? port.Baud : 9600);
    comm_->SetParityCheck(false);
    comm_->SetParity(TParity::None);
    comm_->SetByteSize(TByteSize::_8);
    comm_->SetStopBits(TStopBits::_1);
    // No flow control of any kind; a gap of 50 ms ends a chunk, so one reply is one chunk.
    comm_->SetOutx_CtsFlow(false);
    comm_->SetOutx_DsrFlow(false);
    comm_->SetTxContinueOnXoff(false);
    comm_->SetReadIntervalTimeout(50);
    try {
        comm_->OpenPort();
    } catch (const ECommsError& e) {
        OpenFailed(SerialOpenError(e, path));
        return;
    }
    state_ = TState::Running;
    comm_->OnReceiveData = [this](TComm&, const std::uint8_t* b, std::uint16_t n) {
        Received(std::span<const std::uint8_t>(b, n));
    };
    comm_->OnRequestHangup = [this](TComm&) { Hangup(); };
    if (Raise(OnOpened))
        Opened();
}

TSerialJob::TSend TSerialJob::Send(const TIdBytes& frame) {
    if (frame.empty() || frame.size() > 0xFFFF ||
        !comm_->WriteData(frame.data(), static_cast<std::uint16_t>(frame.size())))
        return TSend::Refused;
    return Raise(OnSent, frame) ? TSend::Sent : TSend::Stopped;
}

bool TSerialJob::Report(std::span<const std::uint8_t> chunk, TSerialChunk use) {
    ++input_.Chunks;
    if (use == TSerialChunk::Dropped) {
        ++input_.DroppedChunks;
        input_.DroppedBytes += chunk.size();
    }
    return Raise(OnChunk, chunk, use);
}

void TSerialJob::After(int ms, std::function<void()> fn) {
    timer_->Start(ms, std::move(fn));
}

void TSerialJob::End() {
    timer_->Stop();
    Detach();
    comm_->ClosePort();
    state_ = TState::Idle;
}

void TSerialJob::Detach() {
    // Chunks read before the close are still raised by the component; they find no handler.
    comm_->OnReceiveData = nullptr;
    comm_->OnRequestHangup = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Read

void TSerialReadJob::Start(const TSerialPort& port, std::int32_t family) {
    result_ = {};
    result_.Family = family;
    stage_ = TStage::Reply;
    sawBadReply_ = false;
    Begin(port);
}

void TSerialReadJob::Opened() {
    switch (Send(BuildComReadRequest(result_.Family))) {
    case TSend::Stopped:
        return;
    case TSend::Refused:
        Finish(TSerialFailure::NotSent);
        return;
    case TSend::Sent:
        After(ReplyWaitMs(), [this] { ReplyWaitOver(); });
        return;
    }
}

void TSerialReadJob::OpenFailed(const TSerialOpenError& error) {
    result_.Open = error;
    Finish(TSerialFailure::OpenFailed);
}

void TSerialReadJob::Received(std::span<const std::uint8_t> chunk) {
    const TComReply kind = ClassifyComReply(chunk);
    TSerialChunk use = TSerialChunk::Dropped;
    if (stage_ == TStage::FollowUp) {
        if (kind == TComReply::Z2More) {
            use = TSerialChunk::Z2More;
            result_.Z2More = TIdBytes(chunk.begin(), chunk.end());
        }
    } else if (result_.Family == FamilyZ2) {
        if (kind == TComReply::Z2Params) {
            use = TSerialChunk::Z2Params;
            result_.Z2 = ParseZ2ComParams(chunk.first<ComZ2ParamReplySize>());
        }
    } else if (kind == TComReply::Z1Params) {
        result_.Z1 = ParseZ1ComReply(chunk.first<ComZ1ReplySize>());
        use = result_.Z1 ? TSerialChunk::Z1Reply : TSerialChunk::Z1Bad;
        sawBadReply_ = sawBadReply_ || !result_.Z1;
    }
    if (!Report(chunk, use))
        return;
    switch (use) {
    case TSerialChunk::Z2Params:
        // The blocks are in; the cloud, heartbeat and registration follow on request.
        stage_ = TStage::FollowUp;
        switch (Send(BuildComZ2MoreRequest())) {
        case TSend::Stopped:
            return;
        case TSend::Refused:
            Finish(TSerialFailure::None);
            return;
        case TSend::Sent:
            After(ReplyWaitMs(), [this] { ReplyWaitOver(); });
            return;
        }
        return;
    case TSerialChunk::Z1Reply:
    case TSerialChunk::Z2More:
        Finish(TSerialFailure::None);
        return;
    default:
        return;
    }
}

void TSerialReadJob::ReplyWaitOver() {
    if (stage_ == TStage::FollowUp)
        Finish(TSerialFailure::None);
    else
        Finish(sawBadReply_ ? TSerialFailure::BadReply : TSerialFailure::NoReply);
}

void TSerialReadJob::Hangup() {
    result_.LineGone = true;
    Finish(stage_ == TStage::FollowUp ? TSerialFailure::None : TSerialFailure::LineGone);
}

void TSerialReadJob::Finish(TSerialFailure failure) {
    result_.Failure = failure;
    result_.Input = Input();
    End();
    // Last: the callback may destroy this job, so it gets a copy and nothing follows it.
    const TSerialReadResult result = result_;
    if (const auto done = OnDone)
        done(result);
}

// ---------------------------------------------------------------------------------------------
// Save

void TSerialSaveJob::Start(const TSerialPort& port, std::vector<TIdBytes> frames) {
    frames_ = std::move(frames);
    result_ = {};
    Begin(port);
}

void TSerialSaveJob::Opened() {
    SendNext();
}

void TSerialSaveJob::SendNext() {
    const auto total = static_cast<int>(frames_.size());
    if (result_.Frames >= total) {
        Finish(TSerialFailure::NotSent); // nothing to send
        return;
    }
    ++result_.Frames;
    switch (Send(frames_[static_cast<std::size_t>(result_.Frames - 1)])) {
    case TSend::Stopped:
        return;
    case TSend::Refused:
        --result_.Frames;
        Finish(TSerialFailure::NotSent);
        return;
    case TSend::Sent:
        break;
    }
    if (result_.Frames < total)
        After(FramePauseMs, [this] { SendNext(); });
    else if (result_.Acks >= total)
        Finish(TSerialFailure::None);
    else
        After(ReplyWaitMs(), [this] {
            Finish(result_.Acks >= static_cast<int>(frames_.size()) ? TSerialFailure::None
                                                                    : TSerialFailure::NoReply);
        });
}

void TSerialSaveJob::OpenFailed(const TSerialOpenError& error) {
    result_.Open = error;
    Finish(TSerialFailure::OpenFailed);
}

void TSerialSaveJob::Received(std::span<const std::uint8_t> chunk) {
    // An acknowledgement answers the oldest frame not yet answered; one beyond the frames sent
    // so far answers nothing.
    const bool ack = ClassifyComReply(chunk) == TComReply::Ack && result_.Acks < result_.Frames;
    if (ack)
        ++result_.Acks;
    if (!Report(chunk, ack ? TSerialChunk::Ack : TSerialChunk::Dropped) || !ack)
        return;
    if (!Raise(OnAck, result_.Acks))
        return;
    if (result_.Acks >= static_cast<int>(frames_.size()))
        Finish(TSerialFailure::None);
}

void TSerialSaveJob::Hangup() {
    result_.LineGone = true;
    Finish(TSerialFailure::LineGone);
}

void TSerialSaveJob::Finish(TSerialFailure failure) {
    result_.Failure = failure;
    result_.Input = Input();
    End();
    const TSerialSaveResult result = result_;
    if (const auto done = OnDone)
        done(result);
}

} // namespace varnix
