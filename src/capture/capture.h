#pragma once
// A capture of everything the program exchanges with modules, as a pcapng file for Wireshark:
// one interface per local IPv4 address (raw IPv4 packets with real IPv4 and UDP headers), one
// per serial port (Exported PDU records for the "vorz" dissector), a comment on every packet
// saying what it is, log-in passwords masked unless asked to keep them.
//
// Bounded: the capture never grows past its size limit. Once the next block would not fit it
// stops, counts what it leaves out and says so (StopNote, and in the interface statistics that
// end the file, which Wireshark shows as dropped packets).
//
// Two forms:
//  - ToFile streams to a file (the command-line tool). Blocks are collected in memory and written
//    by a flusher thread at least every FlushInterval and whenever FlushBytes have collected, so
//    the caller never waits for the disk. The file always holds whole blocks, so a process that is
//    killed leaves a readable capture that lacks at most the last FlushInterval.
//  - InMemory keeps the capture (the window): Restart drops it (a new search begins a new
//    capture), SaveAs writes it out.
//
// Every member function may be called from any thread.

#include "capture/capture_sink.h"
#include "capture/pcapng.h"

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
    std::uint64_t LimitBytes = DefaultLimitBytes; // the file never grows past this
    std::string Application;                      // the program and its version, for the file header
    std::size_t FlushBytes = 64 * 1024;           // ToFile: write once this much has collected
    std::chrono::milliseconds FlushInterval{200}; // ToFile: and at least this often
};

struct TCaptureStats {
    std::uint64_t Packets = 0; // datagrams and serial chunks written
    std::uint64_t LeftOut = 0; // left out after the capture stopped
    std::uint64_t Bytes = 0;   // size of the capture so far (without the closing statistics)
    bool Stopped = false;      // stopped growing: size limit reached, or the file could not be written
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
    // InMemory: writes the capture and its statistics to path (through a temporary file renamed
    // into place). false and error set on failure.
    bool SaveAs(const std::string& path, std::string& error) const;
    // ToFile: writes what has collected now.
    void Flush();
    // ToFile: writes the statistics, flushes and closes the file; later calls do nothing, later
    // packets are left out.
    void Finish();

    TCaptureStats Stats() const;
    // Why the capture stopped ("capture stopped at its size limit of 67108864 bytes; 12 packets
    // left out"), or empty while it grows.
    std::string StopNote() const;

private:
    struct TInterface {
        bool Serial = false;
        TIpv4 Address = 0;
        std::string SerialPort;
        std::uint64_t Seen = 0;
        std::uint64_t LeftOut = 0;
    };

    TCapture(const TCaptureOptions& options, int fd);
    void StartSection();
    // The interface of a local address or serial port, added when first seen; -1 when it does not
    // fit any more (the packet is then left out).
    int InterfaceFor(bool serial, TIpv4 address, std::string_view serialPort);
    // Whether a block of this size still fits; on the first that does not, the capture stops.
    bool Fits(std::size_t blockSize);
    void LeaveOut(int interfaceId);
    void Appended();
    std::string StopNoteLocked() const;
    void AppendStatistics(TBuffer& out) const;
    void FlusherLoop();
    void FlushLocked(std::unique_lock<std::mutex>& fileLock);

    const TCaptureOptions options_;
    const std::uint64_t limit_;
    mutable std::mutex mutex_;   // everything below
    TBuffer pending_;            // ToFile: not yet written; InMemory: the whole capture
    std::uint64_t size_ = 0;     // bytes of the capture, written or pending
    std::uint64_t reserved_ = 0; // kept free for the closing statistics
    std::vector<TInterface> interfaces_;
    std::uint64_t packets_ = 0;
    std::uint64_t leftOut_ = 0;
    bool stopped_ = false;
    std::string writeError_;
    std::uint16_t ipIdentification_ = 0;
    std::vector<std::uint8_t> scratch_; // a masked copy of the packet being written
    std::chrono::steady_clock::time_point oldestPending_{};

    // ToFile only.
    int fd_ = -1;
    std::mutex fileMutex_; // taken before mutex_ by whoever writes, so blocks keep their order
    std::condition_variable wake_;
    bool finishing_ = false;
    bool finished_ = false;
    std::thread flusher_;
};

} // namespace varnix::capture
