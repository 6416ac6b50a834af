#pragma once
// varnix-sim as a child process of a test: started with its arguments, ready once it printed
// its ready line, stopped (SIGTERM) when the object goes.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace varnix::test {

class TSimProcess {
public:
    // The simulator's path comes from $VARNIX_SIM; inside tests/netns-run it runs in the modules'
    // namespace ($VARNIX_NS_IN_MODULES).
    explicit TSimProcess(const QStringList& args, int readyTimeoutMs = 10000);
    ~TSimProcess();
    bool Ready() const { return ready_; }
    QString ErrorText() const { return error_; }

private:
    QProcess process_;
    bool ready_ = false;
    QString error_;
};

// The arguments of a simulator on the segments of tests/netns-run --segments: it answers on every
// module interface and restarts in 200 ms; `more` follows (--config, --state, --module...).
QStringList SegmentSimArgs(const QStringList& more);

} // namespace varnix::test
