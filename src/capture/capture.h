#pragma once
// A capture of everything the program exchanges with modules, as a pcapng file for Wireshark:
// one interface per local IPv4 address (raw IPv4 packets with real IPv4 and UDP headers), one
// per serial port (Exported PDU records for the "vorz" dissector), a comment on every packet
// saying what it is, log-in passwords masked unless asked to keep them.
//
// The caller's thread only copies each datagram into a queue (a search burst of thousands of
// replies must not slow the program down); the capture's own thread masks, describes and encodes
// the queued packets and, for a file, writes them, at least every FlushInterval, at a lower
// priority (nice + 10) so that on a busy machine it gives way to the program. The file always
// holds whole blocks, so a process that is killed leaves a readable capture that lacks at most
// the last FlushInterval.
//
// Bounded: the capture never grows past its size limit. Once the next block would not fit it
// stops, counts what it leaves out and says so (StopNote, and in the interface statistics that
// end the file, which Wireshark shows as dropped packets). The queue is bounded too: what arrives
// while it is full (a disk that cannot keep up) is left out and counted.
//
// Two forms:
//  - ToFile streams to a file (the command-line tool);
//  - InMemory keeps the capture (the window): Restart drops it (a new search begins a new
//    capture), SaveAs writes it out.
//
// Every member function may be called from any thread.

#include "capture/pcapng.h"
#include "core/capture_sink.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnix::capture {

inline constexpr std::uint64_t DefaultLimitBytes = 64ull * 1024 * 1024;
// Smaller limits are raised to this: room for the headers and a few packets.
inline constexpr std::uint64_t MinimumLimitBytes = 4096;

struct TCaptureOptions {
    bool KeepLogin = false;                       // leave log-in passwords as they travelled
    std::uint64_t LimitBytes = DefaultLimitBytes; // the capture never grows past this
    std::string Application;                      // the program and its version, for the file header
    std::chrono::milliseconds FlushInterval{200}; // the longest a packet waits in the queue
    std::size_t QueueBytes = 8 * 1024 * 1024;     // the most the queue holds
    // The capture's thread runs every FlushInterval, so a burst stays queued while it lasts and
    // is encoded after it; only this much queued wakes the thread early.
    std::size_t WakeBytes = 4 * 1024 * 1024;
};

struct TCaptureStats {
    std::uint64_t Packets = 0; // datagrams and serial chunks in the capture
    std::uint64_t LeftOut = 0; // left out: after the capture stopped, or while the queue was full
    std::uint64_t Bytes = 0;   // size of the capture so far (without the closing statistics)
    bool Stopped = false;      // stopped growing: size limit reached, or the file could not be written
    bool WriteFailed = false;  // the file could not be written (the capture on disk is incomplete)
};

class TCapture final : public ICaptureSink {
public:
    // Creates (or truncates) path and writes the file header. nullptr and error set when the file
    // cannot be created.
    static std::unique_ptr<TCapture> ToFile(const std::string& path, const TCaptureOptions& options,
                                            std::string& error);
    static std::unique_ptr<TCapture> InMemory(const TCaptureOptions& options);
    // Finish().
    ~TCapture() override;
    TCapture(const TCapture&) = delete;
    TCapture& operator=(const TCapture&) = delete;

    void Datagram(const TDatagramEvent& event) override;
    void SerialChunk(const TSerialEvent& event) override;

    // InMemory: forgets everything captured so far and starts a new capture.
    void Restart();
    // InMemory: writes the capture of everything handed over so far, and its statistics, to path
    // (through a temporary file renamed into place). false and error set on failure.
    bool SaveAs(const std::string& path, std::string& error);
    // Returns once everything handed over so far is in the capture (for a file: written).
    void Flush();
    // Flush, then for a file the statistics, and close it. Later calls do nothing; later packets
    // are ignored.
    void Finish();

    // Up to date with everything handed over before the last Flush, SaveAs or Finish.
    TCaptureStats Stats() const;
    // Why the capture stopped or left packets out ("capture stopped at its size limit of 67108864
    // bytes; 12 packets left out"), or empty.
    std::string StopNote() const;

private:
    struct TInterface {
        bool Serial = false;
        TIpv4 Address = 0;
        std::string SerialPort;
        std::uint64_t Seen = 0;
        std::uint64_t LeftOut = 0;
    };
    struct TRecord; // a queued packet, as the worker reads it back

