#pragma once
// Drives one TUpgradeSession with the upgrade endpoint and a timer: carries out every output
// (bindings, datagrams, timer) and hands the rest (label, progress, buttons, message) to whoever
// shows it, the upgrade window or varnix-cli. Runs on the thread that owns it; no widgets.

#include "upgrade/upgrade_endpoint.h"
#include "upgrade/upgrade_session.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace varnix {

// Looks up a text by key (the context's language list in the window, the English table in the command line).
using TUpgradeTextFn = std::function<QString(const QString& key)>;

// The detail shown after "Upgrade failed!" when a port cannot be used: which port, why, and what
// to do about it.
QString EndpointErrorText(const TEndpointError& e, const QString& localIP, const TUpgradeTextFn& text);

// Reads a whole firmware file into start.Image, or sets start.ImageError. Only a regular file of
// at most MaxImageFileBytes is read (a pipe or a device is refused before a byte is read).
void ReadFirmwareFile(const QString& path, TUpgradeStart& start, const TUpgradeTextFn& text);

class TUpgradeRunner final : public QObject {
    Q_OBJECT
public:
    explicit TUpgradeRunner(TUpgradeTextFn text, QObject* parent = nullptr);

    void Start(TUpgradeStart start);
    void Stop();
    const TUpgradeSession& Session() const { return session_; }
    bool TimerActive() const { return timer_.isActive(); }
    int TimerInterval() const { return timer_.interval(); }
    // Every datagram of the upgrade goes to sink as well (nullptr: none).
    void SetCapture(capture::ICaptureSink* sink) { endpoint_.SetCapture(sink); }

signals:
    // Raised after the endpoint, the datagrams and the timer have been handled.
    void Output(const varnix::TUpgradeOutput& out);

private:
    void Apply(TUpgradeOutput out);

    TUpgradeTextFn text_;
    TUpgradeSession session_;
    TUpgradeEndpoint endpoint_;
    QTimer timer_;
};

} // namespace varnix
