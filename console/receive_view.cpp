#include "console/receive_view.h"

#include <algorithm>
#include <cmath>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMimeData>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QGlyphRun>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTextLayout>

#include "console/cp1251.h"

namespace velmora::console {

namespace {

// Stand-ins from Unicode's control pictures and neighbours: none of them can arrive, since the
// view gets Windows-1251 text, so each maps back to its character without doubt.
constexpr char16_t kDeleteShown = u'\u2421';
constexpr char16_t kC1ControlShown = u'\u2426';  // U+0098, the code page's one C1 control
constexpr char16_t kSoftHyphenShown = u'\u2010';

// Letters of the control characters' short names, three dots wide and five high, row by row
// from the top, the most significant of 15 bits first.
constexpr int kPixelLetterWidth = 3;
constexpr int kPixelLetterHeight = 5;

constexpr quint16 PixelBits(const char (&rows)[16]) {
  quint16 bits = 0;
  for (int i = 0; i < 15; ++i) bits = quint16((bits << 1) | (rows[i] == 'x' ? 1 : 0));
  return bits;
}

quint16 PixelLetter(QChar c) {
  switch (c.unicode()) {
    case u'A': return PixelBits(".x.x.xxxxx.xx.x");
    case u'B': return PixelBits("xx.x.xxx.x.xxx.");
    case u'C': return PixelBits(".xxx..x..x...xx");
    case u'D': return PixelBits("xx.x.xx.xx.xxx.");
    case u'E': return PixelBits("xxxx..xx.x..xxx");
    case u'F': return PixelBits("xxxx..xx.x..x..");
    case u'G': return PixelBits(".xxx..x.xx.x.xx");
    case u'H': return PixelBits("x.xx.xxxxx.xx.x");
    case u'I': return PixelBits("xxx.x..x..x.xxx");
    case u'K': return PixelBits("x.xx.xxx.x.xx.x");
    case u'L': return PixelBits("x..x..x..x..xxx");
    case u'M': return PixelBits("x.xxxxxxxx.xx.x");
    case u'N': return PixelBits("xx.x.xx.xx.xx.x");
    case u'O': return PixelBits(".x.x.xx.xx.x.x.");
    case u'Q': return PixelBits(".x.x.xx.xxxx.xx");
    case u'R': return PixelBits("xx.x.xxx.x.xx.x");
    case u'S': return PixelBits(".xxx...x...xxx.");
    case u'T': return PixelBits("xxx.x..x..x..x.");
    case u'U': return PixelBits("x.xx.xx.xx.xxxx");
    case u'V': return PixelBits("x.xx.xx.xx.x.x.");
    case u'X': return PixelBits("x.xx.x.x.x.xx.x");
    case u'Y': return PixelBits("x.xx.x.x..x..x.");
    case u'1': return PixelBits(".x.xx..x..x.xxx");
    case u'2': return PixelBits("xx...x.x.x..xxx");
    case u'3': return PixelBits("xx...x.x...xxx.");
    case u'4': return PixelBits("x.xx.xxxx..x..x");
    default: return 0;
  }
}

// While a drag stands outside the view, the view scrolls a line this often.
constexpr int kDragScrollIntervalMs = 50;

// The character the view can show whose glyph reaches furthest past its column: the last glyph
// of a line must stay inside the width, so this one decides how many fit.
QChar FurthestReaching(const QFont& font) {
  const QFontMetricsF metrics(font);
  QChar furthest = u'0';
  qreal least = metrics.rightBearing(furthest);
  for (int byte = 0; byte < 256; ++byte) {
    const QChar shown =
        ReceiveTextView::Shown(QChar(Cp1251ToUnicode(static_cast<uint8_t>(byte))));
    const qreal bearing = metrics.rightBearing(shown);
    if (bearing < least) {
      least = bearing;
      furthest = shown;
    }
  }
  return furthest;
}

// A scroll bar repainted only where what it shows changes: following the end changes its range
// and value at every frame, while the slider of a full pane moves a few pixels at most.
class QuietScrollBar final : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

 protected:
  void sliderChange(SliderChange /*change*/) override {
    // Decided once the caller's changes are all made: following the end moves the range first
    // and the value after it, and the state between them is never seen.
    if (checkPending_) return;
    checkPending_ = true;
    QMetaObject::invokeMethod(this, &QuietScrollBar::RepaintChanged, Qt::QueuedConnection);
  }

