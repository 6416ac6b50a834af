#pragma once
// The writer of one log pane (the operation log redt_Log or the hex stream redt_Hex).
//
// Every line keeps its own colour. Lines are queued and written in batches, one QTextCursor edit
// block per batch, so a burst of thousands of datagrams costs a handful of repaints instead of
// one per line: the first queued line arms a short timer, and each flush writes at most
// MaxLinesPerFlush lines, re-arming itself for the rest so the event loop keeps turning.

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

  // followEnd: scroll to the last line after every change (the hex pane). Otherwise the pane
  // only follows the end while its scroll bar is already at the bottom.
  TLogPane(QPlainTextEdit* edit, bool followEnd, QObject* parent = nullptr);

  // Queues one line; an invalid colour means the window-text colour (a plain line).
  void Append(const QString& text, const QColor& colour = QColor());
  // Empties the pane and drops the queued lines.
  void Clear();
  // Writes every queued line now.
  void Flush();

  int PendingCount() const { return static_cast<int>(pending_.size()); }
  int LineCount() const { return lines_; }
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

  QPlainTextEdit* edit_;
  bool followEnd_;
  std::deque<TLine> pending_;
  int lines_ = 0;
  QTimer timer_;
};

}  // namespace varnix
