#include "serial/comm.h"

#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>

// termios2 (any integer rate through BOTHER) lives in the kernel's header, which cannot be mixed
// with <termios.h>; everything here uses the ioctl forms.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <unistd.h>

namespace varnix {

namespace {

void Signal(int fd) {
    const std::uint64_t one = 1;
    // An eventfd counter cannot overflow with the few signals we send; a failure leaves the
    // reader to find the work on its next wake-up.
    [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
}

void ClearSignal(int fd) {
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(fd, &value, sizeof value);
}

tcflag_t SizeFlag(TByteSize s) {
    switch (s) {
    case TByteSize::_5:
        return CS5;
    case TByteSize::_6:
        return CS6;
    case TByteSize::_7:
        return CS7;
    case TByteSize::_8:
        break;
    }
    return CS8;
}

tcflag_t ParityFlags(TParity p) {
    switch (p) {
    case TParity::None:
        return 0;
    case TParity::Odd:
        return PARENB | PARODD;
    case TParity::Even:
        return PARENB;
    case TParity::Mark:
        return PARENB | PARODD | CMSPAR;
    case TParity::Space:
        return PARENB | CMSPAR;
    }
    return 0;
}

// The rate's own Bxxx code where one exists (what other programs reading the line settings
// expect to find), BOTHER with the number in c_ospeed for any other rate.
tcflag_t RateCode(std::uint32_t rate) {
    static constexpr std::pair<std::uint32_t, tcflag_t> codes[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000}};
    for (const auto& [r, code] : codes)
        if (r == rate)
            return code;
    return BOTHER;
}

// Sets or clears modem lines; a pty has none, so a refusal is not an error.
void ModemLine(int fd, int bits, bool on) {
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

} // namespace

TComm::TComm(QObject* parent) : QObject(parent) {
    notifyFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (notifyFd_ >= 0) {
        notifier_ = new QSocketNotifier(notifyFd_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { DrainEvents(); });
    }
}

TComm::~TComm() {
    ClosePort();
    delete notifier_;
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
}

std::string TComm::DevicePath(const std::string& name) {
    if (name.empty() || name.front() == '/')
        return name;
    // "ttyUSB0" and "pts/3" are names under /dev; a relative path that is not there stays as given.
    const std::string dev = "/dev/" + name;
    if (name.find('/') == std::string::npos || ::access(dev.c_str(), F_OK) == 0)
        return dev;
    return name;
}

void TComm::OpenPort() {
    if (fd_ >= 0)
        throw ECommsError(CommErrAlreadyOpen, 0);
    if (notifyFd_ < 0)
        throw ECommsError(CommErrEvent, EMFILE);
    {
        // What the last session read and the owner never handled belongs to that session.
        std::lock_guard lock(eventsMutex_);
        events_.clear();
    }
    const std::string path = DevicePath(commName_);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw ECommsError(CommErrOpen, errno);
    auto fail = [fd](const char* text, int error) {
        ::close(fd);
        throw ECommsError(text, error);
    };
    struct termios2 probe {};
    if (!::isatty(fd) || ::ioctl(fd, TCGETS2, &probe) != 0)
        fail(CommErrNotComm, ENOTTY);
    // Exclusive use. flock keeps out every program that locks too, whatever its rights;
    // TIOCEXCL keeps out later plain opens by users without CAP_SYS_ADMIN (root ignores it).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(CommErrOpen, errno == EWOULDBLOCK ? EBUSY : errno);
    ::ioctl(fd, TIOCEXCL);
    ::ioctl(fd, TCFLSH, TCIOFLUSH);

    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        const int error = errno;
        ::ioctl(fd, TIOCNXCL);
        fail(CommErrEvent, error);
    }
    fd_ = fd;
    sendDataEmpty_ = true;
    ApplyCommState();

