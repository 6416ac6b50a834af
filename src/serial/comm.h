#pragma once
// TComm: one serial port, opened by name, with one read thread and one write thread.
//
// The read thread cuts the byte stream into chunks: a read waits without limit for its first
// byte and completes when 3072 bytes have arrived or when more than ReadIntervalTimeout ms pass
// between two bytes. termios' VTIME counts tenths of a second, so the gap is timed with poll().
// Chunks, hang-ups and "all sent" notices reach the owner's thread through one queue, in the
// order the threads produced them, and are raised there as events (OnReceiveData …). Both
// threads wait in poll() on a wake-up descriptor as well, so ClosePort always joins them.

#include "core/capture_sink.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class QSocketNotifier;

namespace varnix {

// OpenPort's failures. what() is the component's own text; SystemError() the errno behind it
// (0 when there is none), so a caller can name the reason (busy, no permission …).
class ECommsError : public std::runtime_error {
public:
    ECommsError(const char* text, int systemError) : std::runtime_error(text), systemError_(systemError) {}
    int SystemError() const { return systemError_; }

private:
    int systemError_;
};

inline constexpr const char* CommErrAlreadyOpen = "This serial port already opened";
inline constexpr const char* CommErrOpen = "Error opening serial port";
inline constexpr const char* CommErrNotComm = "File handle is not a comm handle ";
inline constexpr const char* CommErrBuffer = "Cannot setup comm buffer";
inline constexpr const char* CommErrEvent = "Unable to create event";
inline constexpr const char* CommErrReadThread = "Unable to create read thread";
inline constexpr const char* CommErrWriteThread = "Unable to create write thread";

enum class TDtrControl { DtrEnable, DtrDisable, DtrHandshake };
enum class TRtsControl { RtsEnable, RtsDisable, RtsHandshake, RtsTransmissionAvailable };
enum class TByteSize { _5, _6, _7, _8 };
enum class TParity { None, Odd, Even, Mark, Space };
enum class TStopBits { _1, _1_5, _2 };

inline constexpr std::size_t CommChunkMax = 3072;

class TComm final : public QObject {
    Q_OBJECT
public:
    explicit TComm(QObject* parent = nullptr);
    ~TComm() override; // closes the port (joins both threads)

    // --- Properties. A line property set to a new value while open re-applies the line state. ---
    int ComHandle() const { return fd_; } // -1 while closed
    const std::string& CommName() const { return commName_; }
    // "ttyUSB0" or a full path; takes effect at the next open.
    void SetCommName(std::string name) { commName_ = std::move(name); }
    // Every chunk written and read is handed to sink as well, from the port's own threads
    // (nullptr: none). Set it before OpenPort; the sink must outlive the open port.
    void SetCapture(capture::ICaptureSink* sink) { capture_.store(sink); }
    std::uint32_t BaudRate() const { return baudRate_; }
    void SetBaudRate(std::uint32_t v) { SetLine(baudRate_, v); }
    bool ParityCheck() const { return parityCheck_; }
    void SetParityCheck(bool v) { SetLine(parityCheck_, v); }
    bool Outx_CtsFlow() const { return outxCtsFlow_; }
    void SetOutx_CtsFlow(bool v) { SetLine(outxCtsFlow_, v); }
    bool Outx_DsrFlow() const { return outxDsrFlow_; } // no Linux equivalent; kept for the record
    void SetOutx_DsrFlow(bool v) { SetLine(outxDsrFlow_, v); }
    TDtrControl DtrControl() const { return dtrControl_; }
    void SetDtrControl(TDtrControl v) { SetLine(dtrControl_, v); }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetTxContinueOnXoff(bool v) { SetLine(txContinueOnXoff_, v); }
    bool Outx_XonXoffFlow() const { return outxXonXoff_; }
    void SetOutx_XonXoffFlow(bool v) { SetLine(outxXonXoff_, v); }
    bool Inx_XonXoffFlow() const { return inxXonXoff_; }
    void SetInx_XonXoffFlow(bool v) { SetLine(inxXonXoff_, v); }
    bool IgnoreNullChar() const { return ignoreNull_; } // no Linux equivalent; kept for the record
    void SetIgnoreNullChar(bool v) { SetLine(ignoreNull_, v); }
    TRtsControl RtsControl() const { return rtsControl_; }
    void SetRtsControl(TRtsControl v) { SetLine(rtsControl_, v); }
    TByteSize ByteSize() const { return byteSize_; }
    void SetByteSize(TByteSize v) { SetLine(byteSize_, v); }
    TParity Parity() const { return parity_; }
    void SetParity(TParity v) { SetLine(parity_, v); }
    TStopBits StopBits() const { return stopBits_; } // 1.5 stop bits become 2 on Linux
    void SetStopBits(TStopBits v) { SetLine(stopBits_, v); }
    char XonChar() const { return xonChar_; }
    void SetXonChar(char v) { SetLine(xonChar_, v); }
    char XoffChar() const { return xoffChar_; }
    void SetXoffChar(char v) { SetLine(xoffChar_, v); }
    // The gap (ms) that ends a chunk; 0 delivers whatever one read returns.
    std::uint32_t ReadIntervalTimeout() const { return readInterval_.load(); }
    void SetReadIntervalTimeout(std::uint32_t ms) { readInterval_.store(ms); }

