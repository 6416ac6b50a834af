#pragma once
// The serial side of the simulator: one Z1, Z2 or Z3 module with its CFG pin grounded, on the
// slave side of a pseudo-terminal. The program under test opens the slave path as its serial
// port; the simulator reads and answers on the master side.

#include "bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnix::sim {

struct SerialOptions {
    std::string family = "z2"; // z1, z2 or z3
    int splitMs = 0;           // > 0: every reply goes out in two halves with this pause between
    bool badChecksum = false;  // the 32-byte read reply carries a wrong checksum
    bool silent = false;       // frames are recorded, nothing is answered
    std::string statePath;     // JSON: stored blocks and every frame received, rewritten per frame
    std::string linkPath;      // a symbolic link to the slave path, made at start, removed at exit
    Bytes z1Body, base, port, cloud, heart; // start values; empty: a factory-like default
    // Seed of the bytes the program must not interpret (vary.h); none: 0 here, a fresh one when
    // run from the command line.
    std::optional<std::uint64_t> varySeed;
    double durationS = 0;
};

// The frames of one session on the line, answered the way a module answers them.
class SerialModule {
public:
    explicit SerialModule(const SerialOptions& o);

    struct Frame {
        double tMs;
        Bytes bytes;
        std::string result; // "read", "more", "K", "checksum", "ignored", "junk"
    };
    // Bytes from the line; returns the replies to send, in order.
    std::vector<Bytes> feed(const std::uint8_t* d, std::size_t n, double nowMs);
    // A frame left incomplete for too long is junk; its bytes are dropped.
    void expire(double nowMs);
    bool hasPartial() const { return !pending_.empty(); }
    std::string stateJson() const;

private:
    std::vector<Bytes> handle(const Bytes& frame, double nowMs);
    Bytes z1Reply() const;

    std::string family_;
    bool z2_;
    bool badChecksum_;
    Bytes z1Body_, base_, port_, cloud_, heart_;
    std::uint8_t z1Byte30_ = 0;            // byte 30 of the 32-byte reply: summed, not interpreted
    std::array<std::uint8_t, 5> z2Tail_{}; // bytes 132..136 of the 137-byte reply
    Bytes pending_;
    double pendingSince_ = 0;
    std::vector<Frame> frames_;
};

// Whether argv asks for the serial simulator (a "--serial" argument anywhere).
bool isSerialCommandLine(int argc, char** argv);
// Runs the serial simulator until SIGTERM/SIGINT or --duration; returns the exit status.
int runSerialSimulator(int argc, char** argv);

} // namespace varnix::sim
