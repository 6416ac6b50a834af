#include "capture/capture.h"

#include "capture/describe.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace varnix::capture {

namespace {

// Interface statistics close the capture; their comment says why it stopped, in at most this
// many characters, and each interface keeps room for its block from the start.
constexpr std::size_t MaxNote = 160;
const std::size_t StatisticsReserve = InterfaceStatisticsSize(std::string(MaxNote, 'x'));

std::optional<TIpv4> ParseIpv4(std::string_view text) {
    TIpv4 value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        unsigned part = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            part = part * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || part > 255)
            return std::nullopt;
        value = value << 8 | part;
        if (++parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    return i == text.size() ? std::optional<TIpv4>(value) : std::nullopt;
}

std::uint64_t MicrosecondsOf(TClock::time_point t) {
    if (t == TClock::time_point{})
        t = TClock::now();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    return us < 0 ? 0 : static_cast<std::uint64_t>(us);
}

std::string Plural(std::uint64_t n, const char* word) {
    return std::to_string(n) + ' ' + word + (n == 1 ? "" : "s");
}

bool WriteAll(int fd, std::span<const std::uint8_t> data, std::string& error) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

// The user's data of the debugging window says nothing about the module protocol.
std::string DebugComment(bool sent, std::size_t size) {
    return std::string("debugging window, ") + (sent ? "sent, " : "received, ") + std::to_string(size) +
           (size == 1 ? " byte" : " bytes");
}

} // namespace

TCapture::TCapture(const TCaptureOptions& options, int fd)
    : options_(options), limit_(std::max(options.LimitBytes, MinimumLimitBytes)), fd_(fd) {
    StartSection();
    if (fd_ >= 0)
        flusher_ = std::thread([this] { FlusherLoop(); });
}

std::unique_ptr<TCapture> TCapture::ToFile(const std::string& path, const TCaptureOptions& options,
                                           std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<TCapture> capture(new TCapture(options, fd));
    capture->Flush(); // the header is on disk before the first packet
    return capture;
}

std::unique_ptr<TCapture> TCapture::InMemory(const TCaptureOptions& options) {
    return std::unique_ptr<TCapture>(new TCapture(options, -1));
}

TCapture::~TCapture() {
    Finish();
}

void TCapture::StartSection() {
    const std::string comment = std::string("Varnix capture; log-in passwords ") +
                                (options_.KeepLogin ? "kept" : "masked") + "; size limit " +
                                std::to_string(limit_) + " bytes";
    AppendSectionHeader(pending_, options_.Application, comment);
    size_ = pending_.size();
}

int TCapture::InterfaceFor(bool serial, TIpv4 address, std::string_view serialPort) {
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        const TInterface& f = interfaces_[i];
        if (f.Serial == serial && (serial ? f.SerialPort == serialPort : f.Address == address))
            return static_cast<int>(i);
    }
    std::string name, description;
    if (serial) {
        name = serialPort;
        description = "Varnix serial configuration link " + name;
    } else {
        name = std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
               std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
        description = "Varnix UDP endpoints on " + name;
    }
    const std::size_t size =
        serial ? UpperPduInterfaceSize(name, description) : RawIpv4InterfaceSize(name, description);
    if (!Fits(size + StatisticsReserve))
        return -1;
    if (serial)
        AppendUpperPduInterface(pending_, name, description);
    else
        AppendRawIpv4Interface(pending_, name, description, address);
    size_ += size;
    reserved_ += StatisticsReserve;
    TInterface f;
    f.Serial = serial;
    f.Address = address;
    f.SerialPort = std::string(serialPort);
    interfaces_.push_back(std::move(f));
    return static_cast<int>(interfaces_.size() - 1);
}

bool TCapture::Fits(std::size_t blockSize) {
    if (stopped_)
        return false;
    if (size_ + blockSize + reserved_ > limit_) {
        stopped_ = true;
        return false;
    }
    return true;
}

void TCapture::LeaveOut(int interfaceId) {
    ++leftOut_;
    if (interfaceId >= 0)
        ++interfaces_[static_cast<std::size_t>(interfaceId)].LeftOut;
}

void TCapture::Appended() {
    ++packets_;
    // Wake the flusher once per batch, when the batch reaches its size.
    const std::size_t threshold = options_.FlushBytes;
    if (fd_ >= 0 && pending_.size() >= threshold)
        wake_.notify_one();
}

void TCapture::Datagram(const TDatagramEvent& e) {
    const bool sent = e.Direction == TDirection::Sent;
    const TIpv4 local = ParseIpv4(e.LocalAddress).value_or(0);
    const TIpv4 peer = ParseIpv4(e.PeerAddress).value_or(0);
    std::span<const std::uint8_t> bytes = e.Bytes.first(std::min(e.Bytes.size(), MaxUdpPayload));
    const std::uint16_t sourcePort = sent ? e.LocalPort : e.PeerPort;
    const std::uint16_t destinationPort = sent ? e.PeerPort : e.LocalPort;

    // Masked and described before taking the lock: pure work on the caller's thread. The comment
    // describes the bytes as the capture holds them (a masked command's checksum is moved).
    thread_local std::vector<std::uint8_t> masked;
    bool wasMasked = false;
    if (e.Channel == TChannel::Lan && !options_.KeepLogin) {
        masked.assign(bytes.begin(), bytes.end());
        wasMasked = MaskLogin(masked, sent);
        if (wasMasked)
            bytes = masked;
    }
    std::string comment = e.Channel == TChannel::Debug ? DebugComment(sent, bytes.size())
                                                       : DescribeDatagram(bytes, sourcePort, destinationPort);
    if (wasMasked)
        comment += ", log-in masked";
    if (bytes.size() < e.Bytes.size())
        comment +=
            ", cut to " + std::to_string(bytes.size()) + " of " + std::to_string(e.Bytes.size()) + " bytes";
    const std::uint64_t timeUs = MicrosecondsOf(e.Time);

    std::lock_guard lock(mutex_);
    if (finished_)
        return;
    const int id = InterfaceFor(false, local, {});
    const std::size_t size = UdpPacketSize(bytes.size(), comment);
    if (id < 0 || !Fits(size)) {
        LeaveOut(id);
        return;
    }
    TUdpPacket p;
    p.Source = sent ? local : peer;
    p.SourcePort = sourcePort;
    p.Destination = sent ? peer : local;
    p.DestinationPort = destinationPort;
    p.Identification = ipIdentification_++;
    p.Payload = bytes;
    AppendUdpPacket(pending_, static_cast<std::uint32_t>(id), timeUs, p, comment);
    size_ += size;
    ++interfaces_[static_cast<std::size_t>(id)].Seen;
    Appended();
}

