#include "capture/capture.h"

#include "capture/describe.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>

namespace varnix::capture {

namespace {

// Interface statistics close the capture; their comment says why it stopped, in at most this
// many characters, and each interface keeps room for its block from the start.
constexpr std::size_t MaxNote = 160;
const std::size_t StatisticsReserve = InterfaceStatisticsSize(std::string(MaxNote, 'x'));
// Addresses and port names longer than this are cut in the queue.
constexpr std::size_t MaxName = 255;

// A queued packet: this header, the local address text, the peer address text (for a serial
// chunk: the port name), then the bytes.
struct THeader {
    std::uint64_t TimeUs;
    std::uint32_t Length;   // bytes queued
    std::uint32_t Original; // bytes handed over (longer ones are cut)
    std::uint16_t LocalPort, PeerPort;
    std::uint8_t Serial, Direction, Channel, LocalLength, PeerLength;
};

std::optional<TIpv4> ParseIpv4(std::string_view text) {
    TIpv4 value = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
        unsigned number = 0;
        std::size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            number = number * 10 + static_cast<unsigned>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || number > 255)
            return std::nullopt;
        value = value << 8 | number;
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

std::string DottedText(TIpv4 a) {
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 0xFF) + '.' +
           std::to_string((a >> 8) & 0xFF) + '.' + std::to_string(a & 0xFF);
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

std::string CutNote(const THeader& h) {
    if (h.Length == h.Original)
        return {};
    return ", cut to " + std::to_string(h.Length) + " of " + std::to_string(h.Original) + " bytes";
}

} // namespace

struct TCapture::TRecord {
    THeader Header;
    std::string_view Local, Peer;
    std::span<const std::uint8_t> Bytes;
};

TCapture::TCapture(const TCaptureOptions& options, int fd)
    : options_(options), limit_(std::max(options.LimitBytes, MinimumLimitBytes)), toFile_(fd >= 0), fd_(fd) {
    StartSection();
    worker_ = std::thread([this] { Work(); });
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

// --- Caller side: a copy into the queue, nothing more. ---

void TCapture::Datagram(const TDatagramEvent& e) {
    Enqueue(false, e.Direction, e.Channel, e.LocalAddress, e.LocalPort, e.PeerAddress, e.PeerPort, e.Bytes,
            e.Time);
}

void TCapture::SerialChunk(const TSerialEvent& e) {
    Enqueue(true, e.Direction, TChannel::Lan, {}, 0, e.Port, 0, e.Bytes, e.Time);
}

void TCapture::Enqueue(bool serial, TDirection direction, TChannel channel, std::string_view local,
                       std::uint16_t localPort, std::string_view peer, std::uint16_t peerPort,
                       std::span<const std::uint8_t> bytes, TClock::time_point time) {
    if (finished_.load(std::memory_order_relaxed))
        return;
    local = local.substr(0, std::min(local.size(), MaxName));
    peer = peer.substr(0, std::min(peer.size(), MaxName));
    const auto kept = bytes.first(std::min(bytes.size(), MaxUdpPayload));
    const THeader h{MicrosecondsOf(time),
                    static_cast<std::uint32_t>(kept.size()),
                    static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), UINT32_MAX)),
                    localPort,
                    peerPort,
                    serial,
                    static_cast<std::uint8_t>(direction),
                    static_cast<std::uint8_t>(channel),
                    static_cast<std::uint8_t>(local.size()),
                    static_cast<std::uint8_t>(peer.size())};
    const std::size_t need = sizeof h + local.size() + peer.size() + kept.size();
    bool wake = false;
    {
        std::lock_guard lock(queueMutex_);
        if (queuedBytes_ + need > options_.QueueBytes) {
            ++queueLeftOut_;
            return;
        }
        if (queue_.empty() || queue_.back().Capacity - queue_.back().Used < need) {
            TQueueChunk chunk;
            if (need <= QueueChunkBytes && !queueSpare_.empty()) {
                chunk = std::move(queueSpare_.back());
                queueSpare_.pop_back();
            } else {
                chunk.Capacity = std::max(QueueChunkBytes, need);
                chunk.Data.reset(new std::uint8_t[chunk.Capacity]);
            }
            queue_.push_back(std::move(chunk));
        }
        TQueueChunk& chunk = queue_.back();
        std::uint8_t* p = chunk.Data.get() + chunk.Used;
        // memcpy from an empty view (a null pointer) is undefined, even for 0 bytes.
        const auto put = [&p](const void* from, std::size_t n) {
            if (n > 0)
                std::memcpy(p, from, n);
            p += n;
        };
        put(&h, sizeof h);
        put(local.data(), local.size());
        put(peer.data(), peer.size());
        put(kept.data(), kept.size());
        chunk.Used += need;
        wake = queuedBytes_ < options_.WakeBytes && queuedBytes_ + need >= options_.WakeBytes;
        queuedBytes_ += need;
    }
    if (wake)
        wake_.notify_one();
}

