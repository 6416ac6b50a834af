#include "upgrade/upgrade_session.h"

#include "core/convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnix {

namespace {

constexpr char KeyNoClient[] = "lang_Hint_UpNoClient";
constexpr char KeyNoFileName[] = "lang_Hint_UpNoFileName";
constexpr char KeyNoSameNetwork[] = "lang_Hint_UpNoSamNetwork";
constexpr char KeyFailed[] = "lang_Hint_Upfailed";
constexpr char KeyTimeOut[] = "lang_Hint_UpTimeOut";
constexpr char KeySearching[] = "lang_Hint_UpSearching";
constexpr char KeyReady[] = "lang_Hint_UpReady";
constexpr char KeyProgress[] = "lang_Hint_UpProgress";
constexpr char KeySuccess[] = "lang_Hint_UpSuccess";
constexpr char KeyNotMatch[] = "lang_Hint_BinNotMatch";
constexpr char KeyNotFirmware[] = "lang_Hint_UpNotFirmware";
constexpr char Broadcast[] = "255.255.255.255";
constexpr std::size_t ReadRequestSize = 21;
constexpr std::size_t AckSize = 4;
constexpr std::size_t BootFileNameSize = sizeof(BootFileName) - 1;

void SetLabel(TUpgradeOutput& out, const char* key, std::string suffix = {}) {
    out.LabelKey = key;
    out.LabelSuffix = std::move(suffix);
}

void PutIPv4(std::uint32_t v, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// A MAC as typed: blanks, ':' and '-' between the pairs are ignored.
bool ParseMac(std::string_view text, std::array<std::uint8_t, 6>& mac) {
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':' && c != '-')
            digits.push_back(c);
    if (digits.size() != 12)
        return false;
    try {
        MacTextToBytes(digits, mac);
    } catch (const ConversionError&) {
        return false;
    }
    return true;
}

} // namespace

std::optional<std::uint32_t> ParseIPv4(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4) {
        std::uint32_t part = 0;
        std::size_t digits = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3; ++i, ++digits)
            part = part * 10 + static_cast<std::uint32_t>(text[i] - '0');
        if (digits == 0 || part > 255)
            return std::nullopt;
        value = (value << 8) | part;
        if (++parts < 4) {
            if (i >= text.size() || text[i] != '.')
                return std::nullopt;
            ++i;
        }
    }
    if (i != text.size())
        return std::nullopt;
    return value;
}

TIdBytes BuildUpgradeRequest(std::span<const std::uint8_t, 6> mac) {
    TIdBytes d(6, 0xAA);
    for (int i = 0; i < 4; ++i)
        d.insert(d.end(), mac.begin(), mac.end());
    return d;
}

TUpgradeOutput TUpgradeSession::Start(TUpgradeStart s) {
    TUpgradeOutput out;
    if (phase_ == Phase::Searching || phase_ == Phase::Transferring)
        return out;
    if (s.TargetIP.empty() || s.TargetMAC.empty() || s.LocalIP.empty()) {
        SetLabel(out, KeyNoClient);
        return out;
    }
    if (s.FileName.empty()) {
        SetLabel(out, KeyNoFileName);
        return out;
    }
    // Addresses are compared as numbers, so " 192.168.0.7" is the same module as "192.168.0.7".
    const auto target = ParseIPv4(s.TargetIP);
    const auto local = ParseIPv4(s.LocalIP);
    if (!target || !local || (*target & 0xFFFFFF00U) != (*local & 0xFFFFFF00U)) {
        out.MessageKey = KeyNoSameNetwork;
        return out;
    }
    std::array<std::uint8_t, 6> mac{};
    if (!ParseMac(s.TargetMAC, mac)) {
        SetLabel(out, KeyFailed, " MAC: " + s.TargetMAC);
        return out;
    }
    std::shared_ptr<const TIdBytes> image = std::move(s.SharedImage);
    if (!image && s.Image)
        image = std::make_shared<const TIdBytes>(std::move(*s.Image));
    if (!image) {
        SetLabel(out, KeyFailed, " " + s.ImageError);
        return out;
    }
    // Every image begins with the 4-byte signature the module compares with its own.
    if (image->size() < FirmwareSignatureSize) {
        SetLabel(out, KeyNotFirmware);
        return out;
    }
    image_ = std::move(image);
    mac_ = mac;
    xid_ = 0;
    ignored_ = 0;
    targetIP_ = *target;
    localIP_ = *local;
    targetIPText_ = IntToIPText(targetIP_);
    localIPText_ = IntToIPText(localIP_);
    currentBlock_ = 0;
    retryCount_ = -1;
    lastBlockSent_ = false;
    phase_ = Phase::Searching;

    out.ProgramEnabled = false;
    out.ExitEnabled = false;
    out.TimerMs = SearchTimeoutMs;
    SetLabel(out, KeySearching);
    out.CloseEndpoint = true;
    out.OpenEndpoint = true;
    out.Progress = 0;
    out.Sends.push_back({UpgradeRequestPort, Broadcast, UpgradeRequestPort, BuildUpgradeRequest(mac)});
    return out;
}

