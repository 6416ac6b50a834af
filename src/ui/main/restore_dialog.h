#pragma once
// "Restore configuration" and "Replace module" of the device list's row menu: a stored
// configuration is picked (one of this module's snapshots, newest first; or the newest snapshot of
// another module of the inventory, the longest unseen first), the fields that would change are
// listed (name, stored value, current value) from the save that would be sent, and a confirmation
// naming the module comes before anything is written. The dialog writes nothing itself: once
// accepted, Assignments() is what the window saves, through the same save, verify and journal as
// a page's save. The database is asked on the window inventory's worker thread.

#include "engine/read_job.h"
#include "inventory/inventory_db.h"
#include "lang/apply_texts.h"
#include "model/fields.h"
#include "ui/main/device_list_model.h"

#include <QDialog>
#include <QList>

#include <optional>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace varnix {

class IUserPrompts;
class TWindowInventory;

enum class TRestoreMode { Restore, Replace };

class TRestoreDialog final : public QDialog {
    Q_OBJECT
public:
    // `read`: the module's last read (its settings and blocks), what the save is built from.
    TRestoreDialog(TRestoreMode mode, TDeviceRow row, TReadResult read, TWindowInventory& inventory,
                   IUserPrompts& prompts, const TTexts& texts, QWidget* parent);
    // The lists stop calling back first: taking them down may move their current row.
    ~TRestoreDialog() override;

    // What to write once accepted (every field but the MAC).
    const QList<TAssignment>& Assignments() const { return assignments_; }
    // The configuration picked: its time, and the old module's MAC when replacing.
    QString SourceText() const;

    void accept() override; // asks first, naming the module

private:
    void Build();
    void LoadSources();
    void ShowSources();
    void SourceChosen();
    void ShowSnapshot(qint64 ask, const TResult<std::optional<TSnapshot>>& snapshot);
    void ShowProblem(const QString& text);
    QString Text(const char* key) const { return texts_.Text(key); }

    TRestoreMode mode_;
    TDeviceRow row_;
    TReadResult read_;
    TWindowInventory& inventory_;
    IUserPrompts& prompts_;
    const TTexts& texts_;

    QLineEdit* filter_ = nullptr;
    QTreeWidget* sources_ = nullptr;
    QTreeWidget* changes_ = nullptr;
    QLabel* notes_ = nullptr;
    QPushButton* write_ = nullptr;
    std::vector<TSnapshotInfo> snapshots_; // Restore: this module's, newest first
    std::vector<TModuleRow> modules_;      // Replace: the others with a snapshot, longest unseen first
    qint64 asked_ = 0;                     // answers to an older choice are dropped
    std::optional<TSnapshotInfo> chosen_;
    QList<TAssignment> assignments_;
};

} // namespace varnix
