#pragma once
// The traffic of a support case, written into a capture: a search answered by a Z2 and a Z3
// module, a read of the Z2 module with all its replies, a Z2 save with its acknowledgements, a
// command with a corrupted checksum and one with a wrong password, the start of a firmware
// upgrade, serial reads and a serial save, and datagrams on ports of no module. Commands come from the
// program's own builders (search request, addressed commands, save plan, upgrade session, serial frames); the
// modules' answers come from the simulator's model, which builds them from byte offsets of its own.
//
// Every packet written is numbered as tshark numbers frames, and the fields tshark must show for
// it are noted with it.

#include "core/capture_sink.h"
#include "core/types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace varnix::capture::test {

inline constexpr char Password[] = "s3cret"; // the log-in password; must not show in a default capture

struct TExpect {
    int Frame = 0;
    std::string Field;
    std::string Value;
};

struct TTrafficResult {
    std::vector<TExpect> Expects;
    int Frames = 0;
    std::vector<int> BadChecksumFrames;    // frames whose checksum tshark must flag
    std::vector<int> ModuleProtocolFrames; // frames the vorz dissector must decode
    std::vector<int> OtherFrames;          // frames it must leave alone
};

// Writes the whole support case into sink.
TTrafficResult WriteSupportCase(ICaptureSink& sink);

} // namespace varnix::capture::test
