// Serial chunk latency and fidelity: a "module" thread writes bursts into the master side of a
// pty; TComm reads the slave side and raises each chunk on the GUI thread. For every burst the
// time from the module's last byte (its write returning) to the OnReceiveData event is taken,
// and the chunk is compared with the burst (one burst must be exactly one chunk).
// The chunk cannot close before the 50 ms gap has passed, so ~50 ms is the floor.
//
//   <build>/bench/bench_serial_chunks [bursts (default 1000)]

#include "serial/comm.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;
using varnix::TComm;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int bursts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    TComm comm;
    comm.SetCommName(::ptsname(master));
    comm.SetOutx_CtsFlow(false);
    comm.SetOutx_DsrFlow(false);
    comm.SetReadIntervalTimeout(50);
    comm.SetBaudRate(115200);
    comm.OpenPort();

    // The replies a module sends, cycled: an ack, the Z1 reply, the two Z2 replies, a long one.
    const std::size_t sizes[] = {1, 32, 115, 137, 600};
    std::mutex m;
    std::condition_variable cv;
    int turn = 0; // bursts the GUI side has released
    std::vector<std::vector<std::uint8_t>> sent(static_cast<std::size_t>(bursts));
    std::vector<Clock::time_point> lastByte(static_cast<std::size_t>(bursts));
    std::thread module([&] {
        for (int i = 0; i < bursts; ++i) {
            {
                std::unique_lock lock(m);
                cv.wait(lock, [&] { return turn > i; });
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            auto& b = sent[static_cast<std::size_t>(i)];
            b.resize(sizes[static_cast<std::size_t>(i) % std::size(sizes)]);
            for (std::size_t k = 0; k < b.size(); ++k)
                b[k] = static_cast<std::uint8_t>(i + k);
            [[maybe_unused]] const ssize_t n = ::write(master, b.data(), b.size());
            std::lock_guard lock(m);
            lastByte[static_cast<std::size_t>(i)] = Clock::now();
        }
    });

    std::vector<double> latencyMs;
    int chunks = 0, exact = 0;
    comm.OnReceiveData = [&](TComm&, const std::uint8_t* b, std::uint16_t n) {
        const auto now = Clock::now();
        std::lock_guard lock(m);
        const auto i = static_cast<std::size_t>(chunks++);
        if (i < sent.size()) {
            latencyMs.push_back(std::chrono::duration<double, std::milli>(now - lastByte[i]).count());
            exact += sent[i] == std::vector<std::uint8_t>(b, b + n);
        }
        ++turn;
        cv.notify_all();
        if (chunks >= bursts)
            app.quit();
    };
    {
        std::lock_guard lock(m);
        turn = 1;
    }
    cv.notify_all();
    app.exec();
    module.join();
    comm.ClosePort();

    std::sort(latencyMs.begin(), latencyMs.end());
    const auto at = [&](double q) {
        return latencyMs[static_cast<std::size_t>(q * static_cast<double>(latencyMs.size() - 1))];
    };
    std::printf("bursts %d, chunks %d, exact %d (fidelity %.1f%%)\n", bursts, chunks, exact,
                100.0 * exact / bursts);
    std::printf("last byte -> chunk event on the GUI thread: median %.2f ms, p99 %.2f ms, worst %.2f ms, "
                "best %.2f ms\n",
                at(0.5), at(0.99), latencyMs.back(), latencyMs.front());
    ::close(master);
    return exact == bursts ? 0 : 1;
}
