#include "console/receive_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QTextBlock>
#include <QTextLayout>

namespace velmora::console {

namespace {

// Twenty frames a second: scrolling text reads well at that rate, an echo still looks immediate,
// and every frame costs a repaint and, on X11, a round trip to the display server, so a faster
// one costs without being seen.
constexpr int kFlushIntervalMs = 50;
// Ten a second while each frame brings more than the view shows: every frame is then a new
// screenful that nobody reads line by line, and painting it is the pane's whole cost.
constexpr int kFloodIntervalMs = 100;

}  // namespace

ReceivePane::ReceivePane(ReceiveTextView* view) : QObject(view), view_(view) {
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  flushTimer_.setSingleShot(true);
  flushTimer_.setInterval(kFlushIntervalMs);
  connect(&flushTimer_, &QTimer::timeout, this, &ReceivePane::Flush);
  connect(view_, &ReceiveTextView::ColumnsChanged, this, &ReceivePane::Recount);
  Recount();
}

void ReceivePane::Append(const QString& chunk) {
  // A read of nothing between the CR and the LF of a pair must not part them.
  if (chunk.isEmpty()) return;
  QStringView text(chunk);
  // The CR that ended the previous chunk already made the break of a CR LF.
  if (lastWasCr_ && !text.isEmpty() && text.front() == u'\n') text = text.mid(1);
  if (text.isEmpty()) {
    lastWasCr_ = false;
    return;
  }
  lastWasCr_ = text.back() == u'\r';
  Count(text);
  // Line breaks as one LF each, so that showing the text need not look at pairs again; the
  // text between them in runs. No reserve here: an exact one per chunk would copy all that
  // waits on every small chunk.
  const QChar* p = text.data();
  const QChar* const end = p + text.size();
  while (p != end) {
    const QChar* run = p;
    while (p != end && *p != u'\r') ++p;
    pending_.append(run, p - run);
    if (p == end) break;
    pending_.append(u'\n');
    if (++p != end && *p == u'\n') ++p;
  }
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
  flushTimer_.stop();
  pending_.clear();
  lastWasCr_ = false;
  completeLines_ = 0;
  tailLength_ = 0;
  linesAtLastFlush_ = 0;
  // At once: a clear is what the operator or the limit asked for, not a stream to batch.
  view_->Clear();
}

int64_t ReceivePane::LinesOf(int64_t length) const {
  const int columns = view_->Columns();
  return length == 0 ? 1 : (length + columns - 1) / columns;
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
  if (pending_.isEmpty()) return;
  view_->Append(pending_);
  pending_.clear();
  const int64_t lines = LineCount();
  const bool screenfulPerFrame = lines - linesAtLastFlush_ > view_->PageLines();
  linesAtLastFlush_ = lines;
  flushTimer_.setInterval(screenfulPerFrame ? kFloodIntervalMs : kFlushIntervalMs);
}

QString ReceivePane::Text() const {
  // What waits for the next frame has arrived too.
  return view_->toPlainText() + pending_;
}

void ReceivePane::Recount() {
  // The view wrapped anew at another width: the same text, other lines.
  completeLines_ = 0;
  tailLength_ = 0;
  Count(Text());
  linesAtLastFlush_ = LineCount();
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
    // Past the limit the exact figure no longer matters: a paste of many lines is not laid out
    // beyond this point just to be emptied.
    if (lines > limit_) break;
  }
  return lines;
}

void PaneLineLimit::Check() {
  if (LineCount() > limit_) view_->clear();
}

}  // namespace velmora::console
