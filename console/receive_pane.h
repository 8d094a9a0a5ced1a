#pragma once
// The receive pane: received chunks appended at the end, line breaks as the pane shows them,
// and the pane's line limit.
//
// Chunks join seamlessly; CR, LF and CR LF each make one line break, also when a CR LF is split
// between two chunks. After every change the pane is emptied completely once it holds more than
// `kLineLimit` lines, wrapped lines counted separately and an empty last line not counted.
//
// Cost: the pane wraps text itself, at the width's number of fixed-pitch columns, into one
// text block per shown line. A chunk therefore changes only the last line and adds new ones;
// nothing already shown is laid out again, whatever the pane holds, and the line count is
// plain arithmetic. Characters that a fixed-pitch font would not show one column wide (TAB,
// VT, FF and the other control characters, the soft hyphen) are shown by visible stand-ins,
// so that the count holds for every byte. The text reaches the widget at most once per display
// frame; the view follows the end while it stands at the end.
//
// What the operator selects and copies is what arrived: the pane's own wrapping is not in it,
// stand-ins are their characters again, line breaks are LF.
//
// Used on the user-interface thread only.

#include <cstdint>
#include <vector>

#include <QObject>
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

class QMimeData;
class QTextCursor;

namespace velmora::console {

class ReceivePane;

// The receive pane's widget: copies and drags what arrived rather than what is shown.
class ReceiveTextView : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit ReceiveTextView(QWidget* parent = nullptr);

 protected:
  QMimeData* createMimeDataFromSelection() const override;

 private:
  friend class ReceivePane;
  const ReceivePane* pane_ = nullptr;
};

class ReceivePane : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLineLimit = 2000;

  // Sets up `view` for this use (read-only, fixed-pitch font). A ReceiveTextView also copies
  // what arrived; a plain text edit copies what it shows.
  explicit ReceivePane(QPlainTextEdit* view);

  void Append(const QString& chunk);
  // `line` on a line of its own.
  void AppendLine(const QString& line);
  void Clear();

  // Lines as the pane counts them.
  int64_t LineCount() const;
  // Characters per shown line at the pane's present width.
  int Columns() const { return columns_; }
  // Puts what waits into the widget now.
  void Flush();

  // What the pane holds as it arrived (line breaks as LF), and the part `selection` covers.
  QString Text() const;
  QString TextOf(const QTextCursor& selection) const;

  // The character that shows `c` one column wide, and back.
  static QChar Shown(QChar c);
  static QChar Arrived(QChar shown);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Count(QStringView text);
  int64_t LinesOf(int64_t length) const;
  void Measure();
  void Rewrap();

  QPlainTextEdit* view_;
  QWidget* viewport_;
  QTimer flushTimer_;
  QString pending_;  // arrived, not yet shown; line breaks as LF
  bool clearPending_ = false;
  bool lastWasCr_ = false;
  int64_t completeLines_ = 0;  // lines of every logical line but the last
  int64_t tailLength_ = 0;     // characters in the last logical line
  // Per shown line but the last: whether it continues on the next (the pane's own wrap) or
  // ends with a line break that arrived.
  std::vector<bool> wrapsOn_;
  int shownTail_ = 0;  // characters on the last shown line
  int columns_ = 80;
  int measuredWidth_ = -1;
};

// Empties a plain text pane completely after any change that leaves it with more than `limit`
// lines, counted exactly as the pane lays them out (wrapped lines included, an empty last line
// not). User-interface thread only.
class PaneLineLimit : public QObject {
  Q_OBJECT

 public:
  PaneLineLimit(QPlainTextEdit* view, int limit);
  int LineCount() const;

 private:
  void Check();

  QPlainTextEdit* view_;
  int limit_;
};

}  // namespace velmora::console
