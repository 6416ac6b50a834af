#include "debug/recv_model.h"

#include "lang/text_codec.h"

#include <algorithm>

namespace varnix {

QString FormatRecvLine(const QTime& time, const QString& peer, std::string_view bytes, qint64 size) {
    const std::string_view shown = bytes.substr(0, TRecvModel::MaxShownBytes);
    if (size < 0)
        size = static_cast<qint64>(bytes.size());
    QString hex;
    hex.reserve(static_cast<qsizetype>(shown.size() * 3));
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text(shown);
    for (char& c : text) {
        const auto b = static_cast<unsigned char>(c);
        hex += QLatin1Char(Digits[b >> 4]);
        hex += QLatin1Char(Digits[b & 15]);
        hex += u' ';
        if (b < 0x20 || b == 0x7F)
            c = '.';
    }
    QString line = time.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + peer +
                   QStringLiteral("  [") + QString::number(size) + QStringLiteral("]  ") + hex +
                   QStringLiteral("  ") + BytesToDisplay(text);
    if (size > static_cast<qint64>(shown.size()))
        line += QStringLiteral(" …");
    return line;
}

void TRecvModel::Queue(TRecvEntry entry) {
    if (entry.Size < 0)
        entry.Size = entry.Data.size();
    // Only what the line shows is kept, in an array of its own size: a read of megabytes (or one
    // with room to spare) is not held alive by its line.
    const auto kept = std::min<qsizetype>(entry.Data.size(), static_cast<qsizetype>(MaxShownBytes));
    if (kept < entry.Data.size() || entry.Data.capacity() > kept)
        entry.Data = QByteArray(entry.Data.constData(), kept);
    heldBytes_ += kept;
    pending_.push_back(std::move(entry));
    // A flood between two flushes never holds more than the list keeps.
    while (pending_.size() > static_cast<std::size_t>(MaxLines))
        DropFront(pending_);
}

void TRecvModel::DropFront(std::deque<TRecvEntry>& from) {
    heldBytes_ -= from.front().Data.size();
    from.pop_front();
    ++dropped_;
}

void TRecvModel::Flush() {
    if (pending_.empty())
        return;
    const auto total = lines_.size() + pending_.size();
    if (total > static_cast<std::size_t>(MaxLines + TrimBatch)) {
        const auto excess = static_cast<int>(total - MaxLines);
        const int fromList = std::min(excess, static_cast<int>(lines_.size()));
        if (fromList > 0) {
            beginRemoveRows(QModelIndex(), 0, fromList - 1);
            for (int i = 0; i < fromList; ++i)
                DropFront(lines_);
            endRemoveRows();
        }
        for (int i = fromList; i < excess; ++i)
            DropFront(pending_);
    }
    const int first = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(pending_.size()) - 1);
    for (TRecvEntry& e : pending_)
        lines_.push_back(std::move(e));
    pending_.clear();
    endInsertRows();
    if (dropped_ != signalledDropped_) {
        signalledDropped_ = dropped_;
        emit DroppedChanged(dropped_);
    }
}

void TRecvModel::Clear() {
    beginResetModel();
    lines_.clear();
    pending_.clear();
    endResetModel();
    heldBytes_ = 0;
    dropped_ = 0;
    signalledDropped_ = 0;
    emit DroppedChanged(0);
}

int TRecvModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant TRecvModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= static_cast<int>(lines_.size()))
        return {};
    // Formatted when the view asks, which is for the visible lines only.
    const TRecvEntry& e = lines_[static_cast<std::size_t>(index.row())];
    return FormatRecvLine(e.Time, e.Peer,
                          std::string_view(e.Data.constData(), static_cast<std::size_t>(e.Data.size())),
                          e.Size);
}

} // namespace varnix