 private:
  void RepaintChanged() {
    checkPending_ = false;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const Look look{
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum(), minimum() == maximum()};
    if (look == shown_) return;
    const bool onlyMoved = look.atStart == shown_.atStart && look.atEnd == shown_.atEnd &&
                           look.empty == shown_.empty && look.slider.size() == shown_.slider.size();
    const QRect moved = look.slider | shown_.slider;
    shown_ = look;
    // A slider that only moved repaints where it was and where it is, not the whole groove.
    if (onlyMoved)
      update(moved);
    else
      update();
  }

  struct Look {
    QRect slider;
    bool atStart = false;
    bool atEnd = false;
    bool empty = false;
    bool operator==(const Look&) const = default;
  };
  Look shown_;
  bool checkPending_ = false;
};

bool IsWordCharacter(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

// What a screen reader asks of the view: a read-only text with a caret and a selection, as Qt
// answers for a read-only plain text edit.
class ReceiveViewAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit ReceiveViewAccessible(ReceiveTextView* view)
      : QAccessibleWidget(view, QAccessible::EditableText) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.editable = false;
    state.multiLine = true;
    state.selectableText = true;
    return state;
  }

  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Value) return View()->toPlainText();
    return QAccessibleWidget::text(t);
  }

  // QAccessibleTextInterface
  void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !View()->HasSelection()) return;
    View()->SelectionOffsets(*startOffset, *endOffset);
  }
  int selectionCount() const override { return View()->HasSelection() ? 1 : 0; }
  void addSelection(int startOffset, int endOffset) override { setSelection(0, startOffset, endOffset); }
  void removeSelection(int selectionIndex) override {
    if (selectionIndex == 0) View()->SelectOffsets(View()->CaretOffset(), View()->CaretOffset());
  }
  void setSelection(int selectionIndex, int startOffset, int endOffset) override {
    if (selectionIndex == 0) View()->SelectOffsets(startOffset, endOffset);
  }
  int cursorPosition() const override { return View()->CaretOffset(); }
  void setCursorPosition(int position) override { View()->SelectOffsets(position, position); }
  QString text(int startOffset, int endOffset) const override {
    const QString all = View()->toPlainText();
    startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
    endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
    return all.mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override { return static_cast<int>(View()->toPlainText().size()); }
  QRect characterRect(int offset) const override {
    const QRect rect = View()->CharacterRect(offset);
    return QRect(View()->viewport()->mapToGlobal(rect.topLeft()), rect.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    return View()->OffsetAt(View()->viewport()->mapFromGlobal(point));
  }
  void scrollToSubstring(int startIndex, int /*endIndex*/) override { View()->ScrollToOffset(startIndex); }
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return {};
  }

 private:
  ReceiveTextView* View() const { return static_cast<ReceiveTextView*>(widget()); }
};

QAccessibleInterface* MakeReceiveViewAccessible(const QString& className, QObject* object) {
  if (className == QLatin1String(ReceiveTextView::staticMetaObject.className()) && object &&
      object->isWidgetType())
    return new ReceiveViewAccessible(static_cast<ReceiveTextView*>(object));
  return nullptr;
}

}  // namespace

QChar ReceiveTextView::Shown(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x20) return QChar(char16_t(0x2400 + u));
  if (u == 0x7F) return QChar(kDeleteShown);
  if (u == 0x98) return QChar(kC1ControlShown);
  if (u == 0xAD) return QChar(kSoftHyphenShown);
  return c;
}

QString ReceiveTextView::StandInName(QChar shown) {
  static const char* const kControlNames[32] = {
      "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "HT", "LF",
      "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
      "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
  const char16_t u = shown.unicode();
  if (u >= 0x2400 && u < 0x2420) return QString::fromLatin1(kControlNames[u - 0x2400]);
  if (u == kDeleteShown) return QStringLiteral("DEL");
  if (u == kC1ControlShown) return QStringLiteral("SOS");
  if (u == kSoftHyphenShown) return QStringLiteral("SHY");
  return {};
}

QChar ReceiveTextView::Arrived(QChar shown) {
  const char16_t u = shown.unicode();
  if (u >= 0x2400 && u < 0x2420) return QChar(char16_t(u - 0x2400));
  if (u == kDeleteShown) return QChar(char16_t(0x7F));
  if (u == kC1ControlShown) return QChar(char16_t(0x98));
  if (u == kSoftHyphenShown) return QChar(char16_t(0xAD));
  return shown;
}

ReceiveTextView::ReceiveTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool accessibleInstalled = [] {
    QAccessible::installFactory(&MakeReceiveViewAccessible);
    return true;
  }();
  Q_UNUSED(accessibleInstalled);
  setVerticalScrollBar(new QuietScrollBar(Qt::Vertical, this));
  viewport()->setCursor(Qt::IBeamCursor);
  // The view paints its background itself, a line's height at a time: the raster engine hands
  // a taller fill to its thread pool, and waking those threads costs more than the fill.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(1);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);  // the view wraps instead
  dragScroll_.setInterval(kDragScrollIntervalMs);
  connect(&dragScroll_, &QTimer::timeout, this, &ReceiveTextView::FollowDrag);
  Measure();
}