TUpgradeOutput TUpgradeSession::Datagram(std::uint16_t localPort, std::string_view senderIP,
                                         std::uint16_t senderPort, std::span<const std::uint8_t> data) {
    TUpgradeOutput out;
    if (phase_ != Phase::Searching && phase_ != Phase::Transferring)
        return out;
    if (localPort == BootServerPort && data.size() == BootRecordSize) {
        OnBootRequest(data, out);
        return out;
    }
    const bool readRequest = localPort == FileServerPort && data.size() == ReadRequestSize;
    const bool ack = localPort == DataLocalPort && data.size() == AckSize;
    if (!readRequest && !ack)
        return out;
    const auto sender = ParseIPv4(senderIP);
    if (!sender || *sender != targetIP_ || senderPort != ModuleDataPort) {
        Ignore(out, std::string(readRequest ? "read request" : "acknowledgement") + " from " +
                        std::string(senderIP) + ":" + std::to_string(senderPort) + ", not from the module (" +
                        targetIPText_ + ":" + std::to_string(ModuleDataPort) + ")");
        return out;
    }
    if (readRequest)
        OnReadRequest(data, out);
    else if (phase_ == Phase::Transferring)
        OnAck(data, out);
    return out;
}

void TUpgradeSession::Ignore(TUpgradeOutput& out, std::string why) {
    ++ignored_;
    out.Ignored = std::move(why);
}

void TUpgradeSession::OnBootRequest(std::span<const std::uint8_t> data, TUpgradeOutput& out) {
    // op 1 (request), Ethernet hardware type and length, no relay hops, no flags.
    if (data[0] != 1 || data[1] != 1 || data[2] != 6 || data[3] != 0 || data[10] != 0 || data[11] != 0)
        return;
    // The client hardware address names the module asking. Another module's request (or a forged
    // one) neither takes the target's address nor ends the run with its mismatch flag.
    if (!std::equal(mac_.begin(), mac_.end(), data.begin() + 28)) {
        Ignore(out, "boot request of " + BytesToHexDump(data.subspan(28, 6)) + "(not the module upgraded)");
        return;
    }
    if (phase_ == Phase::Transferring) {
        // The module is reading the image: it has its address and asks for nothing else.
        Ignore(out, "boot request during the transfer");
        return;
    }
    // The module puts its firmware signature at the start of the server name field (44..47);
    // byte 26 set means it wants to be told when the image is not for it.
    const TIdBytes& img = *image_;
    if (std::equal(img.begin(), img.begin() + FirmwareSignatureSize, data.begin() + 44)) {
        xid_ = (std::uint32_t{data[4]} << 24) | (std::uint32_t{data[5]} << 16) |
               (std::uint32_t{data[6]} << 8) | data[7];
        SetLabel(out, KeyReady);
        TIdBytes reply(data.begin(), data.end());
        reply[0] = 2;
        PutIPv4(targetIP_, &reply[16]);
        PutIPv4(localIP_, &reply[20]);
        std::memcpy(&reply[108], BootFileName, BootFileNameSize);
        out.Sends.push_back({BootServerPort, Broadcast, BootClientPort, std::move(reply)});
    } else if (data[26] != 0) {
        End(out, KeyNotMatch, false);
    }
}

