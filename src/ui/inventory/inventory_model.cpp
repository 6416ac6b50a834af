#include "ui/inventory/inventory_model.h"

#include "core/types.h"

#include <map>

namespace varnix {

namespace {

QString FamilyCaption(std::int32_t family) {
    if (family == FamilyZ1)
        return QStringLiteral("Z1");
    if (family == FamilyZ2)
        return QStringLiteral("Z2");
    return family == FamilyZ3 ? QStringLiteral("Z3") : QString::number(family);
}

} // namespace

std::vector<std::uint8_t> InventoryFindingKinds(const std::vector<TModuleRow>& rows) {
    // Each local address the modules answered on is a binding; its netmask is not kept, so no
    // row is found outside its subnet.
    std::vector<THealthModule> modules;
    std::vector<THealthBinding> bindings;
    std::map<QString, int> bindingOf;
    modules.reserve(rows.size());
    for (const TModuleRow& r : rows) {
        const auto [it, added] = bindingOf.emplace(r.Local, static_cast<int>(bindings.size()));
        if (added)
            bindings.push_back(THealthBinding{r.Local.toStdString(), std::string()});
        modules.push_back(THealthModule{r.Ip.toStdString(), r.Name.toStdString(), r.Mac.toStdString(),
                                        r.Firmware, r.Family, it->second});
    }
    std::vector<std::uint8_t> kinds(rows.size(), 0);
    VisitHealthFindings(modules, bindings, [&kinds](THealthFinding&& f) {
        for (const int r : f.Rows)
            kinds[static_cast<std::size_t>(r)] |= static_cast<std::uint8_t>(1u << static_cast<int>(f.Kind));
    });
    return kinds;
}

TInventoryModel::TInventoryModel(std::function<QString(const char*)> text, QObject* parent)
    : QAbstractTableModel(parent), text_(std::move(text)) {}

void TInventoryModel::SetRows(std::vector<TModuleRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    kinds_ = InventoryFindingKinds(rows_);
    findings_.clear();
    findings_.reserve(static_cast<qsizetype>(rows_.size()));
    for (std::size_t i = 0; i < rows_.size(); ++i)
        findings_ << FindingsText(i);
    endResetModel();
}

void TInventoryModel::Retranslate() {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        findings_[static_cast<qsizetype>(i)] = FindingsText(i);
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
    if (!rows_.empty())
        emit dataChanged(index(0, ColFindings), index(rowCount() - 1, ColFindings));
}

QString TInventoryModel::FindingsText(std::size_t row) const {
    const TModuleRow& r = rows_[row];
    QStringList parts;
    for (int k = 0; k <= static_cast<int>(THealthKind::DuplicateName); ++k) {
        if (!(kinds_[row] & (1u << k)))
            continue;
        const auto kind = static_cast<THealthKind>(k);
        const QString text = text_(HealthKindTextKey(kind));
        switch (kind) {
        case THealthKind::IncompatibleFirmware:
            parts << text.arg(r.Firmware);
            break;
        case THealthKind::DuplicateName:
            parts << text.arg(r.Name);
            break;
        case THealthKind::OutsideSubnet:
            parts << text.arg(r.Ip, r.Local);
            break;
        default:
            parts << text.arg(r.Ip);
            break;
        }
    }
    return parts.join(QStringLiteral("; "));
}

int TInventoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TInventoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TInventoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TModuleRow& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == FamilyRole)
        return r.Family;
    if (role == SortRole && index.column() == ColFirmware)
        return r.Firmware;
    if (role == SortRole && index.column() == ColSnapshots)
        return r.Snapshots;
    if (role != Qt::DisplayRole && role != SortRole)
        return {};
    switch (index.column()) {
    case ColMac:
        return r.Mac;
    case ColFamily:
        return FamilyCaption(r.Family);
    case ColName:
        return r.Name;
    case ColAddress:
        return r.Ip;
    case ColFirmware:
        return r.Firmware;
    case ColFirstSeen:
        return r.FirstSeen;
    case ColLastSeen:
        return r.LastSeen;
    case ColSnapshots:
        return r.Snapshots;
    case ColFindings:
        return findings_.value(index.row());
    default:
        return {};
    }
}

QVariant TInventoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const keys[ColumnCount] = {"lang_Lv_MAC",
                                                  "lang_Inv_colFamily",
                                                  "lang_Lv_DevName",
                                                  "lang_Inv_colAddress",
                                                  "lang_Rollout_colFirmware",
                                                  "lang_Inv_colFirstSeen",
                                                  "lang_Restore_colLastSeen",
                                                  "lang_Inv_colSnapshots",
                                                  "lang_Lv_Findings"};
    return section >= 0 && section < ColumnCount ? text_(keys[section]) : QVariant();
}

TInventoryFilter::TInventoryFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(TInventoryModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
}

void TInventoryFilter::SetText(const QString& text) {
    text_ = text.trimmed();
    invalidateFilter();
}

void TInventoryFilter::SetFamily(std::int32_t family) {
    family_ = family;
    invalidateFilter();
}

bool TInventoryFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    const QAbstractItemModel* m = sourceModel();
    if (family_ != 0 &&
        m->index(sourceRow, 0, sourceParent).data(TInventoryModel::FamilyRole).toInt() != family_)
        return false;
    if (text_.isEmpty())
        return true;
    for (int c = 0; c < m->columnCount(sourceParent); ++c)
        if (m->index(sourceRow, c, sourceParent)
                .data(Qt::DisplayRole)
                .toString()
                .contains(text_, Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace varnix
