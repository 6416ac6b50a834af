#pragma once
// A pseudo-terminal pair for serial tests: the test plays the module on the master side, the
// code under test opens the slave path as its serial port.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace varnix::test {

struct TPtyPair {
    int Master = -1;
    std::string SlavePath;

    TPtyPair() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0)
            SlavePath = ::ptsname(Master);
    }
    ~TPtyPair() { CloseMaster(); }
    TPtyPair(const TPtyPair&) = delete;
    TPtyPair& operator=(const TPtyPair&) = delete;

    void CloseMaster() {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }
    bool Write(const std::vector<std::uint8_t>& bytes) const {
        return ::write(Master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Whatever arrives within the time, stopping early once `want` bytes are in.
    std::vector<std::uint8_t> Read(std::size_t want, std::chrono::milliseconds within) const {
        std::vector<std::uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + within;
        while (out.size() < want) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buf[4096];
            const ssize_t n = ::read(Master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
};

} // namespace varnix::test