void ReceiveTextView::Append(QStringView text) {
  if (text.isEmpty()) return;
  QScrollBar* bar = verticalScrollBar();
  const bool follow = bar->value() == bar->maximum();
  const int firstChanged = LineCount() - 1;
  for (const QChar c : text) {
    if (c == u'\n') {
      lines_.back().continues = false;
      lines_.emplace_back();
      continue;
    }
    if (lines_.back().shown.size() == columns_) {
      lines_.back().continues = true;
      lines_.emplace_back();
    }
    QString& shown = lines_.back().shown;
    // Whole lines at once rather than growing a character at a time.
    if (shown.isEmpty()) shown.reserve(columns_);
    shown.append(Shown(c));
  }
  UpdateScrollRange();
  if (QAccessible::isActive()) {
    QAccessibleTextInsertEvent inserted(this, static_cast<int>(toPlainText().size() - text.size()),
                                        text.toString());
    QAccessible::updateAccessibility(&inserted);
  }
  // Following the end moves what is painted, so only the lines that come into view are painted
  // anew, besides the ones that changed.
  if (follow) bar->setValue(bar->maximum());
  const QRect changed = LinesRect(firstChanged, LineCount() - 1) & viewport()->rect();
  if (!changed.isEmpty()) viewport()->update(changed);
  emit TextChanged();
}

void ReceiveTextView::Clear() {
  lines_.clear();
  lines_.emplace_back();
  anchor_ = caret_ = Place{};
  marks_.clear();
  UpdateScrollRange();
  viewport()->update();
  emit TextChanged();
}

QString ReceiveTextView::toPlainText() const { return TextBetween(Place{}, EndPlace()); }

QString ReceiveTextView::SelectedText() const {
  return TextBetween(std::min(anchor_, caret_), std::max(anchor_, caret_));
}

void ReceiveTextView::SelectAll() {
  const Place oldStart = std::min(anchor_, caret_);
  const Place oldEnd = std::max(anchor_, caret_);
  anchor_ = Place{};
  caret_ = EndPlace();
  RepaintSelectionChange(oldStart, oldEnd);
}

void ReceiveTextView::Select(int fromLine, int fromColumn, int toLine, int toColumn) {
  MoveCaret(Place{fromLine, fromColumn}, false);
  MoveCaret(Place{toLine, toColumn}, true);
}

void ReceiveTextView::Copy() const {
  if (HasSelection()) QApplication::clipboard()->setText(SelectedText());
}

// --- offsets in what arrived ------------------------------------------------------------------

int ReceiveTextView::OffsetOf(Place place) const {
  int offset = 0;
  for (int i = 0; i < place.line && i < LineCount(); ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    offset += static_cast<int>(line.shown.size()) + (line.continues ? 0 : 1);
  }
  return offset + place.column;
}

ReceiveTextView::Place ReceiveTextView::PlaceOf(int offset) const {
  offset = std::max(0, offset);
  for (int i = 0; i < LineCount(); ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    const int length = static_cast<int>(line.shown.size());
    // The place after a wrapped line's last character is the next line's start.
    if (offset < length || (offset == length && !line.continues)) return Place{i, offset};
    offset -= length + (line.continues ? 0 : 1);
  }
  return EndPlace();
}

void ReceiveTextView::SelectionOffsets(int& start, int& end) const {
  start = OffsetOf(std::min(anchor_, caret_));
  end = OffsetOf(std::max(anchor_, caret_));
}

void ReceiveTextView::SelectOffsets(int anchor, int caret) {
  MoveCaret(PlaceOf(anchor), false);
  MoveCaret(PlaceOf(caret), true);
  ScrollCaretIntoView();
}

QRect ReceiveTextView::CharacterRect(int offset) const {
  const Place place = PlaceOf(offset);
  const QString& shown = lines_[static_cast<size_t>(place.line)].shown;
  const qreal left = ColumnX(shown, place.column);
  const qreal width = place.column < shown.size() ? AdvanceOf(shown[place.column]) : cellWidth_;
  return QRect(qRound(left), LineTop(place.line), qRound(width), lineHeight_);
}

