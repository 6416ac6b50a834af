#pragma once
// Helpers for tests that run varnix-sim and talk to it with datagrams built by hand.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text); // "FF 01 ..." or "FF01..."
std::string hexOf(const Bytes& b);  // upper-case pairs, no separators

// FF, N+19, code, MAC, user(6), password(6), payload, checksum (sum of bytes 1..L-2).
Bytes command(std::uint8_t code, const Bytes& mac, const std::string& user = "vesta",
              const std::string& password = "vesta", const Bytes& payload = {});

// A running simulator; SIGTERM on destruction (or stop()). Its stderr goes to `stderrPath` when
// one is given.
class Sim {
public:
    explicit Sim(const std::vector<std::string>& args, const std::string& stderrPath = {});
    ~Sim();
    Sim(const Sim&) = delete;
    Sim& operator=(const Sim&) = delete;
    bool ready() const { return ready_; }
    // SIGTERM, wait; the exit status (or -1 when killed by a signal).
    int stop();

private:
    int pid_ = -1;
    bool ready_ = false;
};

// Runs the simulator to completion (for option errors); returns its exit status.
int runSim(const std::vector<std::string>& args, std::string* stderrText = nullptr);

struct Received {
    Bytes data;
    std::string fromIp;
    int fromPort = 0;
};

// A PC-side socket bound to one of the namespace's PC addresses.
class Client {
public:
    explicit Client(const std::string& localIp);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    void broadcast(int port, const Bytes& datagram);
    // Collects datagrams until `quietMs` passes without one, or `max` arrived, or `totalMs`.
    std::vector<Received> collect(int quietMs = 300, std::size_t max = SIZE_MAX, int totalMs = 5000);

private:
    int fd_ = -1;
};

std::string simPath();                // $VARNIX_SIM
std::vector<std::string> pcIps();     // $VARNIX_NS_PC_IPS
std::vector<std::string> simIfaces(); // $VARNIX_NS_SIM_IFACES
bool inNamespace();                   // $VARNIX_NS == 1
std::string tempPath(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

} // namespace simtest
