#pragma once
// The rows of the device list lv_Dev: one per search reply, in arrival order, never sorted and
// never de-duplicated (a module seen through two adapters is listed twice, with two bindings).
//
// Rows arrive in bursts (thousands of replies to one search), so AddRow only queues a row and
// Flush inserts every queued row with one beginInsertRows; the main window flushes on a short
// timer. Columns: IP, name, MAC, version, and the hidden Flag (family) and IpIndex (binding).
//
// Texts from the network are shown with their control characters made visible (see
// lang/safe_text.h). The list holds at most MaxRows rows: a flood of forged search replies
// cannot take all memory. Rows past that are refused and counted, not put in place of earlier
// ones, since the modules that really answered a search answer first.

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

namespace varnix {

struct TDeviceRow {
    QString IP;
    QString Name;
    QString Mac;     // "00 1A 2B 3C 4D 5E"
    QString Version; // firmware number in decimal
    std::int32_t Family = 0;
    int Binding = -1;
    // Where its search reply came from: its replies count only from there.
    std::uint32_t PeerAddr = 0; // as ParseIPv4Text gives it
    std::uint16_t PeerPort = 0;
};

class TDeviceListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Findings: the row's health findings in one line (after the hidden columns, so their
    // numbers stay).
    enum Column { ColIP = 0, ColName, ColMac, ColVersion, ColFlag, ColIpIndex, ColFindings, ColumnCount };

    // Five times the largest search this program is tested with; about 20 MB when full.
    // Twice a 10,000-module search; a row costs most of a kilobyte with the view and the checks.
    static constexpr int MaxRows = 20000;

    explicit TDeviceListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Queues a row; it becomes visible at the next Flush. False (and the row counted in
    // RefusedCount) when the list already holds MaxRows rows.
    bool AddRow(TDeviceRow row);
    // Inserts the queued rows; returns how many.
    int Flush();
    // Replaces a listed row (a module saved with a new address or name).
    void UpdateRow(int row, TDeviceRow value);
    // Removes every row, queued ones included, and resets RefusedCount.
    void Clear();
    // Rows refused since the last Clear because the list was full.
    long long RefusedCount() const { return refused_; }

    int PendingCount() const { return static_cast<int>(pending_.size()); }
    const TDeviceRow& Row(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    const std::vector<TDeviceRow>& Rows() const { return rows_; }

    // Captions of the visible columns: IP, name, MAC, version, and findings when a fifth is given
    // (the hidden ones keep "Flag" and "IpIndex").
    void SetCaptions(const QStringList& captions);

    // Marks rows a health check found something on: a tinted background, and as the row's tooltip
    // the text `tip` gives for it. The text is made only when it is shown, so marking tens of
    // thousands of rows costs a flag each. Replaces every earlier mark; rows beyond `marked`, or
    // false in it, are plain.
    void SetMarks(std::vector<bool> marked, std::function<QString(int row)> tip);
    bool Marked(int row) const;
    QString Mark(int row) const; // the tooltip text of a marked row, "" for a plain one
    // Background and text colour of a marked row (an invalid text colour: the view's own).
    void SetTint(const QColor& background, const QColor& text);

private:
    std::vector<TDeviceRow> rows_;
    std::vector<TDeviceRow> pending_;
    QStringList captions_;
    long long refused_ = 0;
    std::vector<bool> marked_;
    std::function<QString(int)> tip_;
    QColor tint_{0xFF, 0xE0, 0xA0};
    QColor tintText_;
};

} // namespace varnix
