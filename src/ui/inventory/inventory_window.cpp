#include "ui/inventory/inventory_window.h"

#include "app/app_context.h"
#include "app/settings.h"
#include "core/types.h"
#include "lang/error_text.h"
#include "ui/common/screen_fit.h"
#include "ui/inventory/inventory_model.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <cstdio>

namespace varnix {

TInventoryWindow::TInventoryWindow(TAppContext& context, TLoader load, QWidget* parent)
    : QWidget(parent, Qt::Window), ctx_(context), load_(std::move(load)) {
    setObjectName(QStringLiteral("frm_Inventory"));
    // The texts come from the context, which outlives the window: the list may ask for its header
    // while the window is being taken down.
    model_ = new TInventoryModel([&ctx = ctx_](const char* key) { return ctx.Text(key); }, this);
    filter_ = new TInventoryFilter(this);
    filter_->setSourceModel(model_);
    Build();
    ApplyInventoryTexts();
}

TInventoryWindow::~TInventoryWindow() {
    // Open when the program ends: it is destroyed with the main window, never hidden.
    if (placed_ && isVisible())
        KeepPlace();
}

// The place is a convenience: a settings file that cannot be written is said on stderr, as the
// other windows say it when the program ends.
void TInventoryWindow::KeepPlace() {
    if (const TStatus r = SavePlace(this, ctx_.Settings(), IniInventoryGeometry); !r)
        std::fprintf(stderr, "varnix: %s\n", qPrintable(ErrorMessage(r.Error())));
}

QString TInventoryWindow::Text(const char* key) const {
    return ctx_.Text(key);
}

void TInventoryWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    filterLabel_ = new QLabel(this);
    filterEdit_ = new QLineEdit(this);
    filterEdit_->setObjectName(QStringLiteral("edt_InvFilter"));
    filterEdit_->setClearButtonEnabled(true);
    filterLabel_->setBuddy(filterEdit_);
    familyLabel_ = new QLabel(this);
    family_ = new QComboBox(this);
    family_->setObjectName(QStringLiteral("cbb_InvFamily"));
    familyLabel_->setBuddy(family_);
    refresh_ = new QPushButton(this);
    refresh_->setObjectName(QStringLiteral("btn_InvRefresh"));
    count_ = new QLabel(this);
    count_->setObjectName(QStringLiteral("lbl_InvCount"));
    bar->addWidget(filterLabel_);
    bar->addWidget(filterEdit_, 1);
    bar->addWidget(familyLabel_);
    bar->addWidget(family_);
    bar->addWidget(refresh_);
    layout->addLayout(bar);

    list_ = new QTreeView(this);
    list_->setObjectName(QStringLiteral("lv_Inventory"));
    list_->setModel(filter_);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setAlternatingRowColors(true);
    list_->setSortingEnabled(true);
    list_->sortByColumn(TInventoryModel::ColLastSeen, Qt::DescendingOrder);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->header()->setSectionsClickable(true);
    list_->header()->setStretchLastSection(true);
    layout->addWidget(list_, 1);
    layout->addWidget(count_);

    connect(filterEdit_, &QLineEdit::textChanged, this, [this](const QString& t) {
        filter_->SetText(t);
        ShowCount();
    });
    connect(family_, &QComboBox::currentIndexChanged, this, [this] {
        filter_->SetFamily(family_->currentData().toInt());
        ShowCount();
    });
    connect(refresh_, &QPushButton::clicked, this, &TInventoryWindow::Refresh);
    setTabOrder(filterEdit_, family_);
    setTabOrder(family_, refresh_);
    setTabOrder(refresh_, list_);
    resize(980, 520);
}

void TInventoryWindow::ApplyInventoryTexts() {
    setWindowTitle(Text("lang_Inv_Title"));
    filterLabel_->setText(Text("lang_Replace_Filter") + QStringLiteral(":"));
    familyLabel_->setText(Text("lang_Inv_Family") + QStringLiteral(":"));
    refresh_->setText(Text("lang_Inv_Refresh"));
    filterEdit_->setAccessibleName(Text("lang_Replace_Filter"));
    family_->setAccessibleName(Text("lang_Inv_Family"));
    list_->setAccessibleName(Text("lang_Acc_Inventory"));
    count_->setAccessibleName(count_->text());
    const int chosen = family_->currentIndex();
    const QSignalBlocker quiet(family_);
    family_->clear();
    family_->addItem(Text("lang_Inv_AllFamilies"), 0);
    family_->addItem(QStringLiteral("Z1"), FamilyZ1);
    family_->addItem(QStringLiteral("Z2"), FamilyZ2);
    family_->addItem(QStringLiteral("Z3"), FamilyZ3);
    family_->setCurrentIndex(chosen < 0 ? 0 : chosen);
    model_->Retranslate();
    ShowCount();
}

void TInventoryWindow::Open() {
    if (!placed_) {
        placed_ = true;
        RestorePlace(this, ctx_.Settings(), IniInventoryGeometry);
    }
    show();
    raise();
    activateWindow();
    list_->setFocus(Qt::ActiveWindowFocusReason);
    Refresh();
}

void TInventoryWindow::Refresh() {
    if (loading_)
        return; // the answer on its way shows the newest state anyway
    loading_ = true;
    refresh_->setEnabled(false);
    count_->setText(Text("lang_Inv_Reading"));
    QPointer<TInventoryWindow> self(this);
    load_([self](TRows rows) {
        if (self)
            self->ShowRows(std::move(rows));
    });
}

void TInventoryWindow::ShowRows(TRows rows) {
    loading_ = false;
    refresh_->setEnabled(true);
    if (!rows) {
        count_->setText(Text("lang_Restore_Unusable").arg(QString::fromStdString(rows.Error().Message)));
        return;
    }
    model_->SetRows(std::move(*rows));
    for (int c = 0; c < TInventoryModel::ColFindings; ++c)
        list_->resizeColumnToContents(c);
    ShowCount();
}

void TInventoryWindow::ShowCount() {
    if (loading_)
        return;
    count_->setText(Text("lang_Inv_Count").arg(filter_->rowCount()).arg(model_->rowCount()));
    count_->setAccessibleName(count_->text());
}

void TInventoryWindow::keyPressEvent(QKeyEvent* event) {
    // Esc closes the window as it closes a dialog; F5 reads again as it searches in the main
    // window. The controls pass both keys on to here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
        Refresh();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TInventoryWindow::hideEvent(QHideEvent* event) {
    // Written as the window goes, as the main window writes its own when it closes.
    if (placed_)
        KeepPlace();
    QWidget::hideEvent(event);
}

} // namespace varnix
