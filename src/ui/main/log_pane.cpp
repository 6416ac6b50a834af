#include "ui/main/log_pane.h"

#include "ui/common/colours.h"

#include <QPalette>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace varnix {

TLogPane::TLogPane(QPlainTextEdit* edit, bool followEnd, TTexts texts, QObject* parent)
    : QObject(parent), edit_(edit), followEnd_(followEnd), texts_(texts) {
    timer_.setSingleShot(true);
    timer_.setInterval(FlushIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { WriteSome(MaxLinesPerFlush); });
    // No block-count limit: it would make every append slower. The pane trims itself in batches.
    edit_->setMaximumBlockCount(0);
    edit_->setUndoRedoEnabled(false);
}

void TLogPane::Append(const QString& text, const QColor& colour) {
    pending_.push_back({text, colour});
    pendingChars_ += text.size();
    if (static_cast<int>(pending_.size()) > MaxLines || pendingChars_ > MaxChars)
        BoundQueue();
    if (!timer_.isActive())
        timer_.start();
}

void TLogPane::BoundQueue() {
    // The pane could not keep them anyway: drop the oldest queued lines in one step.
    std::size_t drop =
        pending_.size() > static_cast<std::size_t>(KeepLines) ? pending_.size() - KeepLines : 0;
    qsizetype chars = pendingChars_;
    for (std::size_t i = 0; i < drop; ++i)
        chars -= pending_[i].Text.size();
    while (chars > KeepChars && drop + 1 < pending_.size())
        chars -= pending_[drop++].Text.size();
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(drop));
    pendingChars_ = chars;
    dropped_ += static_cast<long long>(drop);
    noteStale_ = true;
}

void TLogPane::BoundPane() {
    QTextDocument* doc = edit_->document();
    const int first = hasNote_ ? 1 : 0;
    int excess = lines_ > MaxLines ? lines_ - KeepLines : 0;
    if (doc->characterCount() > MaxChars) {
        const int keepFrom = doc->findBlock(doc->characterCount() - KeepChars).blockNumber();
        excess = std::max(excess, keepFrom - first);
    }
    excess = std::min(excess, lines_ - 1); // the newest line stays, however long
    if (excess > 0)
        TrimOldest(excess);
}

void TLogPane::Clear() {
    pending_.clear();
    pendingChars_ = 0;
    timer_.stop();
    edit_->clear();
    lines_ = 0;
    dropped_ = 0;
    hasNote_ = noteStale_ = false;
}

void TLogPane::Flush() {
    timer_.stop();
    while (!pending_.empty())
        WriteSome(static_cast<int>(pending_.size()));
    if (noteStale_)
        UpdateNote();
}

void TLogPane::WriteSome(int maxLines) {
    if (pending_.empty())
        return;
    QScrollBar* bar = edit_->verticalScrollBar();
    const bool atEnd = followEnd_ || bar->value() >= bar->maximum();

    QTextCursor cursor(edit_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (int n = 0; n < maxLines && !pending_.empty(); ++n) {
        const TLine& line = pending_.front();
        QTextCharFormat format;
        // The line's colour, made readable when the pane's palette is dark.
        if (line.Colour.isValid())
            format.setForeground(PaneColour(line.Colour, edit_->palette().color(QPalette::Base)));
        if (lines_ > 0 || hasNote_) {
            cursor.insertBlock(QTextBlockFormat(), format);
        } else {
            cursor.setBlockCharFormat(format);
            cursor.setCharFormat(format);
        }
        cursor.insertText(line.Text, format);
        ++lines_;
        pendingChars_ -= line.Text.size();
        pending_.pop_front();
    }
    cursor.endEditBlock();
    BoundPane();
    if (noteStale_)
        UpdateNote();

    if (atEnd)
        bar->setValue(bar->maximum());
    if (!pending_.empty()) {
        // Give the event loop a turn before the next batch.
        timer_.start(0);
    }
    emit Changed();
}

void TLogPane::TrimOldest(int count) {
    // From the start of the first line to the start of the first line kept: the removed lines
    // and their line breaks, in one edit. The ends are found by block number; stepping the cursor
    // block by block (movePosition NextBlock) costs about 85 us per wrapped line, the removal
    // itself 2 us.
    QTextDocument* doc = edit_->document();
    const int first = hasNote_ ? 1 : 0;
    QTextCursor cursor(doc);
    cursor.setPosition(doc->findBlockByNumber(first).position());
    cursor.setPosition(doc->findBlockByNumber(first + count).position(), QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    lines_ -= count;
    dropped_ += count;
    noteStale_ = true;
}

void TLogPane::UpdateNote() {
    noteStale_ = false;
    QTextCharFormat format;
    format.setForeground(edit_->palette().color(QPalette::Disabled, QPalette::Text));
    format.setFontItalic(true);
    const QString note = texts_.Text("lang_Hint_LinesDropped").arg(dropped_);
    QTextCursor cursor(edit_->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::Start);
    if (hasNote_) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(note, format);
    } else {
        cursor.insertText(note, format);
        if (lines_ > 0)
            cursor.insertBlock(QTextBlockFormat(), format);
        hasNote_ = true;
    }
    cursor.endEditBlock();
}

} // namespace varnix