// --- Worker side. ---

void TCapture::Work() {
    // Under load the capture gives way to the program: the queue holds a burst until the
    // program has dealt with it. Where the call is refused the thread keeps its priority.
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    static_cast<void>(::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), std::min(nice + 10, 19)));
    for (;;) {
        std::vector<TQueueChunk> batch;
        bool restart = false, finishing = false;
        std::uint64_t request = 0, queueLeftOut = 0;
        {
            std::unique_lock lock(queueMutex_);
            wake_.wait_for(lock, options_.FlushInterval, [this] {
                return finishing_ || restart_ || requested_ != done_ || queuedBytes_ >= options_.WakeBytes;
            });
            batch.swap(queue_);
            queuedBytes_ = 0;
            restart = std::exchange(restart_, false);
            finishing = finishing_;
            request = requested_;
            queueLeftOut = queueLeftOut_;
        }
        {
            std::lock_guard state(stateMutex_);
            queueLeftOutSeen_ = queueLeftOut;
            if (restart) {
                chunks_.clear();
                interfaces_.clear();
                reserved_ = 0;
                packets_ = 0;
                leftOut_ = 0;
                stopped_ = false;
                StartSection();
            }
            for (const TQueueChunk& chunk : batch)
                Encode({chunk.Data.get(), chunk.Used});
        }
        WriteChunks();
        {
            std::lock_guard lock(queueMutex_);
            // Emptied chunks come back, so a long capture keeps using the same memory.
            for (TQueueChunk& chunk : batch) {
                if (chunk.Capacity != QueueChunkBytes || queueSpare_.size() >= 16)
                    continue;
                chunk.Used = 0;
                queueSpare_.push_back(std::move(chunk));
            }
            done_ = request;
        }
        drained_.notify_all();
        if (finishing)
            return;
    }
}

void TCapture::Encode(std::span<const std::uint8_t> batch) {
    std::size_t at = 0;
    while (at + sizeof(THeader) <= batch.size()) {
        TRecord r;
        std::memcpy(&r.Header, batch.data() + at, sizeof r.Header);
        const char* text = reinterpret_cast<const char*>(batch.data() + at + sizeof r.Header);
        r.Local = {text, r.Header.LocalLength};
        r.Peer = {text + r.Header.LocalLength, r.Header.PeerLength};
        const std::size_t bytesAt = at + sizeof r.Header + r.Header.LocalLength + r.Header.PeerLength;
        r.Bytes = {batch.data() + bytesAt, r.Header.Length};
        at = bytesAt + r.Header.Length;
        if (r.Header.Serial)
            EncodeSerial(r);
        else
            EncodeDatagram(r);
    }
}

