#pragma once
// The window's side of fleet work: health checks after every search (marked rows in the device
// list and a summary line in the log, or, when nothing answered, what was tried and why that may
// be). No widgets: the window hands in its device model, its bindings and its log.

#include "lan/health_checks.h"
#include "lang/apply_texts.h"
#include "ui/main/device_list_model.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <thread>
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
        // The texts of the window's language list.
        TTexts Texts;
    };
    // Replies to a search keep arriving for a while; the checks run once none came for this long.
    static constexpr int SettleMs = 1500;

    explicit TSearchHealth(TEnv env, QObject* parent = nullptr);
    ~TSearchHealth() override; // waits for a check still running

    void SearchStarted();
    void RowAdded();
    // Runs the checks over the rows listed now. They run on a worker thread, so tens of thousands
    // of rows (a flood of forged replies) do not hold up the window; the marks and the summary
    // line follow on a later turn of the event loop, then Checked() is raised. A check started
    // while one runs waits for it; results of a list that changed meanwhile are dropped. An
    // empty list is reported at once.
    void Check();
    // Sees the rows of every search that settled with replies, as the checks start.
    void SetSearched(std::function<void(const std::vector<TDeviceRow>&)> searched) {
        searched_ = std::move(searched);
    }

signals:
    void Checked();

private:
    struct TResult {
        std::vector<std::uint8_t> Kinds; // per row: bit (1 << THealthKind) for each kind found
        std::size_t Findings = 0;
    };
    static TResult RunChecks(std::vector<TDeviceRow> rows, const std::vector<THealthBinding>& bindings);
    void Apply(std::uint64_t generation, TResult result, std::vector<THealthBinding> bindings);
    void ReportNoAnswer(const std::vector<THealthBinding>& bindings);

    TEnv env_;
    QTimer settle_;
    std::thread worker_;
    std::uint64_t generation_ = 0; // changes when the list is cleared or checked again
    std::function<void(const std::vector<TDeviceRow>&)> searched_;
};

// The tooltip of a marked row: one line per kind found on it (string table texts), made from the
// listed rows when it is shown.
QString RowTip(const TTexts& texts, std::uint8_t kinds, int row, const std::vector<TDeviceRow>& rows,
               const std::vector<THealthBinding>& bindings);

} // namespace varnix
