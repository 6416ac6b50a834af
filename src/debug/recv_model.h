#pragma once
// The received-data lines of the debugging window: one line per datagram or TCP read with the
// time, the peer and the bytes as hex and as text. Reads are queued as they arrive and reach the
// view in batches (Flush, every 50 ms); a line is formatted only when the view shows it, so a
// flood costs little more than its reading. The list keeps at most MaxLines: the oldest are
// dropped in one step once MaxLines + TrimBatch are held, and counted. Each line keeps only the
// bytes it shows (MaxShownBytes) and the count of the rest, so whatever a peer sends, a role holds
// at most (2 * MaxLines + TrimBatch) * MaxShownBytes bytes of received data (about 1.1 MB): a TCP
// read can return megabytes at once. Qt Core only.

#include <QAbstractListModel>
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <deque>
#include <string_view>

namespace varnix {

// "12:34:56.789  10.0.0.5:4001  [3]  41 42 0D  AB." — at most MaxShownBytes bytes are shown;
// a longer read (`size` above what is shown; -1 for bytes.size()) ends in "…" and keeps its full
// count. Control bytes show as "." in the text.
QString FormatRecvLine(const QTime& time, const QString& peer, std::string_view bytes, qint64 size = -1);

struct TRecvEntry {
    QTime Time;
    QString Peer;
    QByteArray Data;  // cut to MaxShownBytes by Queue
    qint64 Size = -1; // bytes received; -1 for Data.size()
};

class TRecvModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int MaxLines = 2000;
    static constexpr int TrimBatch = 500;
    static constexpr std::size_t MaxShownBytes = 256;

    using QAbstractListModel::QAbstractListModel;

    void Queue(TRecvEntry entry);
    // Moves the queued lines into the list (one insertion, at most one removal).
    void Flush();
    void Clear();
    // Lines dropped since the last Clear, queued ones included.
    qint64 Dropped() const { return dropped_; }
    int Pending() const { return static_cast<int>(pending_.size()); }
    // Bytes of received data held, listed and queued.
    qint64 HeldBytes() const { return heldBytes_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    void DroppedChanged(qint64 dropped);

private:
    void DropFront(std::deque<TRecvEntry>& from);

    std::deque<TRecvEntry> lines_;
    std::deque<TRecvEntry> pending_;
    qint64 dropped_ = 0;
    qint64 heldBytes_ = 0;
    qint64 signalledDropped_ = 0;
};

} // namespace varnix