void ReceiveTextView::ScrollToOffset(int offset) {
  const int line = PlaceOf(offset).line;
  QScrollBar* bar = verticalScrollBar();
  if (line < bar->value() || line >= bar->value() + FullyVisibleLines()) bar->setValue(line);
}

void ReceiveTextView::TellCaretMoved() {
  if (!QAccessible::isActive()) return;
  QAccessibleTextCursorEvent moved(this, CaretOffset());
  QAccessible::updateAccessibility(&moved);
}

// --- layout -----------------------------------------------------------------------------------

void ReceiveTextView::Measure() {
  const QFontMetricsF metrics(font());
  if (rawFont_.isValid() == false || font() != measuredFont_) {
    measuredFont_ = font();
    rawFont_ = QRawFont::fromFont(font());
    glyphTable_.clear();
  }
  cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(u' '));
  lineHeight_ = std::max(1, qRound(metrics.height()));
  ascent_ = qRound(metrics.ascent());
  const int width = viewport()->width() - 2 * kMargin;
  if (width == measuredWidth_) {
    UpdateScrollRange();
    return;
  }
  measuredWidth_ = width;
  // Asked of the text layout itself rather than worked out from the glyph width, so bearings and
  // rounding come out as the painter will lay the text out.
  QTextLayout layout(QString(1000, FurthestReaching(font())), font());
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAnywhere);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine line = layout.createLine();
  line.setLineWidth(width > 0 ? width : 1);
  int columns = std::max(1, line.textLength());
  layout.endLayout();
  if (columns >= wrapUnit_) columns -= columns % wrapUnit_;
  if (columns == columns_) {
    UpdateScrollRange();
    return;
  }
  // What is shown wraps anew at the new width: a change of size or font, not of data.
  const QString text = toPlainText();
  const bool follow = verticalScrollBar()->value() == verticalScrollBar()->maximum();
  columns_ = columns;
  Clear();
  Append(text);
  if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  emit ColumnsChanged();
}

void ReceiveTextView::SetWrapUnit(int unit) {
  unit = std::max(1, unit);
  if (unit == wrapUnit_) return;
  wrapUnit_ = unit;
  measuredWidth_ = -1;
  Measure();
}

int ReceiveTextView::FullyVisibleLines() const {
  return std::max(1, (viewport()->height() - kMargin) / lineHeight_);
}

void ReceiveTextView::UpdateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(FullyVisibleLines());
  bar->setRange(0, std::max(0, LineCount() - FullyVisibleLines()));
}

int ReceiveTextView::FirstShownLine() const { return verticalScrollBar()->value(); }

int ReceiveTextView::TopOffset() const {
  // As a plain text edit shows it: the margin above the first line only, none once scrolled.
  return FirstShownLine() == 0 ? kMargin : 0;
}

int ReceiveTextView::LineTop(int line) const {
  return TopOffset() + (line - FirstShownLine()) * lineHeight_;
}

QRect ReceiveTextView::LinesRect(int first, int last) const {
  return QRect(0, LineTop(first), viewport()->width(), (last - first + 1) * lineHeight_);
}

void ReceiveTextView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Measure();
}

void ReceiveTextView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    measuredWidth_ = -1;
    columns_ = -1;  // measured anew even if the count stays
    Measure();
    viewport()->update();
  }
}

void ReceiveTextView::scrollContentsBy(int /*dx*/, int dy) {
  // Leaving or reaching the top moves the lines by the margin as well.
  const bool marginChanged = FirstShownLine() == 0 || FirstShownLine() + dy == 0;
  if (marginChanged || std::abs(dy) >= FullyVisibleLines()) {
    viewport()->update();
    return;
  }
  viewport()->scroll(0, dy * lineHeight_);
}

// --- painting ---------------------------------------------------------------------------------

qreal ReceiveTextView::AdvanceOf(QChar shown) const {
  const Glyph glyph = GlyphOf(shown);
  if (glyph.index != 0) return glyph.advance;
  if (!StandInName(shown).isEmpty()) return cellWidth_;
  return QFontMetricsF(font()).horizontalAdvance(shown);
}

qreal ReceiveTextView::ColumnX(const QString& shown, int column) const {
  qreal x = kMargin;
  for (qsizetype i = 0; i < column && i < shown.size(); ++i) x += AdvanceOf(shown[i]);
  return x;
}

bool ReceiveTextView::IsPaintedStandIn(QChar shown) const {
  return GlyphOf(shown).index == 0 && !StandInName(shown).isEmpty();
}

