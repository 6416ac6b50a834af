#pragma once
// A read's blocks as one byte string for the snapshots table, and back. The bytes are the
// module's own, unchanged, so a stored configuration decodes exactly as the read did and a save
// built from it carries every byte the module reported.
//
// Layout (version 1): 1 version, 1 flags (bit 0 base+port, 1 cloud, 2 heartbeat, 3 httpd),
// 1 Modbus kind (0, 1, 4, 7), 1 kept status byte, 1 kept socket flags, then the 130-byte
// base+port reply, the 50-byte cloud, 85-byte heartbeat and 302-byte httpd blocks and the first
// 7 bytes of the Modbus reply.

#include "core/block_store.h"
#include "core/result.h"
#include "model/module_settings.h"

#include <QByteArray>

#include <cstdint>
#include <span>

namespace varnix {

struct TSnapshotBlocks {
    TBlockStore Store;
    TReceivedBlocks Got;
};

QByteArray EncodeSnapshotBlocks(const TBlockStore& store, const TReceivedBlocks& got);
// Refuses a string of another length or version (a damaged row).
TResult<TSnapshotBlocks> DecodeSnapshotBlocks(const QByteArray& bytes);

// A Z2 read over the serial line: the 130-byte parameter reply (base and port blocks) and, when it
// came (else empty), the 115-byte follow-up, laid out as the first 30 bytes of the cloud block and
// then the heartbeat block. `Settings` decodes all of it; `Snapshot` keeps only the blocks that
// came whole (base, port, heartbeat), so a restore from it writes nothing guessed.
struct TSerialZ2Read {
    TModuleSettings Settings;
    TSnapshotBlocks Snapshot;
};
TSerialZ2Read SerialZ2Read(std::span<const std::uint8_t> params, std::span<const std::uint8_t> more);

} // namespace varnix
