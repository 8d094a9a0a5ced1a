#pragma once
// The receive pane's widget: shown lines of a fixed-pitch font, each at most `Columns()`
// characters wide, painted by the widget itself.
//
// Text comes in at the end only, with line breaks as LF; the view wraps it at its own number of
// columns and keeps, per shown line, whether it ends in a line break that arrived or continues
// on the next. Characters that a fixed-pitch font would not show one column wide (the control
// characters, DEL, the code page's C1 control, the soft hyphen) are shown by visible stand-ins:
// the font's own picture of the character where it has one, otherwise the character's short
// name (NUL, ESC, BEL, HT …) in small pixel letters on a tinted cell one column wide, so that
// each reads apart from the others whatever fonts the system has.
//
// Cost: appending touches the last line and the lines it adds, nothing else. While the view
// stands at the end it follows the end by moving what is already painted and painting only the
// lines that come into view or changed; nothing is laid out again at a repaint but the lines
// being painted.
//
// The operator selects with the mouse (drag, Shift+click, double-click for a word) and the
// keyboard (Shift with the arrows, Home, End, Page Up and Page Down; Ctrl+A), copies with Ctrl+C
// or the context menu, and scrolls with the bar, the wheel and the keys. What is selected and
// copied is what arrived: the view's own wrapping is not in it, stand-ins are their characters
// again, line breaks are LF.
//
// Assistive technology reads the view as a read-only text, as it reads a plain text edit: its
// text as it arrived, the caret and the selection, by offsets in that text (line breaks count
// one, the view's own wrapping none), and hears of new text and caret moves while it listens.
//
// The number of columns follows the width and the font, rounded down to a whole number of wrap
// units (the width of one byte's hexadecimal or binary form, so that those wrap between
// bytes); a change wraps everything shown anew and is announced by `ColumnsChanged`. Used on the user-interface thread only.

#include <deque>
#include <utility>
#include <functional>
#include <optional>
#include <vector>

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QString>
#include <QStringView>
#include <QTimer>

class QPainter;

namespace velmora::console {

class ReceiveTextView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Blank space between the text and the view's edges, as a plain text edit leaves it.
  static constexpr int kMargin = 4;

  explicit ReceiveTextView(QWidget* parent = nullptr);

  // The character that shows `c` one column wide, and back.
  static QChar Shown(QChar c);
  static QChar Arrived(QChar shown);
  // The short name painted for a stand-in the font lacks ("ESC" for ESC's); empty for a
  // character that is not a stand-in.
  static QString StandInName(QChar shown);

  // Adds `text` (line breaks as LF) at the end.
  void Append(QStringView text);
  void Clear();

  int Columns() const { return columns_; }
  // Lines hold a multiple of `unit` characters (1: any number) when the width allows one.
  void SetWrapUnit(int unit);
  int WrapUnit() const { return wrapUnit_; }
  // Shown lines, the last one included even when empty.
  int LineCount() const { return static_cast<int>(lines_.size()); }
  QString ShownLine(int index) const { return lines_.at(static_cast<size_t>(index)).shown; }
  int LineHeight() const { return lineHeight_; }
  // Lines the view shows whole at its present height.
  int PageLines() const { return FullyVisibleLines(); }

  // What the view holds, and the part the operator selected, as it arrived.
  QString toPlainText() const;
  QString SelectedText() const;
  bool HasSelection() const { return anchor_ != caret_; }
  void SelectAll();
  // Selects from column `fromColumn` of shown line `fromLine` up to (not including) column
  // `toColumn` of shown line `toLine`.
  void Select(int fromLine, int fromColumn, int toLine, int toColumn);
  void Copy() const;

  // The caret and the selection as offsets in what arrived (toPlainText).
  int CaretOffset() const { return OffsetOf(caret_); }
  void SelectionOffsets(int& start, int& end) const;
  // Selects from `anchor` to `caret` (offsets); equal ones place the caret only.
  void SelectOffsets(int anchor, int caret);
  // Where the character at `offset` stands in the viewport, and the offset under `point`.
  QRect CharacterRect(int offset) const;
  int OffsetAt(QPoint point) const { return OffsetOf(PlaceAt(point)); }
  void ScrollToOffset(int offset);

  // Marks painted behind the text (the search's matches): [start, end) offsets in what arrived,
  // in order of start. Emptied with the view.
  using Mark = std::pair<int, int>;
  void SetMarks(std::vector<Mark> marks);
  const std::vector<Mark>& Marks() const { return marks_; }
  // The colour of a line's text other than the palette's, from the whole line as shown (its
  // wrapped parts joined); none: the palette's. Null: every line in the palette's colour.
  using LineColour = std::function<std::optional<QColor>(const QString& line)>;
  void SetLineColour(LineColour colour) {
    lineColour_ = std::move(colour);
    viewport()->update();
  }

 signals:
  void ColumnsChanged();
  // Text was added or the view emptied.
  void TextChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct Line {
    QString shown;
    bool continues = false;  // wrapped by the view rather than ended by a line break
  };
  // A place between two characters: before column `column` of shown line `line`.
  struct Place {
    int line = 0;
    int column = 0;
    friend bool operator==(const Place&, const Place&) = default;
    friend auto operator<=>(const Place&, const Place&) = default;
  };

  int OffsetOf(Place place) const;
  Place PlaceOf(int offset) const;
  void TellCaretMoved();
  void Measure();
  void UpdateScrollRange();
  int FullyVisibleLines() const;
  int FirstShownLine() const;
  int TopOffset() const;
  int LineTop(int line) const;
  QRect LinesRect(int first, int last) const;
  Place PlaceAt(QPoint point) const;
  Place Clamped(Place place) const;
  Place EndPlace() const;
  void MoveCaret(Place caret, bool keepAnchor);
  void RepaintSelectionChange(Place oldStart, Place oldEnd);
  void ScrollCaretIntoView();
  void CopyToSelectionClipboard() const;
  QString TextBetween(Place from, Place to) const;
  qreal ColumnX(const QString& shown, int column) const;
  qreal AdvanceOf(QChar shown) const;
  void FollowDrag();

  struct Glyph {
    bool known = false;
    quint32 index = 0;  // none in the font
    qreal advance = 0;
  };
  Glyph GlyphOf(QChar c) const;
  // A stand-in the font has no glyph for: painted by the view itself.
  bool IsPaintedStandIn(QChar shown) const;
  void DrawLine(QPainter& painter, QPointF baseline, const QString& shown);
  void DrawStandIn(QPainter& painter, qreal left, qreal baselineY, QChar shown);
  void DrawLineByTextEngine(QPainter& painter, QPointF baseline, const QString& shown);

  void PaintMarks(QPainter& painter, int first, int last) const;
  std::vector<Mark> marks_;

  std::deque<Line> lines_{Line{}};
  int columns_ = 80;
  int wrapUnit_ = 1;
  int lineHeight_ = 1;
  int ascent_ = 0;
  int measuredWidth_ = -1;
  Place anchor_;
  Place caret_;
  bool dragging_ = false;            // selecting with the mouse
  bool pressedInSelection_ = false;  // may become a drag of the selected text
  QPoint lastDragPoint_;
  QTimer dragScroll_;
  QFont measuredFont_;
  QRawFont rawFont_;
  qreal cellWidth_ = 1;  // one column: the font is fixed-pitch
  mutable std::vector<Glyph> glyphTable_;  // by character
  QList<quint32> glyphs_;          // of the line being drawn
  QList<QPointF> positions_;
  LineColour lineColour_;
  QColor TextColourOf(int line, const QPalette& colours) const;
};

}  // namespace velmora::console