void ReceiveTextView::DrawStandIn(QPainter& painter, qreal left, qreal baselineY, QChar shown) {
  // The short name in letters of a pixel font three dots wide, two letters to a row, on a
  // tinted cell: a font's own letters squeezed into one column are a smudge at the sizes a
  // console is read at, while these stay sharp (larger ones are drawn where the column is).
  const QString name = StandInName(shown);
  const QColor ink = painter.pen().color();
  const QRectF cell(left, baselineY - ascent_, cellWidth_, lineHeight_ - 1);
  QColor tint = ink;
  tint.setAlphaF(0.18);
  painter.fillRect(cell, tint);
  const int rows = name.size() <= 2 ? 1 : 2;
  const int blockWidth = 2 * kPixelLetterWidth + 1;
  const int blockHeight = rows * kPixelLetterHeight + (rows - 1);
  const int dot = std::max(1, std::min(int(cell.width()) / blockWidth, int(cell.height()) / blockHeight));
  const qreal x0 = std::floor(cell.left() + (cell.width() - blockWidth * dot) / 2);
  const qreal y0 = std::floor(cell.top() + (cell.height() - blockHeight * dot) / 2);
  for (qsizetype i = 0; i < name.size(); ++i) {
    const quint16 letter = PixelLetter(name[i]);
    const qreal lx = x0 + (i % 2) * (kPixelLetterWidth + 1) * dot;
    const qreal ly = y0 + (i / 2) * (kPixelLetterHeight + 1) * dot;
    for (int row = 0; row < kPixelLetterHeight; ++row)
      for (int column = 0; column < kPixelLetterWidth; ++column)
        if (letter & (1u << (14 - (row * kPixelLetterWidth + column))))
          painter.fillRect(QRectF(lx + column * dot, ly + row * dot, dot, dot), ink);
  }
}

void ReceiveTextView::DrawLine(QPainter& painter, QPointF baseline, const QString& shown) {
  // Glyphs placed side by side from the font's own table: a fixed-pitch line needs no shaping,
  // which would cost more than drawing it. A line with a character the font lacks is laid out
  // by the text engine, which finds it in another font; stand-ins no font has are painted by
  // the view in either case.
  glyphs_.resize(shown.size());
  positions_.resize(shown.size());
  qsizetype drawn = 0;
  bool standIns = false;
  qreal x = baseline.x();
  for (qsizetype i = 0; i < shown.size(); ++i) {
    const Glyph glyph = GlyphOf(shown[i]);
    if (glyph.index == 0) {
      if (!StandInName(shown[i]).isEmpty()) {
        standIns = true;
        x += cellWidth_;
        continue;
      }
      DrawLineByTextEngine(painter, baseline, shown);
      return;
    }
    // A blank leaves no ink: only its room is kept (a third of a hex line, more of a frame's).
    if (shown[i] != u' ') {
      glyphs_[drawn] = glyph.index;
      positions_[drawn] = QPointF(x, baseline.y());
      ++drawn;
    }
    x += glyph.advance;
  }
  if (standIns) {
    x = baseline.x();
    for (const QChar c : shown) {
      if (IsPaintedStandIn(c)) DrawStandIn(painter, x, baseline.y(), c);
      x += AdvanceOf(c);
    }
  }
  if (drawn == 0) return;
  glyphs_.resize(drawn);
  positions_.resize(drawn);
  QGlyphRun run;
  run.setRawFont(rawFont_);
  run.setGlyphIndexes(glyphs_);
  run.setPositions(positions_);
  painter.drawGlyphRun(QPointF(0, 0), run);
}

void ReceiveTextView::DrawLineByTextEngine(QPainter& painter, QPointF baseline, const QString& shown) {
  // The stand-ins the view paints are blanks to the text engine, one column wide each.
  QString text = shown;
  bool standIns = false;
  for (QChar& c : text) {
    if (IsPaintedStandIn(c)) {
      c = u' ';
      standIns = true;
    }
  }
  painter.drawText(baseline, text);
  if (!standIns) return;
  const QFontMetricsF metrics(font());
  for (qsizetype i = 0; i < shown.size(); ++i)
    if (IsPaintedStandIn(shown[i]))
      DrawStandIn(painter, baseline.x() + metrics.horizontalAdvance(text.left(i)), baseline.y(), shown[i]);
}

