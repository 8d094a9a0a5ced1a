#pragma once
// The receive pane's content: received chunks appended at the end, line breaks as the pane
// shows them, and the pane's line limit.
//
// Chunks join seamlessly; CR, LF and CR LF each make one line break, also when a CR LF is split
// between two chunks. After every change the pane is emptied completely once it holds more than
// `kLineLimit` lines, wrapped lines counted separately and an empty last line not counted. The
// count is kept by arithmetic on a fixed-pitch font wrapped at any character, so it costs
// nothing per chunk; the text reaches the widget at most once per display frame, so a fast line
// never makes the window lay out the same text again and again. The view follows the end while
// it stands at the end.
//
// Used on the user-interface thread only.

#include <cstdint>

#include <QObject>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

namespace velmora::console {

class ReceivePane : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLineLimit = 2000;

  // Sets up `view` for this use (read-only, fixed-pitch font, wrapped at any character).
  explicit ReceivePane(QPlainTextEdit* view);

  void Append(const QString& chunk);
  // `line` on a line of its own.
  void AppendLine(const QString& line);
  void Clear();

  // Lines as the pane counts them.
  int64_t LineCount() const;
  // Characters per wrapped line at the pane's present width.
  int Columns() const { return columns_; }
  // Puts what waits into the widget now.
  void Flush();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Count(QStringView text);
  int64_t LinesOf(int64_t length) const;
  void Measure();

  QPlainTextEdit* view_;
  QWidget* viewport_;
  QTimer flushTimer_;
  QString pending_;
  bool clearPending_ = false;
  bool lastWasCr_ = false;
  int64_t completeLines_ = 0;  // lines of every block but the last
  int64_t tailLength_ = 0;     // characters in the last block
  int columns_ = 80;
  int measuredWidth_ = -1;
};

// Empties a plain text pane completely after any change that leaves it with more than `limit`
// lines, counted exactly as the pane lays them out (wrapped lines included, an empty last line
// not). Layouts are kept per block by the pane, so a change costs a walk over the blocks and the
// layout of the changed ones only. User-interface thread only.
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
