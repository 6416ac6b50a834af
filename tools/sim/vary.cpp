#include "vary.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <random>

namespace varnix::sim {

namespace {

// SplitMix64's output function: every input bit reaches every output bit.
std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

} // namespace

Vary Vary::forModule(std::uint64_t seed, std::size_t index) {
    return Vary(mix(seed ^ mix(static_cast<std::uint64_t>(index) + kGolden)));
}

std::uint64_t Vary::next() {
    state_ += kGolden;
    return mix(state_);
}

std::uint8_t Vary::byteOtherThan(std::uint8_t avoid) {
    // 255 values, evenly: count past the avoided one.
    const auto k = static_cast<std::uint8_t>((next() >> 32) % 255);
    return static_cast<std::uint8_t>(k >= avoid ? k + 1 : k);
}

void Vary::fill(Bytes& b, std::size_t at, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        b[at + i] = byte();
}

void Vary::bits(Bytes& b, std::size_t at, std::uint8_t mask) {
    std::uint8_t v = 0;
    while (mask != 0 && (v & mask) == 0)
        v = byte();
    b[at] = static_cast<std::uint8_t>((b[at] & ~mask) | (v & mask));
}

std::uint64_t freshVarySeed() {
    std::random_device rd;
    const auto clock =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
    const std::uint64_t seed = mix(clock ^ ((static_cast<std::uint64_t>(rd()) << 32) | rd()));
    // Printed and given back as --vary-seed; kept to 32 bits so it is short to copy.
    return seed & 0xFFFFFFFFull;
}

void printVarySeed(std::uint64_t seed) {
    std::fprintf(stderr, "varnix-sim: vary seed %" PRIu64 "\n", seed);
    std::fflush(stderr);
}

} // namespace varnix::sim