ReceiveTextView::Glyph ReceiveTextView::GlyphOf(QChar c) const {
  const char16_t u = c.unicode();
  if (u >= glyphTable_.size()) glyphTable_.resize(u + 1);
  Glyph& glyph = glyphTable_[u];
  if (!glyph.known) {
    glyph.known = true;
    const QList<quint32> indexes = rawFont_.glyphIndexesForString(QString(c));
    glyph.index = indexes.isEmpty() ? 0 : indexes.front();
    if (glyph.index != 0) glyph.advance = rawFont_.advancesForGlyphIndexes(indexes).front().x();
  }
  return glyph;
}

QColor ReceiveTextView::TextColourOf(int line, const QPalette& colours) const {
  if (!lineColour_) return colours.color(QPalette::Text);
  int first = line;
  while (first > 0 && lines_[static_cast<size_t>(first - 1)].continues) --first;
  QString whole;
  for (int i = first; i < LineCount(); ++i) {
    whole += lines_[static_cast<size_t>(i)].shown;
    if (!lines_[static_cast<size_t>(i)].continues) break;
  }
  return lineColour_(whole).value_or(colours.color(QPalette::Text));
}

void ReceiveTextView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QRect area = event->rect();
  const int top = TopOffset();
  const int first = FirstShownLine() + std::max(0, (area.top() - top) / lineHeight_);
  const int last = std::min(LineCount() - 1,
                            FirstShownLine() + std::max(0, (area.bottom() - top) / lineHeight_));
  const Place start = std::min(anchor_, caret_);
  const Place end = std::max(anchor_, caret_);
  const QPalette& colours = palette();
  for (int y = area.top(); y <= area.bottom();) {
    // Bands that end where lines end, so that no band is taller than a line.
    const int lineEnd = y < top ? top : top + ((y - top) / lineHeight_ + 1) * lineHeight_;
    const int bottom = std::min(area.bottom() + 1, lineEnd);
    painter.fillRect(QRect(area.left(), y, area.width(), bottom - y), colours.brush(QPalette::Base));
    y = bottom;
  }
  PaintMarks(painter, first, last);
  QColor ink;
  for (int i = first; i <= last; ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    const int lineTop = LineTop(i);
    const QPointF baseline(kMargin, lineTop + ascent_);
    // A wrapped line's rows share its colour: asked once, not once a row (a long frame's line
    // is many rows, and the whole line is put together to ask).
    if (i == first || !lines_[static_cast<size_t>(i - 1)].continues) ink = TextColourOf(i, colours);
    painter.setPen(ink);
    DrawLine(painter, baseline, line.shown);
    if (start == end || i < start.line || i > end.line) continue;
    const int from = i == start.line ? start.column : 0;
    const int to = i == end.line ? end.column : static_cast<int>(line.shown.size());
    qreal left = ColumnX(line.shown, from);
    qreal right = ColumnX(line.shown, to);
    // A selected line break shows as a little room after the line, as in a text edit.
    if (i < end.line && !line.continues) right += QFontMetricsF(font()).averageCharWidth() / 2;
    if (right <= left) continue;
    const QRectF selected(left, lineTop, right - left, lineHeight_);
    painter.save();
    painter.setClipRect(selected, Qt::IntersectClip);
    painter.fillRect(selected, colours.brush(QPalette::Highlight));
    painter.setPen(colours.color(QPalette::HighlightedText));
    DrawLine(painter, baseline, line.shown);
    painter.restore();
  }
}

// --- selection --------------------------------------------------------------------------------

ReceiveTextView::Place ReceiveTextView::EndPlace() const {
  return Place{LineCount() - 1, static_cast<int>(lines_.back().shown.size())};
}

ReceiveTextView::Place ReceiveTextView::Clamped(Place place) const {
  if (place.line < 0) return Place{};
  if (place.line >= LineCount()) return EndPlace();
  const int length = static_cast<int>(lines_[static_cast<size_t>(place.line)].shown.size());
  place.column = std::clamp(place.column, 0, length);
  return place;
}

ReceiveTextView::Place ReceiveTextView::PlaceAt(QPoint point) const {
  const int offset = point.y() - TopOffset();
  const int row = offset < 0 ? -1 : offset / lineHeight_;
  const int line = std::clamp(FirstShownLine() + row, 0, LineCount() - 1);
  const QString& shown = lines_[static_cast<size_t>(line)].shown;
  qreal x = kMargin;
  int column = 0;
  // The nearer edge of the character under the pointer.
  while (column < shown.size()) {
    const qreal advance = AdvanceOf(shown[column]);
    if (point.x() < x + advance / 2) break;
    x += advance;
    ++column;
  }
  return Place{line, column};
}

