#pragma once
// The start-up probe of bench/bench_startup.py: with VARNIX_STARTUP_PROBE set, a window reports
// when it has painted its first frame and how much memory the process holds then, and the program
// ends. Header-only, so that the bench's bare Qt window measures with the very same code and links
// nothing of Varnix.
//
// The line on stdout: "startup-probe visible_ns=N rss_kb=K", N on CLOCK_MONOTONIC (the clock the
// bench takes before it starts the program), K from VmRSS once the event loop has run the frame's
// follow-up events.

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace varnix {

inline long long ResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    return -1;
}

class TStartupProbe final : public QObject {
public:
    explicit TStartupProbe(QWidget& window) : QObject(&window) { window.installEventFilter(this); }

    // Installs the probe on `window` when VARNIX_STARTUP_PROBE is set.
    static void InstallIfAsked(QWidget& window) {
        if (qEnvironmentVariableIsSet("VARNIX_STARTUP_PROBE"))
            new TStartupProbe(window);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || seen_)
            return QObject::eventFilter(watched, event);
        seen_ = true;
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        visibleNs_ = static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
        QTimer::singleShot(0, this, [this] {
            std::printf("startup-probe visible_ns=%lld rss_kb=%lld\n", visibleNs_, ResidentKb());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
        return QObject::eventFilter(watched, event);
    }

private:
    bool seen_ = false;
    long long visibleNs_ = 0;
};

} // namespace varnix