    try {
        reader_ = std::thread([this] { ReadLoop(); });
    } catch (const std::system_error& e) {
        ClosePort();
        throw ECommsError(CommErrReadThread, e.code().value());
    }
    try {
        writer_ = std::thread([this] { WriteLoop(); });
    } catch (const std::system_error& e) {
        ClosePort();
        throw ECommsError(CommErrWriteThread, e.code().value());
    }
}

void TComm::ApplyCommState() {
    struct termios2 t {};
    if (::ioctl(fd_, TCGETS2, &t) != 0)
        return;
    // Raw bytes both ways: no echo, no line editing, no character translation or signals.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD |
                                        (CBAUD << IBSHIFT));
    // Input speed bits left 0: the input runs at the output rate.
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(byteSize_) | ParityFlags(parity_) | RateCode(baudRate_);
    if (stopBits_ != TStopBits::_1)
        t.c_cflag |= CSTOPB;
    if (parityCheck_ && parity_ != TParity::None)
        t.c_iflag |= INPCK;
    if (outxCtsFlow_ || rtsControl_ == TRtsControl::RtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (outxXonXoff_)
        t.c_iflag |= IXON;
    if (inxXonXoff_)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(xonChar_);
    t.c_cc[VSTOP] = static_cast<cc_t>(xoffChar_);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_ispeed = baudRate_;
    t.c_ospeed = baudRate_;
    // As with the line state of any driver, a refusal (a rate the UART cannot make) is not
    // reported; the port stays open with its previous settings.
    ::ioctl(fd_, TCSETS2, &t);
    if (dtrControl_ != TDtrControl::DtrHandshake)
        ModemLine(fd_, TIOCM_DTR, dtrControl_ == TDtrControl::DtrEnable);
    if (rtsControl_ == TRtsControl::RtsEnable || rtsControl_ == TRtsControl::RtsDisable)
        ModemLine(fd_, TIOCM_RTS, rtsControl_ == TRtsControl::RtsEnable);
}

void TComm::StopThreads() {
    Signal(wakeFd_);
    {
        std::lock_guard lock(writeMutex_);
        stopWriter_ = true;
    }
    writeCv_.notify_all();
    if (reader_.joinable())
        reader_.join();
    if (writer_.joinable())
        writer_.join();
}

void TComm::ClosePort() {
    if (fd_ < 0)
        return;
    StopThreads();
    ::ioctl(fd_, TCFLSH, TCIOFLUSH);
    // Another opener must not find the port still marked exclusive.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    ::close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
    {
        std::lock_guard lock(writeMutex_);
        writeQueue_.clear();
        stopWriter_ = false;
    }
    sendDataEmpty_ = true;
}

bool TComm::WriteData(const std::uint8_t* buffer, std::uint16_t length) {
    if (fd_ < 0 || length == 0 || buffer == nullptr)
        return false;
    {
        std::lock_guard lock(writeMutex_);
        writeQueue_.emplace_back(buffer, buffer + length);
        sendDataEmpty_ = false;
    }
    writeCv_.notify_one();
    return true;
}

void TComm::Post(TEvent event) {
    {
        std::lock_guard lock(eventsMutex_);
        events_.push_back(std::move(event));
    }
    Signal(notifyFd_);
}

void TComm::DrainEvents() {
    ClearSignal(notifyFd_);
    // One event at a time, so the order stays the order of the threads. A handler may close the
    // port, replace the handlers or destroy this component: each handler is called through a
    // copy, and nothing of this object is touched after a handler that destroyed it.
    const QPointer<TComm> self(this);
    for (;;) {
        TEvent event;
        {
            std::lock_guard lock(eventsMutex_);
            if (events_.empty())
                return;
            event = std::move(events_.front());
            events_.pop_front();
        }
        switch (event.kind) {
        case TEvent::Data:
            if (const auto fn = OnReceiveData)
                fn(*this, event.bytes.data(), static_cast<std::uint16_t>(event.bytes.size() - 1));
            break;
        case TEvent::Hangup:
            if (const auto fn = OnRequestHangup)
                fn(*this);
            break;
        case TEvent::Sent:
            if (const auto fn = OnSendDataEmpty)
                fn(*this);
            break;
        }
        if (!self)
            return;
    }
}

void TComm::ReadLoop() {
    const int fd = fd_;
    const int wake = wakeFd_;
    std::vector<std::uint8_t> buf(CommChunkMax);
    std::size_t n = 0;
    auto deliver = [&] {
        if (n == 0)
            return;
        // The copy ends with one 0 byte after the data, so a handler may treat it as a C string.
        std::vector<std::uint8_t> chunk(n + 1, 0);
        std::copy_n(buf.begin(), n, chunk.begin());
        if (capture::ICaptureSink* sink = capture_.load())
            sink->SerialChunk({capture::TDirection::Received, commName_, std::span(chunk.data(), n), {}});
        Post({TEvent::Data, std::move(chunk)});
        n = 0;
    };
    auto hangup = [&] {
        deliver();
        Post({TEvent::Hangup, {}});
    };
    for (;;) {
        // The first byte is awaited without limit; after it, a gap of ReadIntervalTimeout ends
        // the chunk.
        const int timeout = n == 0 ? -1 : static_cast<int>(readInterval_.load());
        pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        const int r = ::poll(p, 2, timeout);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            hangup();
            return;
        }
        if (p[1].revents != 0) {
            deliver();
            return;
        }
        if (r == 0) {
            deliver();
            continue;
        }
        if (p[0].revents & POLLIN) {
            const ssize_t k = ::read(fd, buf.data() + n, CommChunkMax - n);
            if (k > 0) {
                n += static_cast<std::size_t>(k);
                if (n == CommChunkMax || readInterval_.load() == 0)
                    deliver();
                continue;
            }
            if (k < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            // 0 bytes or EIO: the device is gone (a USB adapter pulled out, a pty's other end closed).
            hangup();
            return;
        }
        if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            hangup();
            return;
        }
    }
}

bool TComm::WriteBlock(const std::vector<std::uint8_t>& block) {
    const int fd = fd_;
    std::size_t done = 0;
    while (done < block.size()) {
        const ssize_t k = ::write(fd, block.data() + done, block.size() - done);
        if (k > 0) {
            done += static_cast<std::size_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && errno != EAGAIN) {
            Post({TEvent::Hangup, {}});
            return false;
        }
        pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR) {
            Post({TEvent::Hangup, {}});
            return false;
        }
        if (p[1].revents != 0)
            return false; // closing: the block is abandoned
        if ((p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p[0].revents & POLLOUT)) {
            Post({TEvent::Hangup, {}});
            return false;
        }
    }
    if (capture::ICaptureSink* sink = capture_.load())
        sink->SerialChunk({capture::TDirection::Sent, commName_, block, {}});
    return true;
}

void TComm::WriteLoop() {
    bool written = true; // the first idle moment reports an empty queue once
    for (;;) {
        std::vector<std::uint8_t> block;
        {
            std::unique_lock lock(writeMutex_);
            if (writeQueue_.empty() && !stopWriter_) {
                sendDataEmpty_ = true;
                if (written) {
                    written = false;
                    lock.unlock();
                    Post({TEvent::Sent, {}});
                    lock.lock();
                }
                writeCv_.wait(lock, [this] { return stopWriter_ || !writeQueue_.empty(); });
            }
            if (stopWriter_)
                return;
            block = std::move(writeQueue_.front());
            writeQueue_.pop_front();
        }
        if (!WriteBlock(block))
            return;
        written = true;
    }
}

} // namespace varnix