void TCapture::EncodeDatagram(const TRecord& r) {
    const THeader& h = r.Header;
    const bool sent = h.Direction == static_cast<std::uint8_t>(TDirection::Sent);
    const auto channel = static_cast<TChannel>(h.Channel);
    const TIpv4 local = AddressOf(r.Local, 0);
    const TIpv4 peer = AddressOf(r.Peer, 1);
    const std::uint16_t sourcePort = sent ? h.LocalPort : h.PeerPort;
    const std::uint16_t destinationPort = sent ? h.PeerPort : h.LocalPort;

    std::span<const std::uint8_t> bytes = r.Bytes;
    bool wasMasked = false;
    if (channel == TChannel::Lan && !options_.KeepLogin && MayCarryLogin(bytes, sent)) {
        masked_.assign(bytes.begin(), bytes.end());
        wasMasked = MaskLogin(masked_, sent);
        if (wasMasked)
            bytes = masked_;
    }
    // The comment describes the bytes as the capture holds them (a masked command's checksum moved).
    std::string comment = channel == TChannel::Debug ? DebugComment(sent, h.Original)
                                                     : DescribeDatagram(bytes, sourcePort, destinationPort);
    if (wasMasked)
        comment += ", log-in masked";
    comment += CutNote(h);

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
    AppendUdpPacket(Room(size), static_cast<std::uint32_t>(id), h.TimeUs, p, comment);
    Added(id, size);
}

void TCapture::EncodeSerial(const TRecord& r) {
    const bool sent = r.Header.Direction == static_cast<std::uint8_t>(TDirection::Sent);
    std::span<const std::uint8_t> bytes = r.Bytes;
    bool wasMasked = false;
    if (!options_.KeepLogin) {
        masked_.assign(bytes.begin(), bytes.end());
        wasMasked = MaskSerialLogin(masked_, sent);
        if (wasMasked)
            bytes = masked_;
    }
    std::string comment = DescribeSerialFrame(bytes, sent);
    if (wasMasked)
        comment += ", log-in masked";
    comment += CutNote(r.Header);

    const int id = InterfaceFor(true, 0, r.Peer);
    const std::size_t size = UpperPduSize(bytes.size(), comment);
    if (id < 0 || !Fits(size)) {
        LeaveOut(id);
        return;
    }
    AppendUpperPdu(Room(size), static_cast<std::uint32_t>(id), r.Header.TimeUs, sent, bytes, comment);
    Added(id, size);
}

TIpv4 TCapture::AddressOf(std::string_view text, int slot) {
    // The same few addresses come again and again; each side keeps the last one it read.
    TAddressCache& cache = addresses_[slot];
    if (text != cache.Text) {
        cache.Text = std::string(text);
        cache.Address = ParseIpv4(text).value_or(0);
    }
    return cache.Address;
}

void TCapture::StartSection() {
    const std::string comment = std::string("Varnix capture; log-in passwords ") +
                                (options_.KeepLogin ? "kept" : "masked") + "; size limit " +
                                std::to_string(limit_) + " bytes";
    const std::size_t size = SectionHeaderSize(options_.Application, comment);
    AppendSectionHeader(Room(size), options_.Application, comment);
    size_ = size;
}

int TCapture::InterfaceFor(bool serial, TIpv4 address, std::string_view serialPort) {
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        const TInterface& f = interfaces_[i];
        if (f.Serial == serial && (serial ? f.SerialPort == serialPort : f.Address == address))
            return static_cast<int>(i);
    }
    const std::string name = serial ? std::string(serialPort) : DottedText(address);
    const std::string description =
        serial ? "Varnix serial configuration link " + name : "Varnix UDP endpoints on " + name;
    const std::size_t size =
        serial ? UpperPduInterfaceSize(name, description) : RawIpv4InterfaceSize(name, description);
    if (!Fits(size + StatisticsReserve))
        return -1;
    if (serial)
        AppendUpperPduInterface(Room(size), name, description);
    else
        AppendRawIpv4Interface(Room(size), name, description, address);
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

TBuffer& TCapture::Room(std::size_t blockSize) {
    if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < blockSize) {
        TBuffer chunk;
        if (!spare_.empty() && spare_.back().capacity() >= blockSize) {
            chunk = std::move(spare_.back());
            spare_.pop_back();
        } else {
            chunk.reserve(std::max(ChunkBytes, blockSize));
        }
        chunks_.push_back(std::move(chunk));
    }
    return chunks_.back();
}

