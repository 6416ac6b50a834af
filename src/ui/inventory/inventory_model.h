#pragma once
// The inventory window's list without widgets: every module of varnix.db as one row, the health
// findings of the modules as last seen (the checks the device list runs after a search, run over
// the inventory: two modules on one address, two with one name, firmware no family takes), and a
// proxy that sorts by any column (firmware and snapshot counts as numbers, times as their ISO
// text, which sorts as time) and filters by a text over every column and by family.

#include "inventory/inventory_db.h"
#include "lan/health_checks.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace varnix {

// The kinds of finding of each row (bit 1 << THealthKind), by the device list's checks. The
// inventory keeps one row per module, so a module on two adapters is not among them.
std::vector<std::uint8_t> InventoryFindingKinds(const std::vector<TModuleRow>& rows);

class TInventoryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        ColMac = 0,
        ColFamily,
        ColName,
        ColAddress,
        ColFirmware,
        ColFirstSeen,
        ColLastSeen,
        ColSnapshots,
        ColFindings,
        ColumnCount
    };
    // The sort key of a cell: a number for firmware and snapshots, the shown text otherwise.
    static constexpr int SortRole = Qt::UserRole;
    // The family code of a row (any column).
    static constexpr int FamilyRole = Qt::UserRole + 1;

    // `text`: a string table text by key (the findings and the captions).
    explicit TInventoryModel(std::function<QString(const char*)> text, QObject* parent = nullptr);

    void SetRows(std::vector<TModuleRow> rows);
    const std::vector<TModuleRow>& Rows() const { return rows_; }
    // The captions and findings again, in the current language.
    void Retranslate();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString FindingsText(std::size_t row) const;

    std::function<QString(const char*)> text_;
    std::vector<TModuleRow> rows_;
    std::vector<std::uint8_t> kinds_;
    QStringList findings_;
};

class TInventoryFilter final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TInventoryFilter(QObject* parent = nullptr);
    // Rows holding `text` in any column (case ignored); empty: every row.
    void SetText(const QString& text);
    // Rows of this family; 0: every family.
    void SetFamily(std::int32_t family);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString text_;
    std::int32_t family_ = 0;
};

} // namespace varnix
