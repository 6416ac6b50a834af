#include "ui/main/restore_dialog.h"

#include "engine/save_prepare.h"
#include "inventory/restore_plan.h"
#include "ui/common/confirm_text.h"
#include "ui/common/prompts.h"
#include "ui/main/menu_keys.h"
#include "ui/main/window_inventory.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace varnix {

namespace {

QTreeWidget* NewTree(QWidget* parent, const char* name, const QStringList& captions) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(QString::fromLatin1(name));
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setHeaderLabels(captions);
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    return tree;
}

QString FamilyCaption(std::int32_t family) {
    return family == FamilyZ2 ? QStringLiteral("Z2") : family == FamilyZ3 ? QStringLiteral("Z3") : QString();
}

} // namespace

TRestoreDialog::TRestoreDialog(TRestoreMode mode, TDeviceRow row, TReadResult read,
                               TWindowInventory& inventory, IUserPrompts& prompts, const TTexts& texts,
                               QWidget* parent)
    : QDialog(parent), mode_(mode), row_(std::move(row)), read_(std::move(read)), inventory_(inventory),
      prompts_(prompts), texts_(texts) {
    setObjectName(QStringLiteral("dlg_Restore"));
    Build();
    LoadSources();
}

TRestoreDialog::~TRestoreDialog() {
    if (sources_ != nullptr)
        sources_->disconnect(this);
    if (filter_ != nullptr)
        filter_->disconnect(this);
}

void TRestoreDialog::Build() {
    const bool replace = mode_ == TRestoreMode::Replace;
    setWindowTitle(Text(replace ? "lang_Replace_Title" : "lang_Restore_Title"));
    auto* layout = new QVBoxLayout(this);
    auto* target =
        new QLabel(Text("lang_Restore_Target")
                       .arg(row_.IP + QStringLiteral("  ") + row_.Name + QStringLiteral("  ") + row_.Mac),
                   this);
    target->setObjectName(QStringLiteral("lbl_RestoreTarget"));
    layout->addWidget(target);
    if (replace) {
        filter_ = new QLineEdit(this);
        filter_->setObjectName(QStringLiteral("edt_ReplaceFilter"));
        filter_->setClearButtonEnabled(true);
        auto* filterLabel = new QLabel(Text("lang_Replace_Filter") + QStringLiteral(":"), this);
        filterLabel->setBuddy(filter_);
        filter_->setAccessibleName(Text("lang_Replace_Filter"));
        layout->addWidget(filterLabel);
        layout->addWidget(filter_);
        connect(filter_, &QLineEdit::textChanged, this, [this] { ShowSources(); });
    }
    const QStringList sourceCaptions =
        replace ? QStringList{Text("lang_Lv_MAC"), Text("lang_Lv_DevName"), Text("lang_Lv_DevIP"),
                              Text("lang_Restore_colLastSeen"), Text("lang_Rollout_colFirmware")}
                : QStringList{Text("lang_Restore_colTime"), Text("lang_Restore_colLink"),
                              Text("lang_Rollout_colFirmware")};
    sources_ = NewTree(this, "lv_RestoreSources", sourceCaptions);
    auto* sourcesLabel = new QLabel(Text(replace ? "lang_Replace_Modules" : "lang_Restore_Snapshots"), this);
    sourcesLabel->setBuddy(sources_);
    sources_->setAccessibleName(sourcesLabel->text());
    layout->addWidget(sourcesLabel);
    layout->addWidget(sources_, 1);
    connect(sources_, &QTreeWidget::currentItemChanged, this, [this] { SourceChosen(); });

    changes_ = NewTree(
        this, "lv_RestoreChanges",
        {Text("lang_Restore_colField"), Text("lang_Restore_colStored"), Text("lang_Restore_colCurrent")});
    auto* changesLabel = new QLabel(Text("lang_Restore_Changes"), this);
    changesLabel->setBuddy(changes_);
    changes_->setAccessibleName(changesLabel->text());
    layout->addWidget(changesLabel);
    layout->addWidget(changes_, 2);
    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("lbl_RestoreNotes"));
    notes_->setWordWrap(true);
    notes_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    layout->addWidget(notes_);

    auto* buttons = new QDialogButtonBox(this);
    write_ = buttons->addButton(Text(replace ? "lang_Replace_Write" : "lang_Restore_Write"),
                                QDialogButtonBox::AcceptRole);
    write_->setObjectName(QStringLiteral("btn_RestoreWrite"));
    write_->setEnabled(false);
    write_->setAutoDefault(false);
    QPushButton* cancel = buttons->addButton(Text("lang_Confirm_Cancel"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btn_RestoreCancel"));
    // Enter alone never writes: the default button is Cancel.
    cancel->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &TRestoreDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TRestoreDialog::reject);
    layout->addWidget(buttons);
    resize(720, 560);
    (filter_ != nullptr ? static_cast<QWidget*>(filter_) : sources_)->setFocus();
}