void ReceiveTextView::MoveCaret(Place caret, bool keepAnchor) {
  const Place oldStart = std::min(anchor_, caret_);
  const Place oldEnd = std::max(anchor_, caret_);
  const Place oldCaret = caret_;
  caret_ = Clamped(caret);
  if (!keepAnchor) anchor_ = caret_;
  RepaintSelectionChange(oldStart, oldEnd);
  if (caret_ != oldCaret) TellCaretMoved();
}

void ReceiveTextView::RepaintSelectionChange(Place oldStart, Place oldEnd) {
  const Place start = std::min(anchor_, caret_);
  const Place end = std::max(anchor_, caret_);
  if (oldStart == oldEnd && start == end) return;
  const int first = oldStart == oldEnd ? start.line
                    : start == end     ? oldStart.line
                                       : std::min(oldStart.line, start.line);
  const int last = oldStart == oldEnd ? end.line
                   : start == end     ? oldEnd.line
                                      : std::max(oldEnd.line, end.line);
  const QRect changed = LinesRect(first, last) & viewport()->rect();
  if (!changed.isEmpty()) viewport()->update(changed);
}

void ReceiveTextView::ScrollCaretIntoView() {
  QScrollBar* bar = verticalScrollBar();
  if (caret_.line < bar->value())
    bar->setValue(caret_.line);
  else if (caret_.line >= bar->value() + FullyVisibleLines())
    bar->setValue(caret_.line - FullyVisibleLines() + 1);
}

QString ReceiveTextView::TextBetween(Place from, Place to) const {
  QString text;
  for (int i = from.line; i <= to.line && i < LineCount(); ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    const int begin = i == from.line ? from.column : 0;
    const int end = i == to.line ? to.column : static_cast<int>(line.shown.size());
    for (int c = begin; c < end; ++c) text.append(Arrived(line.shown[c]));
    if (i < to.line && !line.continues) text.append(u'\n');
  }
  return text;
}

void ReceiveTextView::CopyToSelectionClipboard() const {
  QClipboard* clipboard = QApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

// --- operator's input -------------------------------------------------------------------------

void ReceiveTextView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  const Place place = PlaceAt(event->position().toPoint());
  lastDragPoint_ = event->position().toPoint();
  // A press inside the selection may start dragging the selected text out, as in a text edit.
  if (!(event->modifiers() & Qt::ShiftModifier) && HasSelection() &&
      std::min(anchor_, caret_) <= place && place < std::max(anchor_, caret_)) {
    pressedInSelection_ = true;
    return;
  }
  MoveCaret(place, event->modifiers() & Qt::ShiftModifier);
  dragging_ = true;
}

void ReceiveTextView::mouseMoveEvent(QMouseEvent* event) {
  if (pressedInSelection_ && (event->buttons() & Qt::LeftButton)) {
    if ((event->position().toPoint() - lastDragPoint_).manhattanLength() < QApplication::startDragDistance())
      return;
    pressedInSelection_ = false;
    auto* drag = new QDrag(this);
    auto* selection = new QMimeData;
    selection->setText(SelectedText());  // what arrived, as a copy gives it
    drag->setMimeData(selection);
    drag->exec(Qt::CopyAction);
    return;
  }
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return;
  lastDragPoint_ = event->position().toPoint();
  MoveCaret(PlaceAt(lastDragPoint_), true);
  const bool outside = lastDragPoint_.y() < 0 || lastDragPoint_.y() >= viewport()->height();
  if (outside && !dragScroll_.isActive())
    dragScroll_.start();
  else if (!outside)
    dragScroll_.stop();
}

void ReceiveTextView::FollowDrag() {
  QScrollBar* bar = verticalScrollBar();
  if (lastDragPoint_.y() < 0)
    bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  else if (lastDragPoint_.y() >= viewport()->height())
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  MoveCaret(PlaceAt(lastDragPoint_), true);
}

void ReceiveTextView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && pressedInSelection_) {
    // A click in the selection that did not drag places the caret there.
    pressedInSelection_ = false;
    MoveCaret(PlaceAt(event->position().toPoint()), false);
    return;
  }
  if (event->button() != Qt::LeftButton || !dragging_) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  dragging_ = false;
  dragScroll_.stop();
  CopyToSelectionClipboard();
}

