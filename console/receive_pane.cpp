#include "console/receive_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>

namespace velmora::console {

namespace {

// About one display frame: the pane is redrawn no more often than this anyway.
constexpr int kFlushIntervalMs = 15;

}  // namespace

ReceivePane::ReceivePane(QPlainTextEdit* view)
    : QObject(view), view_(view), viewport_(view->viewport()) {
  view_->setReadOnly(true);
  view_->setUndoRedoEnabled(false);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  // Wrapping at any character gives every line of a fixed-pitch font the same number of
  // characters, which is what lets the line count be kept by arithmetic.
  view_->setWordWrapMode(QTextOption::WrapAnywhere);
  viewport_->installEventFilter(this);
  view_->installEventFilter(this);
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushIntervalMs);
  connect(&flushTimer_, &QTimer::timeout, this, &ReceivePane::Flush);
  Measure();
}

void ReceivePane::Append(const QString& chunk) {
  QStringView text(chunk);
  // The CR that ended the previous chunk already made the break of a CR LF.
  if (lastWasCr_ && !text.isEmpty() && text.front() == u'\n') text = text.mid(1);
  if (text.isEmpty()) {
    lastWasCr_ = false;
    return;
  }
  lastWasCr_ = text.back() == u'\r';
  Count(text);
  pending_.append(text);
  if (LineCount() > kLineLimit) {
    Clear();
    return;
  }
  if (!flushTimer_.isActive()) flushTimer_.start();
}

void ReceivePane::AppendLine(const QString& line) {
  Append(tailLength_ > 0 ? QStringLiteral("\n") + line + u'\n' : line + u'\n');
}

void ReceivePane::Clear() {
  pending_.clear();
  clearPending_ = true;
  lastWasCr_ = false;
  completeLines_ = 0;
  tailLength_ = 0;
  // At once: a clear is what the operator or the limit asked for, not a stream to batch.
  Flush();
}

int64_t ReceivePane::LinesOf(int64_t length) const {
  return length == 0 ? 1 : (length + columns_ - 1) / columns_;
}

int64_t ReceivePane::LineCount() const {
  return completeLines_ + (tailLength_ > 0 ? LinesOf(tailLength_) : 0);
}

void ReceivePane::Count(QStringView text) {
  const QChar* p = text.data();
  const QChar* const end = p + text.size();
  while (p != end) {
    const QChar* run = p;
    while (p != end && *p != u'\r' && *p != u'\n') ++p;
    tailLength_ += p - run;
    if (p == end) break;
    completeLines_ += LinesOf(tailLength_);
    tailLength_ = 0;
    if (*p == u'\r' && p + 1 != end && p[1] == u'\n') ++p;
    ++p;
  }
}

void ReceivePane::Flush() {
  flushTimer_.stop();
  if (!clearPending_ && pending_.isEmpty()) return;
  QScrollBar* bar = view_->verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  if (clearPending_) {
    view_->clear();
    clearPending_ = false;
  }
  if (!pending_.isEmpty()) {
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(pending_);
    pending_.clear();
  }
  if (follow) bar->setValue(bar->maximum());
}

void ReceivePane::Measure() {
  const qreal width =
      view_->viewport()->width() - 2 * view_->document()->documentMargin();
  if (static_cast<int>(width) == measuredWidth_) return;
  measuredWidth_ = static_cast<int>(width);
  // Asked of the text layout itself rather than worked out from the glyph width, so bearings
  // and rounding come out as the pane will lay the text out.
  QTextLayout layout(QString(1000, u'0'), view_->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLineWidth(width > 0 ? width : 1);
  columns_ = std::max(1, line.textLength());
  layout.endLayout();

  // The blocks already shown wrap anew at the new width.
  Flush();
  completeLines_ = 0;
  tailLength_ = 0;
  for (QTextBlock block = view_->document()->begin(); block.isValid(); block = block.next()) {
    const int64_t length = block.length() - 1;  // without the block's separator
    if (block.next().isValid())
      completeLines_ += LinesOf(length);
    else
      tailLength_ = length;
  }
}

bool ReceivePane::eventFilter(QObject* watched, QEvent* event) {
  // Pointers only: events also arrive while the view is being destroyed, when it is no longer
  // a text edit.
  if ((event->type() == QEvent::Resize && watched == viewport_) ||
      (event->type() == QEvent::FontChange && watched == view_)) {
    measuredWidth_ = -1;
    Measure();
  }
  return QObject::eventFilter(watched, event);
}

PaneLineLimit::PaneLineLimit(QPlainTextEdit* view, int limit)
    : QObject(view), view_(view), limit_(limit) {
  connect(view_->document(), &QTextDocument::contentsChanged, this, &PaneLineLimit::Check);
}

int PaneLineLimit::LineCount() const {
  QAbstractTextDocumentLayout* layout = view_->document()->documentLayout();
  int lines = 0;
  for (QTextBlock block = view_->document()->begin(); block.isValid(); block = block.next()) {
    if (!block.next().isValid() && block.length() <= 1) break;  // an empty last line
    // Asking for the block's rectangle makes the pane lay the block out if it has not yet.
    if (block.layout()->lineCount() == 0) layout->blockBoundingRect(block);
    lines += std::max(1, block.layout()->lineCount());
  }
  return lines;
}

void PaneLineLimit::Check() {
  if (LineCount() > limit_) view_->clear();
}

}  // namespace velmora::console