void TRestoreDialog::LoadSources() {
    const QString mac = InventoryMac(row_.Mac);
    QPointer<TRestoreDialog> self(this);
    const auto problem = [self](const TError& e) {
        if (self)
            self->ShowProblem(self->Text("lang_Restore_Unusable").arg(QString::fromStdString(e.Message)));
    };
    if (mode_ == TRestoreMode::Restore) {
        inventory_.Ask<TResult<std::vector<TSnapshotInfo>>>(
            [mac](TInventory* inv) -> TResult<std::vector<TSnapshotInfo>> {
                if (inv == nullptr)
                    return TError{{}, {}, "varnix.db could not be opened"};
                return inv->Snapshots(mac);
            },
            [self, problem](TResult<std::vector<TSnapshotInfo>> list) {
                if (!self)
                    return;
                if (!list)
                    return problem(list.Error());
                self->snapshots_.assign(list->rbegin(), list->rend());
                self->ShowSources();
            });
        return;
    }
    inventory_.Ask<TResult<std::vector<TModuleRow>>>(
        [](TInventory* inv) -> TResult<std::vector<TModuleRow>> {
            if (inv == nullptr)
                return TError{{}, {}, "varnix.db could not be opened"};
            return inv->Modules();
        },
        [self, problem, mac](TResult<std::vector<TModuleRow>> list) {
            if (!self)
                return;
            if (!list)
                return problem(list.Error());
            // A replaced module is the one not heard of for a while: the longest unseen first.
            std::erase_if(*list, [&mac](const TModuleRow& m) { return m.Mac == mac || m.Snapshots == 0; });
            std::stable_sort(list->begin(), list->end(), [](const TModuleRow& a, const TModuleRow& b) {
                return a.LastSeen < b.LastSeen;
            });
            self->modules_ = std::move(*list);
            self->ShowSources();
        });
}

void TRestoreDialog::ShowSources() {
    const qint64 keep = chosen_ ? chosen_->Id : 0;
    const QString keepMac = chosen_ ? chosen_->Mac : QString();
    const QSignalBlocker quiet(sources_);
    sources_->clear();
    const QString filter = filter_ != nullptr ? filter_->text().trimmed() : QString();
    QTreeWidgetItem* current = nullptr;
    const auto add = [&](const QStringList& cells, int index, bool isCurrent) {
        if (!filter.isEmpty() && !cells.join(u'\t').contains(filter, Qt::CaseInsensitive))
            return;
        auto* item = new QTreeWidgetItem(sources_, cells);
        item->setData(0, Qt::UserRole, index);
        if (isCurrent)
            current = item;
    };
    for (std::size_t i = 0; i < snapshots_.size(); ++i) {
        const TSnapshotInfo& s = snapshots_[i];
        add({s.Time, s.Link, QString::number(s.Firmware)}, static_cast<int>(i), s.Id == keep);
    }
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        const TModuleRow& m = modules_[i];
        add({m.Mac, m.Name, m.Ip, m.LastSeen, QString::number(m.Firmware)}, static_cast<int>(i),
            m.Mac == keepMac);
    }
    if (sources_->topLevelItemCount() == 0 && filter.isEmpty())
        ShowProblem(Text("lang_Restore_NoSnapshot"));
    // Nothing chosen yet: the first row (the newest snapshot, or the module unseen the longest) is,
    // so the dialog opens on a comparison and the keys move from a known row (a list without a
    // current row would take End to its first row).
    if (current == nullptr && !chosen_ && sources_->topLevelItemCount() > 0) {
        sources_->setCurrentItem(sources_->topLevelItem(0));
        SourceChosen();
    } else if (current != nullptr) {
        sources_->setCurrentItem(current);
    } else if (chosen_) {
        // The configuration shown is filtered out: nothing is chosen any more.
        chosen_.reset();
        SourceChosen();
    }
}