void TCapture::Added(int interfaceId, std::size_t blockSize) {
    ++packets_;
    size_ += blockSize;
    ++interfaces_[static_cast<std::size_t>(interfaceId)].Seen;
}

void TCapture::LeaveOut(int interfaceId) {
    ++leftOut_;
    if (interfaceId >= 0)
        ++interfaces_[static_cast<std::size_t>(interfaceId)].LeftOut;
}

void TCapture::WriteChunks() {
    std::vector<TBuffer> out;
    int fd = -1;
    {
        std::lock_guard state(stateMutex_);
        if (fd_ < 0 || chunks_.empty())
            return;
        out.swap(chunks_);
        fd = fd_;
    }
    std::string error;
    bool ok = true;
    for (const TBuffer& chunk : out)
        ok = ok && WriteAll(fd, chunk, error);
    std::lock_guard state(stateMutex_);
    if (!ok) {
        if (writeError_.empty())
            writeError_ = error;
        stopped_ = true;
    }
    // Written chunks come back for the next blocks, so a long capture keeps using the same memory.
    for (TBuffer& chunk : out) {
        if (spare_.size() >= 4)
            break;
        chunk.clear();
        spare_.push_back(std::move(chunk));
    }
}

// --- Any thread. ---

void TCapture::Restart() {
    if (toFile_ || finished_)
        return; // a file that is being written cannot start over
    {
        std::lock_guard lock(queueMutex_);
        queue_.clear();
        queuedBytes_ = 0;
        queueLeftOut_ = 0;
        restart_ = true;
    }
    Flush();
}

void TCapture::Flush() {
    std::unique_lock lock(queueMutex_);
    if (finishing_)
        return; // the worker is gone or going
    const std::uint64_t want = ++requested_;
    wake_.notify_one();
    drained_.wait(lock, [&] { return done_ >= want; });
}

std::size_t TCapture::StatisticsSize() const {
    return interfaces_.size() * StatisticsReserve;
}

void TCapture::AppendStatistics(TBuffer& out) const {
    const std::string note = StopNoteLocked().substr(0, MaxNote);
    const std::uint64_t now = MicrosecondsOf({});
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        const TInterface& f = interfaces_[i];
        AppendInterfaceStatistics(out, static_cast<std::uint32_t>(i), now, f.Seen + f.LeftOut, f.LeftOut,
                                  note);
    }
}

bool TCapture::SaveAs(const std::string& path, std::string& error) {
    Flush();
    std::vector<TBuffer> copy;
    {
        std::lock_guard state(stateMutex_);
        copy = chunks_;
        copy.emplace_back();
        AppendStatistics(copy.back());
    }
    const std::string temporary = path + ".part";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (const TBuffer& chunk : copy)
        ok = ok && WriteAll(fd, chunk, error);
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

void TCapture::Finish() {
    if (finished_.exchange(true))
        return;
    {
        std::lock_guard lock(queueMutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    worker_.join(); // its last round took everything queued before finishing_ was set
    {
        std::lock_guard state(stateMutex_);
        if (fd_ < 0)
            return;
        AppendStatistics(Room(StatisticsSize()));
    }
    WriteChunks();
    std::lock_guard state(stateMutex_);
    ::close(fd_);
    fd_ = -1;
}

TCaptureStats TCapture::Stats() const {
    std::lock_guard state(stateMutex_);
    return {packets_, leftOut_ + queueLeftOutSeen_, size_, stopped_, !writeError_.empty()};
}

std::string TCapture::StopNoteLocked() const {
    const std::uint64_t leftOut = leftOut_ + queueLeftOutSeen_;
    const std::string count = Plural(leftOut, "packet") + " left out";
    if (!writeError_.empty())
        return "capture stopped: the file could not be written (" + writeError_ + "); " + count;
    if (stopped_)
        return "capture stopped at its size limit of " + std::to_string(limit_) + " bytes; " + count;
    if (leftOut > 0)
        return count + " while the capture could not keep up";
    return {};
}

std::string TCapture::StopNote() const {
    std::lock_guard state(stateMutex_);
    return StopNoteLocked();
}

} // namespace varnix::capture