void ReceiveTextView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mouseDoubleClickEvent(event);
    return;
  }
  const Place place = PlaceAt(event->position().toPoint());
  const QString& shown = lines_[static_cast<size_t>(place.line)].shown;
  int from = std::min(place.column, static_cast<int>(shown.size()) - 1);
  if (from < 0) return;
  int to = from + 1;
  if (IsWordCharacter(shown[from])) {
    while (from > 0 && IsWordCharacter(shown[from - 1])) --from;
    while (to < shown.size() && IsWordCharacter(shown[to])) ++to;
  }
  Select(place.line, from, place.line, to);
  CopyToSelectionClipboard();
}

void ReceiveTextView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    Copy();
    return;
  }
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const bool far = event->modifiers() & Qt::ControlModifier;
  QScrollBar* bar = verticalScrollBar();
  if (extend) {
    Place caret = caret_;
    const auto lineLength = [this](int line) {
      return static_cast<int>(lines_[static_cast<size_t>(line)].shown.size());
    };
    switch (event->key()) {
      case Qt::Key_Left:
        if (caret.column > 0)
          --caret.column;
        else if (caret.line > 0)
          caret = Place{caret.line - 1, lineLength(caret.line - 1)};
        break;
      case Qt::Key_Right:
        if (caret.column < lineLength(caret.line))
          ++caret.column;
        else if (caret.line + 1 < LineCount())
          caret = Place{caret.line + 1, 0};
        break;
      case Qt::Key_Up: --caret.line; break;
      case Qt::Key_Down: ++caret.line; break;
      case Qt::Key_PageUp: caret.line -= FullyVisibleLines(); break;
      case Qt::Key_PageDown: caret.line += FullyVisibleLines(); break;
      case Qt::Key_Home: caret = far ? Place{} : Place{caret.line, 0}; break;
      case Qt::Key_End: caret = far ? EndPlace() : Place{caret.line, lineLength(caret.line)}; break;
      default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    MoveCaret(caret, true);
    ScrollCaretIntoView();
    return;
  }
  switch (event->key()) {
    case Qt::Key_Up: bar->triggerAction(QAbstractSlider::SliderSingleStepSub); break;
    case Qt::Key_Down: bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); break;
    case Qt::Key_PageUp: bar->triggerAction(QAbstractSlider::SliderPageStepSub); break;
    case Qt::Key_PageDown: bar->triggerAction(QAbstractSlider::SliderPageStepAdd); break;
    case Qt::Key_Home: bar->triggerAction(QAbstractSlider::SliderToMinimum); break;
    case Qt::Key_End: bar->triggerAction(QAbstractSlider::SliderToMaximum); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
  }
}

void ReceiveTextView::contextMenuEvent(QContextMenuEvent* event) {
  // Shown without a loop of its own, so received data and a closing window go on meanwhile.
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // The texts a text edit's own menu has, in the interface's language.
  QAction* copy = menu->addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy"),
                                  this, &ReceiveTextView::Copy);
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(HasSelection());
  menu->addSeparator();
  QAction* all = menu->addAction(QCoreApplication::translate("QWidgetTextControl", "Select All"),
                                 this, &ReceiveTextView::SelectAll);
  all->setShortcut(QKeySequence::SelectAll);
  all->setEnabled(EndPlace() != Place{});
  menu->popup(event->globalPos());
}

// --- marks ------------------------------------------------------------------------------------

void ReceiveTextView::SetMarks(std::vector<Mark> marks) {
  marks_ = std::move(marks);
  viewport()->update();
}

void ReceiveTextView::PaintMarks(QPainter& painter, int first, int last) const {
  if (marks_.empty() || first > last) return;
  static const QColor kMarkColour(255, 214, 90);
  int lineStart = OffsetOf(Place{first, 0});
  // The first mark that ends after the first painted line begins.
  auto mark = std::lower_bound(marks_.begin(), marks_.end(), lineStart,
                               [](const Mark& m, int offset) { return m.second <= offset; });
  for (int i = first; i <= last && mark != marks_.end(); ++i) {
    const Line& line = lines_[static_cast<size_t>(i)];
    const int length = static_cast<int>(line.shown.size());
    const int lineEnd = lineStart + length + (line.continues ? 0 : 1);
    for (auto m = mark; m != marks_.end() && m->first < lineEnd; ++m) {
      const int from = std::max(m->first, lineStart) - lineStart;
      const int to = std::min(m->second, lineStart + length) - lineStart;
      if (to <= from) continue;
      const qreal left = ColumnX(line.shown, from);
      painter.fillRect(QRectF(left, LineTop(i), ColumnX(line.shown, to) - left, lineHeight_), kMarkColour);
    }
    lineStart = lineEnd;
    while (mark != marks_.end() && mark->second <= lineStart) ++mark;
  }
}

}  // namespace velmora::console
