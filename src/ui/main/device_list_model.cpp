#include "ui/main/device_list_model.h"

#include "lang/safe_text.h"
#include <QColor>

namespace varnix {

TDeviceListModel::TDeviceListModel(QObject* parent) : QAbstractTableModel(parent) {
    captions_ = {QStringLiteral("设备IP"),  QStringLiteral("设备名称"), QStringLiteral("MAC地址"),
                 QStringLiteral("版本"),    QStringLiteral("Flag"),     QStringLiteral("IpIndex"),
                 QStringLiteral("检查结果")};
}

int TDeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TDeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TDeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const bool marked = Marked(index.row());
    if (marked && role == Qt::BackgroundRole)
        return tint_;
    if (marked && role == Qt::ForegroundRole && tintText_.isValid())
        return tintText_;
    // A row's tooltip is its findings; a plain row has none (the list's own help shows then).
    if (role == Qt::ToolTipRole)
        return marked ? QVariant(Mark(index.row())) : QVariant();
    if (role == Qt::AccessibleTextRole && index.column() == ColFindings)
        return Mark(index.row());
    if (role != Qt::DisplayRole)
        return {};
    const TDeviceRow& r = rows_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
    case ColIP:
        return ShowControls(r.IP);
    case ColName:
        return ShowControls(r.Name);
    case ColMac:
        return ShowControls(r.Mac);
    case ColVersion:
        return ShowControls(r.Version);
    case ColFlag:
        return QString::number(r.Family);
    case ColIpIndex:
        return QString::number(r.Binding);
    case ColFindings:
        return marked ? Mark(index.row()).replace(u'\n', QStringLiteral("; ")) : QString();
    default:
        return {};
    }
}

QVariant TDeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section < 0 || section >= captions_.size())
        return {};
    return captions_[section];
}

bool TDeviceListModel::AddRow(TDeviceRow row) {
    if (rows_.size() + pending_.size() >= static_cast<std::size_t>(MaxRows)) {
        ++refused_;
        return false;
    }
    pending_.push_back(std::move(row));
    return true;
}

int TDeviceListModel::Flush() {
    if (pending_.empty())
        return 0;
    const int first = rowCount();
    const int count = static_cast<int>(pending_.size());
    beginInsertRows(QModelIndex(), first, first + count - 1);
    rows_.insert(rows_.end(), std::make_move_iterator(pending_.begin()),
                 std::make_move_iterator(pending_.end()));
    pending_.clear();
    endInsertRows();
    return count;
}

void TDeviceListModel::UpdateRow(int row, TDeviceRow value) {
    if (row < 0 || row >= rowCount())
        return;
    rows_[static_cast<std::size_t>(row)] = std::move(value);
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

void TDeviceListModel::Clear() {
    pending_.clear();
    refused_ = 0;
    marked_.clear();
    tip_ = nullptr;
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void TDeviceListModel::SetMarks(std::vector<bool> marked, std::function<QString(int row)> tip) {
    marked_ = std::move(marked);
    tip_ = std::move(tip);
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

bool TDeviceListModel::Marked(int row) const {
    return row >= 0 && row < static_cast<int>(marked_.size()) && marked_[static_cast<std::size_t>(row)] &&
           tip_;
}

QString TDeviceListModel::Mark(int row) const {
    return Marked(row) ? tip_(row) : QString();
}

void TDeviceListModel::SetTint(const QColor& background, const QColor& text) {
    tint_ = background;
    tintText_ = text;
    if (!rows_.empty() && !marked_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void TDeviceListModel::SetCaptions(const QStringList& captions) {
    for (int i = 0; i < captions.size() && i < ColFlag; ++i)
        captions_[i] = captions[i];
    if (captions.size() > ColFlag)
        captions_[ColFindings] = captions[ColFlag];
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

} // namespace varnix