void TUpgradeSession::OnReadRequest(std::span<const std::uint8_t> data, TUpgradeOutput& out) {
    static constexpr char Mode[] = "octet";
    if (data[0] != 0 || data[1] != 1)
        return;
    if (std::memcmp(&data[2], BootFileName, BootFileNameSize) != 0)
        return;
    if (std::memcmp(&data[15], Mode, sizeof(Mode) - 1) != 0)
        return;
    if (phase_ == Phase::Transferring) {
        // Starting again from block 1 would let anyone who can send from the module's address
        // hold the transfer back; the module asks once, and its own blocks keep coming.
        Ignore(out, "read request during the transfer");
        return;
    }
    phase_ = Phase::Transferring;
    retryCount_ = 0;
    SendBlock(1, out);
}

void TUpgradeSession::OnAck(std::span<const std::uint8_t> data, TUpgradeOutput& out) {
    if (data[0] != 0 || data[1] != 4)
        return;
    const std::uint16_t acked = static_cast<std::uint16_t>((data[2] << 8) | data[3]);
    const auto low16 = [](std::uint32_t n) { return static_cast<std::uint16_t>(n & 0xFFFFU); };
    if (acked == low16(currentBlock_)) {
        // Only the acknowledgement of the short block just sent ends the run.
        if (lastBlockSent_)
            End(out, KeySuccess, true);
        else
            SendBlock(currentBlock_ + 1, out);
    } else if (acked == low16(currentBlock_ - 1)) {
        // A repeated acknowledgement of the block before: the current one was lost on its way.
        SendBlock(currentBlock_, out);
    }
    // Any other number is stale or foreign and changes nothing.
}

void TUpgradeSession::SendBlock(std::uint32_t n, TUpgradeOutput& out) {
    const TIdBytes& img = *image_;
    currentBlock_ = n;
    const std::uint64_t offset = FirmwareSignatureSize + std::uint64_t{n - 1} * UpgradeBlockSize;
    const std::size_t k =
        offset >= img.size()
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(UpgradeBlockSize, img.size() - offset));
    TIdBytes packet(4 + k);
    packet[1] = 3;
    packet[2] = static_cast<std::uint8_t>(n >> 8);
    packet[3] = static_cast<std::uint8_t>(n);
    if (k > 0)
        std::memcpy(packet.data() + 4, img.data() + offset, k);
    lastBlockSent_ = k < UpgradeBlockSize;
    int percent = 100;
    if (!lastBlockSent_) {
        const double wholeBlocks = static_cast<double>(img.size() / UpgradeBlockSize);
        percent = static_cast<int>(std::lround(n / wholeBlocks * 100.0));
    }
    SetLabel(out, KeyProgress, std::to_string(percent) + "%");
    out.Progress = percent;
    out.Sends.push_back({DataLocalPort, targetIPText_, ModuleDataPort, std::move(packet)});
    out.TimerMs = BlockTimeoutMs;
}

TUpgradeOutput TUpgradeSession::TimerTick() {
    TUpgradeOutput out;
    if (phase_ != Phase::Searching && phase_ != Phase::Transferring) {
        out.TimerMs = 0;
        return out;
    }
    if (retryCount_ < 0 || retryCount_ >= MaxResends) {
        out.CloseEndpoint = true;
        End(out, KeyTimeOut, false);
        return out;
    }
    ++retryCount_;
    SendBlock(currentBlock_, out);
    return out;
}

TUpgradeOutput TUpgradeSession::Fail(const std::string& detail) {
    TUpgradeOutput out;
    out.CloseEndpoint = true;
    End(out, KeyFailed, false);
    out.LabelSuffix = detail;
    return out;
}

TUpgradeOutput TUpgradeSession::Stop() {
    TUpgradeOutput out;
    out.CloseEndpoint = true;
    out.ProgramEnabled = true;
    out.TimerMs = 0;
    out.Progress = 0;
    out.Ended = phase_ == Phase::Searching || phase_ == Phase::Transferring;
    phase_ = Phase::Idle;
    return out;
}

void TUpgradeSession::End(TUpgradeOutput& out, const char* key, bool success) {
    phase_ = Phase::Finished;
    SetLabel(out, key);
    out.ProgramEnabled = true;
    out.ExitEnabled = true;
    out.TimerMs = 0;
    if (key != KeyNotMatch)
        out.Progress = 0;
    out.Succeeded = success;
    out.Ended = true;
}

} // namespace varnix
