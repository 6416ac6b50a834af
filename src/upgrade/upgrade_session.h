#pragma once
// One firmware upgrade run as a state machine without sockets, timers or widgets.
//
// The PC broadcasts an upgrade request carrying the module's MAC to port 9. The module, which has
// no address yet, broadcasts a 300-byte boot request (BOOTP layout) to port 67; the PC answers by
// broadcast to port 68 with the module's address, its own address and the boot file name
// "firmware.bin". The module then asks for that file with a 21-byte read request to port 69, and
// the PC sends the image (without its 4-byte signature) in 512-byte blocks from port 40300 to the
// module's port 13633, one block per acknowledgement, ending with a block shorter than 512 bytes.
//
// The caller feeds the session three kinds of input (Start, a datagram, a timer tick) and carries
// out the returned TUpgradeOutput in its order: endpoint changes, datagrams, then the rest.
//
// Trust: the module's MAC is public (every search reply carries it) and any host on the segment
// can send to ports 67, 69 and 40300, so a datagram counts only where nothing else could have
// sent it: a boot request only with the target's MAC as its hardware address (bytes 28..33); a
// read request only from the target address and the module's data port (13633), the port the
// blocks go to; an acknowledgement only from that same address and port. A boot request of
// another MAC, even one that says the image does not fit (byte 26), and a read request while the
// transfer runs (it would start it again) change nothing; each is counted and reported in
// TUpgradeOutput::Ignored.

#include "core/types.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnix {

inline constexpr std::uint16_t UpgradeRequestPort = 9; // PC -> 255.255.255.255
inline constexpr std::uint16_t BootServerPort = 67;    // boot requests arrive here
inline constexpr std::uint16_t BootClientPort = 68;    // boot replies go here
inline constexpr std::uint16_t FileServerPort = 69;    // file read requests arrive here
inline constexpr std::uint16_t DataLocalPort = 40300;  // blocks leave from, acknowledgements arrive at
inline constexpr std::uint16_t ModuleDataPort = 13633; // the module's port for the blocks
inline constexpr int SearchTimeoutMs = 10000;          // for the boot and the read request after a start
inline constexpr int BlockTimeoutMs = 2000;            // for each acknowledgement
inline constexpr int MaxResends = 9;                   // per run, not per block
inline constexpr std::size_t UpgradeBlockSize = 512;
inline constexpr std::size_t BootRecordSize = 300;
inline constexpr std::size_t FirmwareSignatureSize = 4;
inline constexpr char BootFileName[] = "firmware.bin";

// Parses a dotted IPv4 text ("192.168.0.7"; blanks around it are allowed) into a number with the
// first part in the top byte. Anything else (missing or extra parts, a part over 255) gives nullopt.
std::optional<std::uint32_t> ParseIPv4(std::string_view text);

// The 30-byte upgrade request for a module MAC: six 0xAA, then the MAC four times.
TIdBytes BuildUpgradeRequest(std::span<const std::uint8_t, 6> mac);

struct TUpgradeSend {
    std::uint16_t LocalPort = 0; // the binding it leaves from
    std::string DestIP;          // dotted text; "255.255.255.255" for a broadcast
    std::uint16_t DestPort = 0;
    TIdBytes Data;
};

// What the caller does after one input; every member is optional and absent means "no change".
struct TUpgradeOutput {
    bool OpenEndpoint = false;  // bind ports 9, 67, 69 and 40300 for the run's local address
    bool CloseEndpoint = false; // drop every binding
    std::vector<TUpgradeSend> Sends;
    // lbl_Info: the text of LabelKey followed by LabelSuffix (a percentage, or a detail).
    std::optional<std::string> LabelKey;
    std::string LabelSuffix;
    std::optional<int> Progress; // pb1, 0..100
    std::optional<bool> ProgramEnabled, ExitEnabled;
    std::optional<std::string> MessageKey; // a message box with this text
    std::optional<int> TimerMs;            // 0 stops the timer; > 0 (re)starts it with that interval
    bool Succeeded = false;                // the run has just ended with success
    bool Ended = false;                    // the run has just ended, whatever the result
    // Why a datagram changed nothing although it looked like one of the run's (for a log).
    std::optional<std::string> Ignored;
};

struct TUpgradeStart {
    std::string TargetIP, TargetMAC, LocalIP; // as typed
    std::string FileName;                     // only tested for being empty
    // The whole firmware file (signature first); nullopt when it could not be read. An empty
    // optional is only looked at after the address checks passed.
    std::optional<TIdBytes> Image;
    std::string ImageError; // why it could not be read, shown after "Upgrade failed!"
    // The image shared with other runs (a rollout's); taken instead of Image when set.
    std::shared_ptr<const TIdBytes> SharedImage;
};

class TUpgradeSession {
public:
    enum class Phase { Idle, Searching, Transferring, Finished };

    TUpgradeOutput Start(TUpgradeStart start);
    // A datagram that reached the local port `localPort` from senderIP:senderPort.
    TUpgradeOutput Datagram(std::uint16_t localPort, std::string_view senderIP, std::uint16_t senderPort,
                            std::span<const std::uint8_t> data);
    TUpgradeOutput TimerTick();
    // Something outside the session failed (a binding, a send): ends the run with "Upgrade
    // failed!" and the detail after it.
    TUpgradeOutput Fail(const std::string& detail);
    // Exit: drop the endpoint, stop the timer, progress 0.
    TUpgradeOutput Stop();

    Phase phase() const { return phase_; }
    std::uint32_t currentBlock() const { return currentBlock_; }
    int retryCount() const { return retryCount_; }
    // The short last block has gone out (its acknowledgement may still be missing).
    bool lastBlockSent() const { return lastBlockSent_; }
    std::string localIP() const { return localIPText_; }
    std::string targetIP() const { return targetIPText_; }
    const std::array<std::uint8_t, 6>& targetMac() const { return mac_; }
    // The transaction id of the last boot request answered (the reply carries it back).
    std::uint32_t transactionId() const { return xid_; }
    // Datagrams that looked like the run's but did not count (see Trust above).
    int ignored() const { return ignored_; }
    bool Active() const { return phase_ == Phase::Searching || phase_ == Phase::Transferring; }

private:
    void SendBlock(std::uint32_t n, TUpgradeOutput& out);
    void End(TUpgradeOutput& out, const char* key, bool success);
    void OnBootRequest(std::span<const std::uint8_t> data, TUpgradeOutput& out);
    void OnReadRequest(std::span<const std::uint8_t> data, TUpgradeOutput& out);
    void Ignore(TUpgradeOutput& out, std::string why);
    void OnAck(std::span<const std::uint8_t> data, TUpgradeOutput& out);

    Phase phase_ = Phase::Idle;
    std::shared_ptr<const TIdBytes> image_; // shared by the runs of a rollout
    std::uint32_t targetIP_ = 0, localIP_ = 0;
    std::array<std::uint8_t, 6> mac_{};
    std::uint32_t xid_ = 0;
    int ignored_ = 0;
    std::string targetIPText_, localIPText_;
    std::uint32_t currentBlock_ = 0; // counted in 32 bits; the wire carries the low 16
    int retryCount_ = -1;
    bool lastBlockSent_ = false;
};

} // namespace varnix