void TCapture::SerialChunk(const TSerialEvent& e) {
    const bool sent = e.Direction == TDirection::Sent;
    std::span<const std::uint8_t> bytes = e.Bytes.first(std::min(e.Bytes.size(), MaxUdpPayload));
    thread_local std::vector<std::uint8_t> masked;
    bool wasMasked = false;
    if (!options_.KeepLogin) {
        masked.assign(bytes.begin(), bytes.end());
        wasMasked = MaskSerialLogin(masked, sent);
        if (wasMasked)
            bytes = masked;
    }
    std::string comment = DescribeSerialFrame(bytes, sent);
    if (wasMasked)
        comment += ", log-in masked";
    if (bytes.size() < e.Bytes.size())
        comment +=
            ", cut to " + std::to_string(bytes.size()) + " of " + std::to_string(e.Bytes.size()) + " bytes";
    const std::uint64_t timeUs = MicrosecondsOf(e.Time);

    std::lock_guard lock(mutex_);
    if (finished_)
        return;
    const int id = InterfaceFor(true, 0, e.Port);
    const std::size_t size = UpperPduSize(bytes.size(), comment);
    if (id < 0 || !Fits(size)) {
        LeaveOut(id);
        return;
    }
    AppendUpperPdu(pending_, static_cast<std::uint32_t>(id), timeUs, sent, bytes, comment);
    size_ += size;
    ++interfaces_[static_cast<std::size_t>(id)].Seen;
    Appended();
}

void TCapture::Restart() {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 || finished_)
        return; // a file that is being written cannot start over
    pending_.clear();
    interfaces_.clear();
    reserved_ = 0;
    packets_ = 0;
    leftOut_ = 0;
    stopped_ = false;
    StartSection();
}

void TCapture::AppendStatistics(TBuffer& out) const {
    std::string note = StopNoteLocked().substr(0, MaxNote);
    const std::uint64_t now = MicrosecondsOf({});
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        const TInterface& f = interfaces_[i];
        AppendInterfaceStatistics(out, static_cast<std::uint32_t>(i), now, f.Seen + f.LeftOut, f.LeftOut,
                                  note);
    }
}

bool TCapture::SaveAs(const std::string& path, std::string& error) const {
    TBuffer copy;
    {
        std::lock_guard lock(mutex_);
        copy = pending_;
        AppendStatistics(copy);
    }
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = WriteAll(fd, copy, error);
    if (ok && ::fsync(fd) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    ::close(fd);
    if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

void TCapture::FlushLocked(std::unique_lock<std::mutex>& fileLock) {
    static_cast<void>(fileLock); // held by the caller: writes happen in the order of the swaps
    TBuffer out;
    {
        std::lock_guard lock(mutex_);
        if (fd_ < 0 || pending_.empty())
            return;
        out.swap(pending_);
        pending_.reserve(std::min<std::size_t>(out.capacity(), options_.FlushBytes * 2));
    }
    std::string error;
    if (!WriteAll(fd_, out, error)) {
        std::lock_guard lock(mutex_);
        if (writeError_.empty())
            writeError_ = error;
        stopped_ = true;
    }
}

void TCapture::Flush() {
    std::unique_lock fileLock(fileMutex_);
    FlushLocked(fileLock);
}

void TCapture::FlusherLoop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, options_.FlushInterval,
                           [this] { return finishing_ || pending_.size() >= options_.FlushBytes; });
            if (finishing_)
                return;
        }
        Flush();
    }
}

void TCapture::Finish() {
    {
        std::unique_lock fileLock(fileMutex_);
        {
            std::lock_guard lock(mutex_);
            if (finished_)
                return;
            finished_ = true;
            finishing_ = true;
            if (fd_ >= 0)
                AppendStatistics(pending_);
        }
        wake_.notify_all();
        FlushLocked(fileLock);
    }
    if (flusher_.joinable())
        flusher_.join();
    std::lock_guard lock(mutex_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

TCaptureStats TCapture::Stats() const {
    std::lock_guard lock(mutex_);
    return {packets_, leftOut_, size_, stopped_};
}

std::string TCapture::StopNoteLocked() const {
    if (!stopped_)
        return {};
    const std::string leftOut = "; " + Plural(leftOut_, "packet") + " left out";
    if (!writeError_.empty())
        return "capture stopped: the file could not be written (" + writeError_ + ")" + leftOut;
    return "capture stopped at its size limit of " + std::to_string(limit_) + " bytes" + leftOut;
}

std::string TCapture::StopNote() const {
    std::lock_guard lock(mutex_);
    return StopNoteLocked();
}

} // namespace varnix::capture
