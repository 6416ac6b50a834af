#include "state.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace varnix::sim {

std::string stateJson(const Fleet& fleet) {
    std::string s = "{\"modules\":[";
    bool first = true;
    for (const Module& m : fleet.modules()) {
        if (!first)
            s += ",";
        first = false;
        const Blocks& b = m.blocks();
        s += "\n{\"mac\":\"" + macText(m.mac()) + "\",\"family\":\"" + familyName(m.family()) +
             "\",\"firmware\":" + std::to_string(m.firmware()) + ",\"ip\":\"" + ipText(m.ip()) +
             "\",\"name\":" + jsonString(m.name()) + ",\"restarts\":" + std::to_string(m.restarts()) +
             ",\"resets\":" + std::to_string(m.resets()) + ",\"upgrades\":" + std::to_string(m.upgrades()) +
             ",\"loader\":" + (m.inLoader() ? "true" : "false") + ",\"base\":\"" + toHex(b.base) +
             "\",\"port\":\"" + toHex(b.port) + "\",\"cloud\":\"" + toHex(b.cloud) + "\",\"heart\":\"" +
             toHex(b.heart) + "\",\"httpd\":\"" + toHex(b.httpd) + "\",\"modbus\":\"" + toHex(b.modbus) +
             "\",\"writes\":[";
        for (std::size_t i = 0; i < m.writes().size(); ++i)
            s += (i ? "," : "") + std::to_string(m.writes()[i]);
        s += "]}";
    }
    s += "\n]}\n";
    return s;
}

bool writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(fd, text.data() + done, text.size() - done);
        if (w <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

std::string journalLine(const JournalEntry& e) {
    char t[32];
    std::snprintf(t, sizeof t, "%.3f", e.tMs);
    std::string s = std::string("{\"t_ms\":") + t + ",\"port\":" + std::to_string(e.port) + ",\"from\":\"" +
                    e.from + "\",\"len\":" + std::to_string(e.size) +
                    ",\"code\":" + (e.size >= 3 ? std::to_string(e.data[2]) : std::string("null")) +
                    ",\"mac\":" + (e.size >= 9 ? "\"" + macText(e.data + 3) + "\"" : std::string("null")) +
                    ",\"module\":" + (e.module ? "\"" + macText(*e.module) + "\"" : std::string("null")) +
                    ",\"result\":\"" + e.result + "\"}\n";
    return s;
}

} // namespace varnix::sim
