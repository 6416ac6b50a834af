#pragma once
// The state dump and the journal lines the simulator writes for tests to read.

#include "module.h"

#include <optional>
#include <string>

namespace varnix::sim {

// {"modules":[{"mac":..., "family":..., ...}]}
std::string stateJson(const Fleet& fleet);
// Writes the text to a temporary file beside path and renames it over path. False on failure.
bool writeFileAtomically(const std::string& path, const std::string& text);

struct JournalEntry {
    double tMs = 0;
    int port = 0;
    std::string from; // "ip:port"
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::optional<Mac> module;
    std::string result;
};
// One line, with its newline.
std::string journalLine(const JournalEntry& e);

} // namespace varnix::sim