    // --- Events, raised on the thread that owns this object. A handler may close the port,
    // replace the handlers or destroy this object. ---
    // The buffer is valid only during the call.
    std::function<void(TComm&, const std::uint8_t* buffer, std::uint16_t length)> OnReceiveData;
    // The line went away (adapter pulled out, the other end of a pty closed, a write failed).
    std::function<void(TComm&)> OnRequestHangup;
    // Every queued block has been written.
    std::function<void(TComm&)> OnSendDataEmpty;

    // Throws ECommsError; after a failure the port is closed, except for "already opened",
    // which leaves the open port as it was.
    void OpenPort();
    // Joins both threads; nothing happens when closed. Chunks read before the close are still
    // raised as events when the owner's thread next handles its events, unless the port is
    // opened again first: a new session starts without the events of the last one.
    void ClosePort();
    bool IsOpen() const { return fd_ >= 0; }
    // Queues a copy for the write thread; false when closed or length is 0.
    bool WriteData(const std::uint8_t* buffer, std::uint16_t length);
    bool SendDataEmpty() const { return sendDataEmpty_.load(); }
    // The path OpenPort opens for a name: an absolute path as it is; "ttyUSB0" or "pts/3" under
    // /dev; another relative path (one that is not under /dev) as it is.
    static std::string DevicePath(const std::string& name);

private:
    struct TEvent {
        enum Kind { Data, Hangup, Sent } kind;
        std::vector<std::uint8_t> bytes;
    };
    template <typename T> void SetLine(T& field, T value) {
        if (field == value)
            return;
        field = value;
        if (IsOpen())
            ApplyCommState();
    }
    void ApplyCommState();
    void ReadLoop();
    void WriteLoop();
    bool WriteBlock(const std::vector<std::uint8_t>& block);
    void Post(TEvent event);
    void DrainEvents();
    void StopThreads();

    std::string commName_ = "COM1";
    std::atomic<capture::ICaptureSink*> capture_{nullptr};
    std::uint32_t baudRate_ = 9600;
    bool parityCheck_ = false;
    bool outxCtsFlow_ = true;
    bool outxDsrFlow_ = true;
    TDtrControl dtrControl_ = TDtrControl::DtrEnable;
    bool txContinueOnXoff_ = true;
    bool outxXonXoff_ = false;
    bool inxXonXoff_ = false;
    bool ignoreNull_ = false;
    TRtsControl rtsControl_ = TRtsControl::RtsEnable;
    TByteSize byteSize_ = TByteSize::_8;
    TParity parity_ = TParity::None;
    TStopBits stopBits_ = TStopBits::_1;
    char xonChar_ = 0x11;
    char xoffChar_ = 0x13;
    std::atomic<std::uint32_t> readInterval_{10};

    int fd_ = -1;
    int wakeFd_ = -1;   // eventfd: becomes readable when the threads must stop
    int notifyFd_ = -1; // eventfd: the threads' events are waiting in events_
    QSocketNotifier* notifier_ = nullptr;
    std::thread reader_, writer_;
    std::atomic<bool> sendDataEmpty_{true};

    std::mutex eventsMutex_;
    std::deque<TEvent> events_;

    std::mutex writeMutex_;
    std::condition_variable writeCv_;
    std::deque<std::vector<std::uint8_t>> writeQueue_;
    bool stopWriter_ = false;
};

} // namespace varnix
