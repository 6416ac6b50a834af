#pragma once
// The window's side of fleet work: health checks after every search (marked rows in the device
// list and a summary line in the log, or, when nothing answered, what was tried and why that may
// be). No widgets: the window hands in its device model, its bindings and its log.

#include "lan/health_checks.h"
#include "ui/main/device_list_model.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace varnix {

class TSearchHealth : public QObject {
    Q_OBJECT
public:
    struct TEnv {
        TDeviceListModel* Devices = nullptr;
        // The bindings searched from (address and netmask), by binding index.
        std::function<std::vector<THealthBinding>()> Bindings;
        // Where the search request went ("255.255.255.255").
        QString Destination;
        // A log line; `problem` lines are shown as errors.
        std::function<void(const QString& text, bool problem)> Log;
    };
    // Replies to a search keep arriving for a while; the checks run once none came for this long.
    static constexpr int SettleMs = 1500;

    explicit TSearchHealth(TEnv env, QObject* parent = nullptr);

    void SearchStarted();
    void RowAdded();
    // Runs the checks over the rows listed now, marks them and writes the log lines.
    void Check();

private:
    TEnv env_;
    QTimer settle_;
};

// The tooltip text of one finding (string table texts).
QString FindingTip(const THealthFinding& f, const std::vector<TDeviceRow>& rows,
                   const std::vector<THealthBinding>& bindings);

} // namespace varnix
