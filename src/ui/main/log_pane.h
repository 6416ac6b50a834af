#pragma once
// The writer of one log pane (the operation log redt_Log or the hex stream redt_Hex).
//
// Every line keeps its own colour. Lines are queued and written in batches, one QTextCursor edit
// block per batch, so a burst of thousands of datagrams costs a handful of repaints instead of
// one per line: the first queued line arms a short timer, and each flush writes at most
// MaxLinesPerFlush lines, re-arming itself for the rest so the event loop keeps turning.
//
// The pane holds at most MaxLines lines and MaxChars characters, so a flood of datagrams cannot
// take all memory (a hex line of a large datagram alone is thousands of characters). Once it has
// more, the oldest are removed in one edit down to KeepLines and KeepChars (a batch of thousands,
// never one per new line, which is what makes QPlainTextEdit's own block limit slow), and the
// first line of the pane then says how many older lines were dropped. Lines still queued are
// bounded the same way.

#include "lang/apply_texts.h"

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>

class QPlainTextEdit;

namespace varnix {

class TLogPane : public QObject {
    Q_OBJECT
public:
    static constexpr int FlushIntervalMs = 50;
    static constexpr int MaxLinesPerFlush = 3000;
    // A 10,000-module search logs about 40,000 hex lines; it fits without a trim.
    static constexpr int MaxLines = 50000;
    static constexpr int KeepLines = 40000;
    // A 10,000-module search logs about 1.7 million characters of hex.
    static constexpr qsizetype MaxChars = 4'000'000;
    static constexpr qsizetype KeepChars = 3'200'000;

    // followEnd: scroll to the last line after every change (the hex pane). Otherwise the pane
    // only follows the end while its scroll bar is already at the bottom.
    TLogPane(QPlainTextEdit* edit, bool followEnd, TTexts texts, QObject* parent = nullptr);

    // Queues one line; an invalid colour means the window-text colour (a plain line).
    void Append(const QString& text, const QColor& colour = QColor());
    // Empties the pane and drops the queued lines.
    void Clear();
    // Writes every queued line now.
    void Flush();

    int PendingCount() const { return static_cast<int>(pending_.size()); }
    // Lines in the pane, not counting the "older lines dropped" note.
    int LineCount() const { return lines_; }
    // Lines dropped since the last Clear (removed from the pane or from the queue).
    long long DroppedCount() const { return dropped_; }
    QPlainTextEdit* Edit() const { return edit_; }

signals:
    // Raised after queued lines were written to the pane.
    void Changed();

private:
    struct TLine {
        QString Text;
        QColor Colour;
    };
    void WriteSome(int maxLines);
    void TrimOldest(int count);
    void BoundQueue();
    void BoundPane();
    void UpdateNote();

    QPlainTextEdit* edit_;
    bool followEnd_;
    TTexts texts_;
    std::deque<TLine> pending_;
    qsizetype pendingChars_ = 0;
    int lines_ = 0;
    long long dropped_ = 0;
    bool hasNote_ = false;   // the first block is the note
    bool noteStale_ = false; // dropped_ changed since the note was written
    QTimer timer_;
};

} // namespace varnix
