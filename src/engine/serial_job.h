#pragma once
// Reading and saving a module over a serial line (CFG pin grounded) as jobs: each opens the port,
// sends its frames, takes the replies as the port delivers them and closes the port again. Every
// wait - the pauses between the frames of a Z2 save, the reply wait - is a timer of the injected
// clock, so a job never blocks its thread: the window stays responsive, varnix-cli waits for a
// job with WaitUntil, and tests run the jobs on a virtual clock against a pty.
//
// A reply is one received chunk (the port ends a chunk after a 50 ms gap) and is recognised by
// its length and header: 32 bytes 55 BC for Z1/Z3 (its checksum checked), 137 bytes 55 BD for
// Z2, answered with 55 C1, and the 115-byte follow-up to that; one 'K' per settings frame. Each
// chunk is looked at once, as it arrives, and only the replies a job waits for are kept (fixed
// sizes), so a line that babbles costs neither memory nor time per chunk; what was not taken is
// only counted.
//
// Callbacks are raised on the clock's thread, never inside Start or Cancel. A job may be
// destroyed inside any of its callbacks; after Cancel or destruction it raises nothing more.

#include "core/blocks.h"
#include "core/capture_sink.h"
#include "core/types.h"
#include "engine/clock.h"
#include "serial/serial_frames.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnix {

class ECommsError;
class TComm;

// The port of one operation; the line is always 8 data bits, no parity, 1 stop bit.
struct TSerialPort {
    std::string Name; // "ttyUSB0", "pts/3" or a path (TComm::DevicePath)
    std::uint32_t Baud = 9600;
};

// Why a port did not open, in terms a user can act on.
enum class TSerialOpenFailure {
    NoName,       // no port was named
    Busy,         // another program holds it
    NoPermission, // the user may not open it (not in the group that owns the device)
    Missing,      // no such device
    NotSerial,    // the path is not a terminal
    Other,
};

struct TSerialOpenError {
    TSerialOpenFailure Kind = TSerialOpenFailure::Other;
    int SystemError = 0; // errno behind it, 0 when none
    std::string Text;    // the port component's own words
    std::string Path;    // the device path tried
};

TSerialOpenError SerialOpenError(const ECommsError& e, std::string path);

enum class TSerialFailure {
    None,
    OpenFailed, // the port did not open (TSerialOpenError says why)
    NotSent,    // the port refused a frame
    NoReply,    // what the job waited for did not arrive within the reply wait
    BadReply,   // only Z1/Z3 replies with a wrong header or checksum arrived
    LineGone,   // the line went away: adapter pulled out, the other end closed, a write failed
};

// What a job made of one chunk.
enum class TSerialChunk {
    Dropped,  // not a reply the job waits for (noise, a split reply, a surplus 'K')
    Ack,      // 'K', one settings frame acknowledged
    Z1Reply,  // the 32-byte Z1/Z3 reply, header and checksum right
    Z1Bad,    // a 32-byte reply with a wrong header or checksum
    Z2Params, // the 137-byte Z2 reply (base and port blocks)
    Z2More,   // the 115-byte follow-up (cloud, heartbeat and registration)
};

// The chunks a job saw and the ones it did not take.
struct TSerialInput {
    int Chunks = 0;
    int DroppedChunks = 0;
    std::uint64_t DroppedBytes = 0;
};

// The port, the timer and the callbacks every serial job shares.
class TSerialJob {
public:
    static constexpr int DefaultReplyWaitMs = 2000;

    // `comm` is driven by the job (it sets the line, opens and closes the port and takes its
    // events while it runs); null gives the job a port component of its own. An injected one
    // must outlive the job.
    explicit TSerialJob(TClock& clock, TComm* comm = nullptr);
    virtual ~TSerialJob(); // cancels
    TSerialJob(const TSerialJob&) = delete;
    TSerialJob& operator=(const TSerialJob&) = delete;

    // How long the job waits for a reply after sending what asks for one.
    void SetReplyWaitMs(int ms) { replyWaitMs_ = ms; }
    // Every chunk written to and read from the port goes to sink as well (nullptr: none).
    void SetCapture(capture::ICaptureSink* sink);
    int ReplyWaitMs() const { return replyWaitMs_; }
    bool Running() const { return state_ != TState::Idle; }
    // Stops the timer and closes the port at once; nothing is reported after it.
    void Cancel();

    // The port is open (raised before the first frame is sent).
    std::function<void()> OnOpened;
    // A frame was handed to the port.
    std::function<void(const TIdBytes& frame)> OnSent;
    // A chunk arrived and what the job made of it; raised before the job acts on it.
    std::function<void(std::span<const std::uint8_t> chunk, TSerialChunk use)> OnChunk;

protected:
    // Opens the port on the next turn of the clock, then calls Opened().
    void Begin(const TSerialPort& port);
    virtual void Opened() = 0;
    virtual void OpenFailed(const TSerialOpenError& error) = 0;
    virtual void Received(std::span<const std::uint8_t> chunk) = 0;
    virtual void Hangup() = 0;

