#include "console/receive_pane.h"

#include <algorithm>

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include "console/cp1251.h"

namespace velmora::console {

namespace {

// Thirty frames a second: scrolling text looks smooth at that rate, and every frame repaints
// the visible lines and the scroll bar, so a faster one costs without being seen.
constexpr int kFlushIntervalMs = 33;

// Stand-ins from Unicode's control pictures and neighbours: none of them can arrive, since the
// pane gets Windows-1251 text, so each maps back to its character without doubt.
constexpr char16_t kDeleteShown = u'\u2421';
constexpr char16_t kC1ControlShown = u'\u2426';  // U+0098, the code page's one C1 control
constexpr char16_t kSoftHyphenShown = u'\u2010';

// The character the pane can show whose glyph reaches furthest past its column: the text
// layout keeps a line's last glyph inside the width, so this one decides how many fit.
QChar FurthestReaching(const QFont& font) {
  const QFontMetricsF metrics(font);
  QChar furthest = u'0';
  qreal least = metrics.rightBearing(furthest);
  for (int byte = 0; byte < 256; ++byte) {
    const QChar shown = ReceivePane::Shown(QChar(Cp1251ToUnicode(static_cast<uint8_t>(byte))));
    const qreal bearing = metrics.rightBearing(shown);
    if (bearing < least) {
      least = bearing;
      furthest = shown;
    }
  }
  return furthest;
}

}  // namespace

ReceiveTextView::ReceiveTextView(QWidget* parent) : QPlainTextEdit(parent) {}

QMimeData* ReceiveTextView::createMimeDataFromSelection() const {
  if (!pane_) return QPlainTextEdit::createMimeDataFromSelection();
  auto* mime = new QMimeData;
  mime->setText(pane_->TextOf(textCursor()));
  return mime;
}

QChar ReceivePane::Shown(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x20) return QChar(char16_t(0x2400 + u));
  if (u == 0x7F) return QChar(kDeleteShown);
  if (u == 0x98) return QChar(kC1ControlShown);
  if (u == 0xAD) return QChar(kSoftHyphenShown);
  return c;
}

QChar ReceivePane::Arrived(QChar shown) {
  const char16_t u = shown.unicode();
  if (u >= 0x2400 && u < 0x2420) return QChar(char16_t(u - 0x2400));
  if (u == kDeleteShown) return QChar(char16_t(0x7F));
  if (u == kC1ControlShown) return QChar(char16_t(0x98));
  if (u == kSoftHyphenShown) return QChar(char16_t(0xAD));
  return shown;
}

ReceivePane::ReceivePane(QPlainTextEdit* view)
    : QObject(view), view_(view), viewport_(view->viewport()) {
  view_->setReadOnly(true);
  view_->setUndoRedoEnabled(false);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  // The pane wraps by itself: one block per shown line. The widget's own wrapping stays on only
  // as a safety net for a glyph wider than its column.
  view_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  view_->setWordWrapMode(QTextOption::WrapAnywhere);
  if (auto* receiveView = qobject_cast<ReceiveTextView*>(view_)) receiveView->pane_ = this;
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
  // Line breaks as one LF each, so that showing the text need not look at pairs again. No
  // reserve here: an exact one per chunk would copy all that waits on every small chunk.
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'\r') {
      pending_.append(u'\n');
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      pending_.append(c);
    }
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
  const bool cleared = clearPending_;
  if (clearPending_) {
    view_->clear();
    wrapsOn_.clear();
    shownTail_ = 0;
    clearPending_ = false;
  }
  if (!pending_.isEmpty()) {
    QString shown;
    shown.reserve(pending_.size() + pending_.size() / columns_ + 1);
    int tail = shownTail_;
    for (QChar c : std::as_const(pending_)) {
      if (c == u'\n') {
        shown.append(u'\n');
        wrapsOn_.push_back(false);
        tail = 0;
        continue;
      }
      if (tail == columns_) {
        shown.append(u'\n');
        wrapsOn_.push_back(true);
        tail = 0;
      }
      shown.append(Shown(c));
      ++tail;
    }
    shownTail_ = tail;
    pending_.clear();
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::End);
    const int changedFrom = cleared ? 0 : std::max(0, view_->cursorRect(cursor).top());
    const int firstChanged = cursor.blockNumber();
    QAbstractTextDocumentLayout* layout = view_->document()->documentLayout();
    {
      // After a change of more than one block the document layout asks for the whole view to
      // be repainted; only the line the text continues and the lines below it changed.
      const QSignalBlocker quiet(layout);
      cursor.insertText(shown);
    }
    // Shaped once when laid out, not again at every repaint: a shown line never changes
    // once the next one has begun.
    for (QTextBlock block = view_->document()->findBlockByNumber(firstChanged); block.isValid();
         block = block.next())
      block.layout()->setCacheEnabled(true);
    emit layout->documentSizeChanged(layout->documentSize());
    if (changedFrom < viewport_->height())
      viewport_->update(0, changedFrom, viewport_->width(), viewport_->height() - changedFrom);
  }
  // Following the end scrolls what is shown, so only the lines that come into view are painted.
  if (follow) bar->setValue(bar->maximum());
}

QString ReceivePane::Text() const {
  QTextCursor all(view_->document());
  all.select(QTextCursor::Document);
  QString text = TextOf(all);
  // What waits for the next frame has arrived too.
  text += pending_;
  return text;
}

QString ReceivePane::TextOf(const QTextCursor& selection) const {
  QString text;
  const int start = selection.selectionStart();
  const int end = selection.selectionEnd();
  QTextDocument* document = view_->document();
  for (QTextBlock block = document->findBlock(start); block.isValid() && block.position() <= end;
       block = block.next()) {
    const int from = std::max(start, block.position()) - block.position();
    const int to = std::min(end, block.position() + block.length() - 1) - block.position();
    const QString line = block.text();
    for (int i = from; i < to; ++i) text.append(Arrived(line[i]));
    // The break after the block, when the selection reaches past it.
    const auto number = static_cast<size_t>(block.blockNumber());
    if (block.position() + block.length() - 1 < end && number < wrapsOn_.size() &&
        !wrapsOn_[number])
      text.append(u'\n');
  }
  return text;
}

void ReceivePane::Measure() {
  const qreal width =
      view_->viewport()->width() - 2 * view_->document()->documentMargin();
  if (static_cast<int>(width) == measuredWidth_) return;
  measuredWidth_ = static_cast<int>(width);
  // Asked of the text layout itself rather than worked out from the glyph width, so bearings
  // and rounding come out as the pane will lay the text out.
  QTextLayout layout(QString(1000, FurthestReaching(view_->font())), view_->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLineWidth(width > 0 ? width : 1);
  const int columns = std::max(1, line.textLength());
  layout.endLayout();
  if (columns == columns_) return;
  columns_ = columns;
  Rewrap();
}

void ReceivePane::Rewrap() {
  // The text shown so far wraps anew at the new width: a change of size or font, not of data.
  const QString text = Text();
  const bool lastWasCr = lastWasCr_;
  pending_.clear();
  clearPending_ = true;
  completeLines_ = 0;
  tailLength_ = 0;
  Count(text);
  pending_ = text;
  lastWasCr_ = lastWasCr;
  Flush();
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
