#pragma once
// The receive pane's widget: shown lines of a fixed-pitch font, each at most `Columns()`
// characters wide, painted by the widget itself.
//
// Text comes in at the end only, with line breaks as LF; the view wraps it at its own number of
// columns and keeps, per shown line, whether it ends in a line break that arrived or continues
// on the next. Characters that a fixed-pitch font would not show one column wide (the control
// characters, DEL, the code page's C1 control, the soft hyphen) are shown by visible stand-ins.
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
// The number of columns follows the width and the font; a change wraps everything shown anew
// and is announced by `ColumnsChanged`. Used on the user-interface thread only.

#include <deque>
#include <vector>

#include <QAbstractScrollArea>
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

  // Adds `text` (line breaks as LF) at the end.
  void Append(QStringView text);
  void Clear();

  int Columns() const { return columns_; }
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

 signals:
  void ColumnsChanged();

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
  void FollowDrag();

  struct Glyph {
    bool known = false;
    quint32 index = 0;  // none in the font
    qreal advance = 0;
  };
  Glyph GlyphOf(QChar c);
  void DrawLine(QPainter& painter, QPointF baseline, const QString& shown);

  std::deque<Line> lines_{Line{}};
  int columns_ = 80;
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
  std::vector<Glyph> glyphTable_;  // by character
  QList<quint32> glyphs_;          // of the line being drawn
  QList<QPointF> positions_;
};

}  // namespace velmora::console
