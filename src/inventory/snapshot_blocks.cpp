#include "inventory/snapshot_blocks.h"

#include <algorithm>
#include <array>

namespace varnix {

namespace {

constexpr char Version = 1;
constexpr int HeadSize = 5;
constexpr int Size =
    HeadSize + ParamReplySize + CloudBlockSize + HeartBlockSize + HttpdReplySize + ModbusBlockMax;

template <std::size_t N> void Put(QByteArray& out, const std::array<std::uint8_t, N>& a) {
    out.append(reinterpret_cast<const char*>(a.data()), static_cast<qsizetype>(N));
}

template <std::size_t N> void Take(const char*& p, std::array<std::uint8_t, N>& a) {
    std::copy(p, p + N, a.begin());
    p += N;
}

// The Modbus reply's fields from the bytes kept of it, decoded as the reply itself was.
TModbusParam ModbusOf(const TBlockStore& store, int kind) {
    std::array<std::uint8_t, 64> datagram{};
    std::copy(store.Modbus.begin(), store.Modbus.end(), datagram.begin());
    const std::size_t size = kind == 7 ? 64 : static_cast<std::size_t>(kind);
    return DecodeModbusAnswer(std::span<const std::uint8_t>(datagram).first(size)).first;
}

} // namespace

QByteArray EncodeSnapshotBlocks(const TBlockStore& store, const TReceivedBlocks& got) {
    QByteArray out;
    out.reserve(Size);
    const int flags = (got.Params ? 1 : 0) | (got.Cloud ? 2 : 0) | (got.Heart ? 4 : 0) | (got.Httpd ? 8 : 0);
    out.append(Version);
    out.append(static_cast<char>(flags));
    out.append(static_cast<char>(got.ModbusKind));
    out.append(static_cast<char>(store.KeptStatus));
    out.append(static_cast<char>(store.KeptSocketFlags));
    Put(out, store.BasePort);
    Put(out, store.Cloud);
    Put(out, store.Heart);
    Put(out, store.Httpd);
    Put(out, store.Modbus);
    return out;
}

TResult<TSnapshotBlocks> DecodeSnapshotBlocks(const QByteArray& bytes) {
    if (bytes.size() != Size || bytes[0] != Version)
        return TError{"", "",
                      "a stored snapshot of unknown layout (" + std::to_string(bytes.size()) + " bytes)"};
    TSnapshotBlocks s;
    const int flags = static_cast<std::uint8_t>(bytes[1]);
    const int kind = static_cast<std::uint8_t>(bytes[2]);
    s.Got.Params = flags & 1;
    s.Got.Cloud = flags & 2;
    s.Got.Heart = flags & 4;
    s.Got.Httpd = flags & 8;
    s.Store.KeptStatus = static_cast<std::uint8_t>(bytes[3]);
    s.Store.KeptSocketFlags = static_cast<std::uint8_t>(bytes[4]);
    const char* p = bytes.constData() + HeadSize;
    Take(p, s.Store.BasePort);
    Take(p, s.Store.Cloud);
    Take(p, s.Store.Heart);
    Take(p, s.Store.Httpd);
    Take(p, s.Store.Modbus);
    if (kind == 1 || kind == 4 || kind == 7) {
        s.Got.ModbusKind = kind;
        s.Got.Modbus = ModbusOf(s.Store, kind);
    }
    return s;
}

TSerialZ2Read SerialZ2Read(std::span<const std::uint8_t> params, std::span<const std::uint8_t> more) {
    TSerialZ2Read r;
    TBlockStore& store = r.Snapshot.Store;
    TReceivedBlocks got;
    if (params.size() == store.BasePort.size()) {
        std::copy(params.begin(), params.end(), store.BasePort.begin());
        got.Params = true;
    }
    constexpr std::size_t cloudPart = 30;
    if (more.size() == cloudPart + store.Heart.size()) {
        std::copy_n(more.begin(), cloudPart, store.Cloud.begin());
        std::copy_n(more.begin() + cloudPart, store.Heart.size(), store.Heart.begin());
        got.Cloud = got.Heart = true;
    }
    r.Settings = DecodeModuleSettings(FamilyZ2, 0, store, got);
    r.Snapshot.Got = got;
    r.Snapshot.Got.Cloud = false;
    return r;
}

} // namespace varnix
