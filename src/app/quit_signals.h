#pragma once
// SIGTERM, SIGHUP and SIGINT as an ordinary event: a desktop log-out, a closed terminal or
// Ctrl+C then ends the program through its normal closing steps (settings saved, sockets
// closed) instead of killing it on the spot.
//
// A signal handler may do almost nothing, so it only writes the signal number into a pipe
// (the self-pipe trick); a QSocketNotifier on the other end raises Received on the GUI thread.
// Received is raised for the first signal only: closing is started once, and later signals
// while the program is closing change nothing.

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace varnix {

class TQuitSignals final : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. Only one object may exist at a time.
    explicit TQuitSignals(QObject* parent = nullptr);
    // Restores the default actions and closes the pipe.
    ~TQuitSignals() override;

    // Whether the handlers are in place (false when the pipe could not be made).
    bool Installed() const { return notifier_ != nullptr; }

signals:
    void Received(int signalNumber);

private:
    void Drain();
    std::unique_ptr<QSocketNotifier> notifier_;
    bool raised_ = false;
};

} // namespace varnix