    // Raises a callback; false when the callback destroyed, cancelled or restarted the job, which
    // the caller then leaves at once without touching it.
    template <typename Fn, typename... Args> bool Raise(const Fn& fn, const Args&... args) {
        if (!fn)
            return true;
        const std::weak_ptr<int> alive = alive_;
        const auto copy = fn;
        copy(args...);
        return !alive.expired() && state_ == TState::Running;
    }
    enum class TSend {
        Sent,    // handed to the port and reported
        Refused, // the port refused it
        Stopped, // reported, and OnSent ended the job: leave at once
    };
    TSend Send(const TIdBytes& frame);
    // Counts and reports a chunk; false as for Raise.
    bool Report(std::span<const std::uint8_t> chunk, TSerialChunk use);
    // The job's one timer: `fn` runs after `ms` unless the job ends first.
    void After(int ms, std::function<void()> fn);
    // Closes the port and goes idle; the caller then raises its OnDone, last.
    void End();
    const TSerialInput& Input() const { return input_; }

private:
    enum class TState { Idle, Opening, Running };
    void Open(const TSerialPort& port);
    void Detach();

    std::unique_ptr<TComm> own_;
    TComm* comm_;
    std::unique_ptr<ITimer> timer_;
    TState state_ = TState::Idle;
    int replyWaitMs_ = DefaultReplyWaitMs;
    TSerialInput input_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

struct TSerialReadResult {
    TSerialFailure Failure = TSerialFailure::None;
    TSerialOpenError Open;               // when Failure is OpenFailed
    std::int32_t Family = FamilyUnknown; // the family asked for
    std::optional<TZ1Params> Z1;         // a Z1/Z3 read
    std::optional<TComZ2Params> Z2;      // a Z2 read: the base and port blocks as received
    std::optional<TIdBytes> Z2More;      // the 115-byte follow-up, when it came
    bool LineGone = false;               // the line went away (also after the reply came)
    TSerialInput Input;
    bool Ok() const { return Failure == TSerialFailure::None; }
};

// Z2: 55 BD, the 137-byte reply, 55 C1, the 115-byte follow-up. Z1/Z3: 55 BC, the 32-byte
// reply. The read ends as soon as the last reply it waits for has come, or when a reply wait
// passes (a Z2 read whose follow-up does not come still has its blocks). A 32-byte reply with a
// wrong header or checksum is reported and the read waits on for a good one; if none comes it
// fails with BadReply.
class TSerialReadJob final : public TSerialJob {
public:
    using TSerialJob::TSerialJob;

    // FamilyZ2 reads a Z2 module; any other family a Z1/Z3 module.
    void Start(const TSerialPort& port, std::int32_t family);
    // What has come so far; complete when OnDone is raised.
    const TSerialReadResult& Result() const { return result_; }
    std::function<void(const TSerialReadResult&)> OnDone;

private:
    enum class TStage { Reply, FollowUp };
    void Opened() override;
    void OpenFailed(const TSerialOpenError& error) override;
    void Received(std::span<const std::uint8_t> chunk) override;
    void Hangup() override;
    void ReplyWaitOver();
    void Finish(TSerialFailure failure);

    TSerialReadResult result_;
    TStage stage_ = TStage::Reply;
    bool sawBadReply_ = false;
};

struct TSerialSaveResult {
    TSerialFailure Failure = TSerialFailure::None; // None: every frame acknowledged
    TSerialOpenError Open;
    int Frames = 0; // frames handed to the port
    int Acks = 0;   // acknowledgements, at most one per frame sent before it
    bool LineGone = false;
    TSerialInput Input;
    bool Ok() const { return Failure == TSerialFailure::None; }
};

// Sends the frames of a save in order, FramePauseMs apart (the module stores each block before
// it takes the next), then waits for one 'K' per frame: a Z1/Z3 save is the one 31-byte frame, a
// Z2 save its three frames. Each acknowledgement is reported as it arrives; the save ends when
// every frame is acknowledged or the reply wait after the last frame has passed. A chunk of two
// 'K's is not an acknowledgement, and a 'K' beyond the frames sent so far counts for nothing.
class TSerialSaveJob final : public TSerialJob {
public:
    static constexpr int FramePauseMs = 500;
    using TSerialJob::TSerialJob;

    void Start(const TSerialPort& port, std::vector<TIdBytes> frames);
    const TSerialSaveResult& Result() const { return result_; }
    // The number of acknowledgements so far, raised for each one.
    std::function<void(int acks)> OnAck;
    std::function<void(const TSerialSaveResult&)> OnDone;

private:
    void Opened() override;
    void OpenFailed(const TSerialOpenError& error) override;
    void Received(std::span<const std::uint8_t> chunk) override;
    void Hangup() override;
    void SendNext();
    void Finish(TSerialFailure failure);

    std::vector<TIdBytes> frames_;
    TSerialSaveResult result_;
};

} // namespace varnix
