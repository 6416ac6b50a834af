#include "sim_process.h"

#include <QDeadlineTimer>

namespace varnix::test {

TSimProcess::TSimProcess(const QStringList& args, int readyTimeoutMs) {
    const QString program = qEnvironmentVariable("VARNIX_SIM");
    if (program.isEmpty()) {
        error_ = QStringLiteral("VARNIX_SIM is not set");
        return;
    }
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // Inside tests/netns-run the modules live in a namespace of their own; the wrapper exec's, so
    // the process stopped below is the simulator itself.
    const QString inModules = qEnvironmentVariable("VARNIX_NS_IN_MODULES");
    if (inModules.isEmpty())
        process_.start(program, args);
    else
        process_.start(inModules, QStringList{program} + args);
    if (!process_.waitForStarted(5000)) {
        error_ = process_.errorString();
        return;
    }
    const QDeadlineTimer deadline(readyTimeoutMs);
    QByteArray out;
    while (!deadline.hasExpired() && process_.state() == QProcess::Running) {
        process_.waitForReadyRead(100);
        out += process_.readAllStandardOutput();
        if (out.contains("varnix-sim: ready")) {
            ready_ = true;
            return;
        }
    }
    error_ = QString::fromUtf8(process_.readAllStandardError());
}

TSimProcess::~TSimProcess() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(1000);
    }
}

QStringList SegmentSimArgs(const QStringList& more) {
    return QStringList{QStringLiteral("--restart-ms"), QStringLiteral("200"),
                       QStringLiteral("--bind"),       QStringLiteral("0.0.0.0"),
                       QStringLiteral("--iface"),      qEnvironmentVariable("VARNIX_NS_SIM_IFACES")} +
           more;
}

} // namespace varnix::test
