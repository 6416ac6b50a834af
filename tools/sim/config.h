#pragma once
// The simulator's command line and JSON configuration.

#include "module.h"

#include <optional>
#include <string>
#include <vector>

namespace varnix::sim {

struct SimOptions {
    std::string bind = "127.0.0.1";
    int portZ2 = 1500;
    int portZ3 = 1901;
    std::vector<std::string> ifaces;
    // Answer a datagram that came in on a served interface by broadcast (what a module outside the
    // PC's subnet, without a route back, must do) or to its sender (a module in the PC's subnet).
    bool broadcastReplies = true;
    std::vector<ModuleDesc> modules;
    double drop = 0.0;
    unsigned seed = 1; // the drop generator's
    // The generator of the bytes the program must not interpret (vary.h); none given: a fresh
    // one per run, printed.
    std::optional<std::uint64_t> varySeed;
    std::string statePath;
    std::string journalPath;
    int restartMs = 300;
    // A factory reset restores the factory values (as a real module does) instead of the blocks
    // the module started with (--reset-to factory|started).
    bool resetToFactory = false;
    std::optional<double> durationS;
};

// Parses argv (argv[0] skipped). Throws std::invalid_argument with a message for the user.
SimOptions parseCommandLine(int argc, char** argv);

// One module from FAMILY:MAC:IP:NAME:FIRMWARE.
ModuleDesc parseModuleDesc(const std::string& text);
// The modules and options of a JSON config text; options already set on the command line
// (drop/seed passed in, varySeed already set) win.
void parseConfigJson(const std::string& json, SimOptions& into, bool dropGiven, bool seedGiven);
// A --vary-seed value: a decimal number 0..2^64-1.
std::uint64_t parseVarySeed(const std::string& text);
// The N modules of --generate.
std::vector<ModuleDesc> generatedModules(int count);

} // namespace varnix::sim
