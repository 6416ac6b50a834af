#pragma once
// Values for the bytes a module sends that the program must not interpret: the acknowledgement's
// byte 2, the open bytes of the search reply, the carried bytes of the parameter blocks, the
// padding of the kind-7 Modbus reply and of the serial replies. A real module fills them with
// whatever its firmware leaves there; the simulator fills them from a seeded generator, different
// per module and per run, so no code can come to rely on a fixed value. One seed and one command
// line give the same bytes again.

#include "bytes.h"

#include <cstddef>
#include <cstdint>

namespace varnix::sim {

class Vary {
public:
    explicit Vary(std::uint64_t seed) : state_(seed) {}
    // The stream of the module at this position of the fleet: modules with the same description
    // (even the same MAC) get different bytes, and a run with the same seed the same ones.
    static Vary forModule(std::uint64_t seed, std::size_t index);

    std::uint64_t next();
    std::uint8_t byte() { return static_cast<std::uint8_t>(next() >> 56); }
    // Any byte but `avoid`: for values where the one excluded value is the one that would let a
    // wrong reading pass unnoticed (a copy of the command code, a zero that leaves a sum unchanged).
    std::uint8_t byteOtherThan(std::uint8_t avoid);
    // Bytes [at, at + n) of b.
    void fill(Bytes& b, std::size_t at, std::size_t n);
    // The bits of `mask` in b[at], at least one of them set (all clear is what an encoder that
    // drops them would write, so that pattern would hide it); the other bits stay.
    void bits(Bytes& b, std::size_t at, std::uint8_t mask);

private:
    std::uint64_t state_;
};

// A seed for a run that was given none: the clock and the system's random source.
std::uint64_t freshVarySeed();
// "varnix-sim: vary seed N" on stderr, flushed.
void printVarySeed(std::uint64_t seed);

} // namespace varnix::sim
