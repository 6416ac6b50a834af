#pragma once
// TRolloutWindow: a firmware rollout over the modules selected in the device list, driving one
// TRolloutJob (the job varnix-cli rollout runs) on the main window's lanes and clock. One line per
// module shows its stage, transfer progress, firmware before and after, and its result; the lines
// are written from the job's callbacks at most every RedrawMs, only the lines that changed, so a
// transfer's thousands of block events never hold the event loop up.
//
// Start is disabled while the rollout runs. Stop starts no new module; the ones in flight finish
// or time out, and each keeps its configuration in the journal until it is written back. Closing
// the window while modules are in flight asks to stop first and closes once they have ended: a
// transfer is never cut off by a closing window.

#include "engine/clock.h"
#include "engine/lane_pool.h"
#include "lang/apply_texts.h"
#include "upgrade/rollout_job.h"

#include <QDialog>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace varnix {

class TAppContext;

class IUserPrompts;
class IUpgradeLink;

struct TRolloutWindowOptions {
    TLanePool* Pool = nullptr;       // the main window's lanes; must outlive the window
    TClock* Clock = nullptr;         // RealClock() when null
    IUserPrompts* Prompts = nullptr; // the real dialogs when null
    std::function<TLogin()> Login;   // the modules' log-in now
    QString ProgramDir;              // where the journal is
    // The PC's IPv4 addresses offered for the local address; every interface's when unset.
    std::function<std::vector<std::string>()> LocalAddresses;
    int RedrawMs = 200;
};

class TRolloutWindow final : public QDialog {
    Q_OBJECT
public:
    struct TTarget {
        QString Mac;     // as the device list shows it
        QString Address; // where the device list saw it
        QString Name;    // as the device list shows it (the question before Start names it)
    };

    // `context`: the texts of the program's language; it must outlive the window.
    TRolloutWindow(TAppContext& context, TRolloutWindowOptions options, QWidget* parent = nullptr);
    ~TRolloutWindow() override;

    // Shows the window modal with these modules (a running rollout keeps its own).
    void Open(const std::vector<TTarget>& modules);
    void ApplyRolloutTexts();
    bool Running() const;
    // The job of the last Start (null before the first).
    const TRolloutJob* Job() const { return job_.get(); }
    // True when nothing runs. Otherwise asks whether to stop; on yes the rollout stops and the
    // window closes once the modules in flight have ended. False either way while they run.
    bool MayClose();
    // Stops without asking; `ended` runs once the modules in flight have ended (at once when
    // nothing runs). A termination signal ends the program this way, cutting no transfer off.
    void StopThen(std::function<void()> ended);
    // Drops the job at once (its modules in flight are left where they are, their kept
    // configuration in the journal): only for the end of the program, before the lanes go.
    void Release();

protected:
    void reject() override; // Esc: as the window's close
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();
    QGroupBox* BuildOptions();
    void FillLocalAddresses();
    void Browse();
    void StartClicked();
    bool ConfirmStart();
    void StopClicked();
    void Wire(TRolloutJob& job);
    void RowsMade();
    void Redraw();
    void WriteLine(int row);
    void Ended();
    void SetRunning(bool running);
    void Log(const QString& line);

    TAppContext& ctx_; // its settings hold the window's place
    TTexts texts_;
    capture::ICaptureSink& capture_; // the context's: every datagram of the rollout's transfers
    TRolloutWindowOptions options_;
    std::unique_ptr<IUserPrompts> ownPrompts_;
    IUserPrompts* prompts_ = nullptr;
    std::vector<TTarget> targets_;
    std::map<std::string, QString> seenAt_; // MAC key -> address in the device list
    std::unique_ptr<IUpgradeLink> link_;
    std::unique_ptr<TRolloutJob> job_;
    QTimer redraw_;
    std::set<int> dirty_;
    bool closeWhenEnded_ = false;
    std::function<void()> then_; // after the end of the rollout (StopThen)

    QGroupBox* grpOptions_ = nullptr;
    QLabel *lblImage_ = nullptr, *lblLocal_ = nullptr, *lblParallel_ = nullptr, *lblCanary_ = nullptr,
           *lblExpect_ = nullptr, *lblPool_ = nullptr, *lblLogin_ = nullptr, *lblSummary_ = nullptr;
    QLineEdit *edtImage_ = nullptr, *edtParallel_ = nullptr, *edtCanary_ = nullptr, *edtExpect_ = nullptr,
              *edtPool_ = nullptr, *edtLogin_ = nullptr;
    QComboBox* cbbLocal_ = nullptr;
    QCheckBox* chkKeep_ = nullptr;
    QPushButton *btnBrowse_ = nullptr, *btnStart_ = nullptr, *btnStop_ = nullptr, *btnClose_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
};

} // namespace varnix
