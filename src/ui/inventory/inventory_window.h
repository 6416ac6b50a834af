#pragma once
// The inventory window (File > Inventory): every module varnix.db has ever seen, with its family,
// name, last address, firmware, first and last sighting, the number of stored configurations and
// the findings of the device list's checks over the inventory. Sorted by a click on any column
// header (newest sighting first until then), filtered by a text over every column and by family;
// Refresh (F5) reads the database again, Esc closes. The reading is done by the loader the program gives (the
// main window's inventory worker thread), so the window never waits for the file. Made when first opened; it
// remembers its size and place in the settings file.

#include "core/result.h"
#include "inventory/inventory_db.h"

#include <QWidget>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace varnix {

class TAppContext;
class TInventoryModel;
class TInventoryFilter;

class TInventoryWindow final : public QWidget {
    Q_OBJECT
public:
    using TRows = TResult<std::vector<TModuleRow>>;
    // Reads every module and hands the rows to `done` on the window's thread.
    using TLoader = std::function<void(std::function<void(TRows)> done)>;

    TInventoryWindow(TAppContext& context, TLoader load, QWidget* parent);
    ~TInventoryWindow() override;

    // Shows the window (brought forward when open) and reads the inventory again.
    void Open();
    void Refresh();
    void ApplyInventoryTexts();
    TInventoryModel& Model() { return *model_; }
    TInventoryFilter& Filter() { return *filter_; }

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void KeepPlace();
    void Build();
    void ShowRows(TRows rows);
    void ShowCount();
    QString Text(const char* key) const;

    TAppContext& ctx_;
    TLoader load_;
    TInventoryModel* model_ = nullptr;
    TInventoryFilter* filter_ = nullptr;
    QLabel* filterLabel_ = nullptr;
    QLabel* familyLabel_ = nullptr;
    QLineEdit* filterEdit_ = nullptr;
    QComboBox* family_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLabel* count_ = nullptr;
    QTreeView* list_ = nullptr;
    bool placed_ = false; // the remembered size and place were applied
    bool loading_ = false;
};

} // namespace varnix