void TRestoreDialog::SourceChosen() {
    changes_->clear();
    notes_->clear();
    assignments_.clear();
    write_->setEnabled(false);
    QTreeWidgetItem* item = sources_->currentItem();
    const qint64 ask = ++asked_;
    if (item == nullptr)
        return;
    const auto index = static_cast<std::size_t>(item->data(0, Qt::UserRole).toInt());
    std::function<TResult<std::optional<TSnapshot>>(TInventory*)> query;
    if (mode_ == TRestoreMode::Restore) {
        chosen_ = snapshots_.at(index);
        query = [id = chosen_->Id](TInventory* inv) -> TResult<std::optional<TSnapshot>> {
            if (inv == nullptr)
                return TError{{}, {}, "varnix.db could not be opened"};
            return inv->Snapshot(id);
        };
    } else {
        chosen_ = TSnapshotInfo{0, modules_.at(index).LastSnapshot, modules_.at(index).Mac, QString(), 0, 0};
        query = [mac = chosen_->Mac](TInventory* inv) -> TResult<std::optional<TSnapshot>> {
            if (inv == nullptr)
                return TError{{}, {}, "varnix.db could not be opened"};
            return inv->SnapshotAt(mac);
        };
    }
    QPointer<TRestoreDialog> self(this);
    inventory_.Ask<TResult<std::optional<TSnapshot>>>(std::move(query),
                                                      [self, ask](TResult<std::optional<TSnapshot>> s) {
                                                          if (self)
                                                              self->ShowSnapshot(ask, s);
                                                      });
}

void TRestoreDialog::ShowSnapshot(qint64 ask, const TResult<std::optional<TSnapshot>>& snapshot) {
    if (ask != asked_)
        return; // another configuration was chosen meanwhile
    if (!snapshot || !*snapshot) {
        ShowProblem(
            snapshot ? Text("lang_Restore_NoSnapshot")
                     : Text("lang_Restore_Unusable").arg(QString::fromStdString(snapshot.Error().Message)));
        return;
    }
    const TSnapshot& s = **snapshot;
    chosen_ = s.Info;
    const TResult<TProfile> profile = RestoreProfile(s);
    if (!profile) {
        ShowProblem(QString::fromStdString(profile.Error().Message));
        return;
    }
    const TRestoreSelection selection = SelectRestore(*profile, read_.Settings, false);
    // The save that would be sent, so the fields listed are the ones the module will change.
    const TPreparedSave save =
        PrepareSave(read_.Settings, read_.Store, selection.Applied, TPrepareMode::Lenient);
    QStringList notes;
    if (selection.OtherFamily)
        notes << Text("lang_Restore_OtherFamily")
                     .arg(FamilyCaption(s.Info.Family), FamilyCaption(read_.Settings.Family));
    if (!save.Ok) {
        ShowProblem(save.Errors.join(QStringLiteral("; ")));
        return;
    }
    const QStringList skipped = selection.Skipped + save.Notes;
    if (!skipped.isEmpty())
        notes << Text("lang_Restore_Skipped").arg(skipped.join(QStringLiteral("; ")));
    const QList<TFieldChange> changes = DiffSettings(read_.Settings, save.After);
    for (const TFieldChange& c : changes)
        new QTreeWidgetItem(changes_,
                            {c.Field->Name, DisplayValue(*c.Field, c.New), DisplayValue(*c.Field, c.Old)});
    if (changes.isEmpty())
        notes.prepend(Text("lang_Restore_NoChange"));
    notes_->setText(notes.join(u'\n'));
    assignments_ = selection.Applied;
    write_->setEnabled(!changes.isEmpty());
}

void TRestoreDialog::ShowProblem(const QString& text) {
    assignments_.clear();
    write_->setEnabled(false);
    notes_->setText(text);
}

QString TRestoreDialog::SourceText() const {
    if (!chosen_)
        return QString();
    return mode_ == TRestoreMode::Replace ? chosen_->Mac + QStringLiteral(" (") + chosen_->Time + u')'
                                          : chosen_->Time;
}

void TRestoreDialog::accept() {
    if (assignments_.isEmpty())
        return;
    const QString question =
        Text(mode_ == TRestoreMode::Replace ? "lang_Confirm_Replace" : "lang_Confirm_Restore")
            .replace(QStringLiteral("%2"), SourceText());
    const QString text =
        ConfirmText(question, Text("lang_Confirm_More"), {TModuleLine{row_.IP, row_.Name, row_.Mac}});
    if (!prompts_.Confirm(this, Text("lang_Confirm_Title"), text, write_->text(),
                          Text("lang_Confirm_Cancel")))
        return;
    QDialog::accept();
}

} // namespace varnix