    TCapture(const TCaptureOptions& options, int fd);
    // --- Caller side. ---
    void Enqueue(bool serial, TDirection direction, TChannel channel, std::string_view local,
                 std::uint16_t localPort, std::string_view peer, std::uint16_t peerPort,
                 std::span<const std::uint8_t> bytes, TClock::time_point time);
    // --- Worker side (stateMutex_). ---
    void Work();
    void Encode(std::span<const std::uint8_t> records);
    void EncodeDatagram(const TRecord& r);
    void EncodeSerial(const TRecord& r);
    TIpv4 AddressOf(std::string_view text, int slot);
    void StartSection();
    // The interface of a local address or serial port, added when first seen; -1 when it does not
    // fit any more (the packet is then left out).
    int InterfaceFor(bool serial, TIpv4 address, std::string_view serialPort);
    // Whether a block of this size still fits; on the first that does not, the capture stops.
    bool Fits(std::size_t blockSize);
    // The buffer the next block of blockSize bytes goes into. Blocks collect in chunks of about
    // ChunkBytes that are never moved once filled; a file's written chunks are used again.
    TBuffer& Room(std::size_t blockSize);
    void Added(int interfaceId, std::size_t blockSize);
    void LeaveOut(int interfaceId);
    void WriteChunks();
    std::size_t StatisticsSize() const;
    void AppendStatistics(TBuffer& out) const;
    std::string StopNoteLocked() const;

    static constexpr std::size_t ChunkBytes = 64 * 1024;
    const TCaptureOptions options_;
    const std::uint64_t limit_;
    const bool toFile_;

    // The queue: what callers hand over, until the worker takes it.
    std::mutex queueMutex_;
    std::condition_variable wake_;    // the worker: something to do
    std::condition_variable drained_; // Flush and friends: the worker caught up
    // A piece of the queue: records one after the other, never moved once written.
    struct TQueueChunk {
        std::unique_ptr<std::uint8_t[]> Data;
        std::size_t Used = 0;
        std::size_t Capacity = 0;
    };
    static constexpr std::size_t QueueChunkBytes = 64 * 1024;
    std::vector<TQueueChunk> queue_;      // what waits for the worker, in order
    std::vector<TQueueChunk> queueSpare_; // emptied chunks, for use again
    std::size_t queuedBytes_ = 0;
    std::uint64_t queueLeftOut_ = 0; // left out while the queue was full or the capture stopped
    std::uint64_t requested_ = 0;    // Flush requests, counted
    std::uint64_t done_ = 0;         // the last request the worker has caught up with
    bool restart_ = false;
    bool finishing_ = false;
    std::atomic<bool> finished_{false}; // read by callers without a lock: later packets are ignored

    // The capture itself, kept by the worker.
    mutable std::mutex stateMutex_;
    std::vector<TBuffer> chunks_; // ToFile: not yet written; InMemory: the whole capture
    std::vector<TBuffer> spare_;  // ToFile: written chunks, emptied, for use again
    std::uint64_t size_ = 0;      // bytes of the capture, written or not
    std::uint64_t reserved_ = 0;  // kept free for the closing statistics
    std::vector<TInterface> interfaces_;
    std::uint64_t packets_ = 0;
    std::uint64_t leftOut_ = 0;          // left out by the worker (the capture had stopped)
    std::uint64_t queueLeftOutSeen_ = 0; // queueLeftOut_ as of the worker's last round
    bool stopped_ = false;
    std::string writeError_;
    std::uint16_t ipIdentification_ = 0;
    std::vector<std::uint8_t> masked_; // the worker's masked copy of the packet it encodes
    struct TAddressCache {
        std::string Text;
        TIpv4 Address = 0;
    };
    TAddressCache addresses_[2]; // the last local and peer address read
    int fd_ = -1;                // ToFile only

    std::thread worker_;
};

} // namespace varnix::capture
