#include "ui/main/log_pane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace varnix {

TLogPane::TLogPane(QPlainTextEdit* edit, bool followEnd, QObject* parent)
    : QObject(parent), edit_(edit), followEnd_(followEnd) {
  timer_.setSingleShot(true);
  timer_.setInterval(FlushIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] { WriteSome(MaxLinesPerFlush); });
  // The pane keeps every line; QPlainTextEdit lays out only what is visible, so appending stays
  // cheap however long it grows (a block-count limit would make each append slower).
  edit_->setMaximumBlockCount(0);
  edit_->setUndoRedoEnabled(false);
}

void TLogPane::Append(const QString& text, const QColor& colour) {
  pending_.push_back({text, colour});
  if (!timer_.isActive()) timer_.start();
}

void TLogPane::Clear() {
  pending_.clear();
  timer_.stop();
  edit_->clear();
  lines_ = 0;
}

void TLogPane::Flush() {
  timer_.stop();
  while (!pending_.empty()) WriteSome(static_cast<int>(pending_.size()));
}

void TLogPane::WriteSome(int maxLines) {
  if (pending_.empty()) return;
  QScrollBar* bar = edit_->verticalScrollBar();
  const bool atEnd = followEnd_ || bar->value() >= bar->maximum();

  QTextCursor cursor(edit_->document());
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  for (int n = 0; n < maxLines && !pending_.empty(); ++n) {
    const TLine& line = pending_.front();
    QTextCharFormat format;
    if (line.Colour.isValid()) format.setForeground(line.Colour);
    if (lines_ > 0) {
      cursor.insertBlock(QTextBlockFormat(), format);
    } else {
      cursor.setBlockCharFormat(format);
      cursor.setCharFormat(format);
    }
    cursor.insertText(line.Text, format);
    ++lines_;
    pending_.pop_front();
  }
  cursor.endEditBlock();

  if (atEnd) bar->setValue(bar->maximum());
  if (!pending_.empty()) {
    // Give the event loop a turn before the next batch.
    timer_.start(0);
  }
  emit Changed();
}

}  // namespace varnix
