#include "sim_harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace simtest {

Bytes hex(const std::string& text) {
    Bytes out;
    std::string digits;
    for (char c : text)
        if (c != ' ')
            digits.push_back(c);
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hexOf(const Bytes& b) {
    static const char d[] = "0123456789ABCDEF";
    std::string s;
    for (auto v : b) {
        s.push_back(d[v >> 4]);
        s.push_back(d[v & 15]);
    }
    return s;
}

Bytes command(std::uint8_t code, const Bytes& mac, const std::string& user, const std::string& password,
              const Bytes& payload) {
    Bytes d;
    d.reserve(22 + payload.size());
    d.push_back(0xFF);
    d.push_back(static_cast<std::uint8_t>((payload.size() + 19) & 0xFF));
    d.push_back(code);
    for (auto b : mac)
        d.push_back(b);
    for (const std::string* t : {&user, &password})
        for (std::size_t i = 0; i < 6; ++i)
            d.push_back(i < t->size() ? static_cast<std::uint8_t>((*t)[i]) : 0);
    d.insert(d.end(), payload.begin(), payload.end());
    unsigned sum = 0;
    for (std::size_t i = 1; i < d.size(); ++i)
        sum += d[i];
    d.push_back(static_cast<std::uint8_t>(sum & 0xFF));
    return d;
}

namespace {
std::vector<char*> argvOf(const std::vector<std::string>& args, std::vector<std::string>& store) {
    store.clear();
    store.push_back(simPath());
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : store)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

std::vector<std::string> splitEnv(const char* name) {
    std::vector<std::string> out;
    const char* v = std::getenv(name);
    if (!v)
        return out;
    std::stringstream ss(v);
    std::string item;
    while (std::getline(ss, item, ','))
        if (!item.empty())
            out.push_back(item);
    return out;
}
} // namespace

Sim::Sim(const std::vector<std::string>& args, const std::string& stderrPath) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> store;
    auto argv = argvOf(args, store);
    pid_ = fork();
    if (pid_ == 0) {
        if (!stderrPath.empty()) {
            const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
        }
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // Wait up to 5 s for the one ready line.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && line.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        line.append(buf, static_cast<std::size_t>(n));
    }
    close(out[0]);
    ready_ = line == "varnix-sim: ready\n";
}

Sim::~Sim() {
    stop();
}

int Sim::stop() {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runSim(const std::vector<std::string>& args, std::string* stderrText) {
    int err[2];
    if (pipe(err) != 0)
        return -1;
    std::vector<std::string> store;
    auto argv = argvOf(args, store);
    const int pid = fork();
    if (pid == 0) {
        dup2(err[1], 2);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(err[0]);
        close(err[1]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(err[1]);
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(err[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (stderrText)
        *stderrText = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Client::Client(const std::string& localIp) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // Room for a burst of 10,000 replies while the test is not reading (see DESIGN's measurements).
    int size = 32 * 1024 * 1024;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
        size = 8 * 1024 * 1024;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, localIp.c_str(), &a.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("bind " + localIp + ": " + std::strerror(errno));
}

Client::~Client() {
    close(fd_);
}

void Client::broadcast(int port, const Bytes& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    if (sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        throw std::runtime_error(std::string("sendto: ") + std::strerror(errno));
}

std::vector<Received> Client::collect(int quietMs, std::size_t max, int totalMs) {
    std::vector<Received> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    Bytes buf(65536);
    while (got.size() < max) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<long long>(left, quietMs))) <= 0)
            break;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            continue;
        char ip[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
        got.push_back({Bytes(buf.begin(), buf.begin() + n), ip, ntohs(from.sin_port)});
    }
    return got;
}

std::string simPath() {
    const char* p = std::getenv("VARNIX_SIM");
    return p ? p : "varnix-sim";
}
std::vector<std::string> pcIps() {
    return splitEnv("VARNIX_NS_PC_IPS");
}
std::vector<std::string> simIfaces() {
    return splitEnv("VARNIX_NS_SIM_IFACES");
}
bool inNamespace() {
    const char* v = std::getenv("VARNIX_NS");
    return v && std::string(v) == "1";
}

std::string tempPath(const std::string& name) {
    static const std::string dir = [] {
        char tmpl[] = "/tmp/varnix-simtest-XXXXXX";
        const char* d = mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    return dir + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
}

} // namespace simtest
