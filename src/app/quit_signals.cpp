#include "app/quit_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varnix {

namespace {

constexpr int QuitSignals[] = {SIGTERM, SIGHUP, SIGINT};
int GPipe[2] = {-1, -1}; // [0] read by the notifier, [1] written by the handler

extern "C" void OnQuitSignal(int sig) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    // Non-blocking: when the pipe is full, enough signals are already waiting.
    [[maybe_unused]] const ssize_t n = ::write(GPipe[1], &b, 1);
    errno = saved;
}

} // namespace

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, GPipe) != 0) {
        GPipe[0] = GPipe[1] = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(GPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { Drain(); });
    struct sigaction sa {};
    sa.sa_handler = OnQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : QuitSignals)
        ::sigaction(sig, &sa, nullptr);
}

TQuitSignals::~TQuitSignals() {
    if (!notifier_)
        return;
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : QuitSignals)
        ::sigaction(sig, &sa, nullptr);
    notifier_.reset();
    ::close(GPipe[0]);
    ::close(GPipe[1]);
    GPipe[0] = GPipe[1] = -1;
}

void TQuitSignals::Drain() {
    unsigned char buf[16];
    int first = 0;
    for (;;) {
        const ssize_t n = ::read(GPipe[0], buf, sizeof buf);
        if (n > 0) {
            if (first == 0)
                first = buf[0];
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (first == 0 || raised_)
        return;
    raised_ = true;
    emit Received(first);
}

} // namespace varnix
