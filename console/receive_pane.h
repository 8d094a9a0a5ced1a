#pragma once
// The receive pane: received chunks appended at the end, line breaks as the pane shows them,
// and the pane's line limit.
//
// Chunks join seamlessly; CR, LF and CR LF each make one line break, also when a CR LF is split
// between two chunks. After every change the pane is emptied completely once it holds more than
// `kLineLimit` lines, wrapped lines counted separately and an empty last line not counted.
//
// Cost: the pane's view (ReceiveTextView) wraps text itself at its number of fixed-pitch
// columns, so the line count is plain arithmetic and a chunk changes only the last shown line
// and adds new ones; nothing already shown is laid out again, whatever the pane holds. The text
// reaches the view at most once per display frame (twenty a second, ten while each frame brings
// more than a screenful); the view follows the end while it stands at the end.
//
// What the operator selects and copies is what arrived (see ReceiveTextView).
//
// Used on the user-interface thread only.

#include <cstdint>

#include <QObject>
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

#include "console/receive_view.h"

namespace velmora::console {

class ReceivePane : public QObject {
  Q_OBJECT

 public:
  static constexpr int kLineLimit = 2000;

  // Sets up `view` for this use (the system's fixed-pitch font).
  explicit ReceivePane(ReceiveTextView* view);

  void Append(const QString& chunk);
  // `line` on a line of its own.
  void AppendLine(const QString& line);
  void Clear();

  // Lines as the pane counts them.
  int64_t LineCount() const;
  // Characters per shown line at the pane's present width.
  int Columns() const { return view_->Columns(); }
  // Puts what waits into the widget now.
  void Flush();
  // How long text waits for the next frame: longer while every frame brings a screenful.
  int FrameIntervalMs() const { return flushTimer_.interval(); }

  // What the pane holds as it arrived (line breaks as LF).
  QString Text() const;

 private:
  void Count(QStringView text);
  int64_t LinesOf(int64_t length) const;
  void Recount();

  ReceiveTextView* view_;
  QTimer flushTimer_;
  QString pending_;  // arrived, not yet shown; line breaks as LF
  bool lastWasCr_ = false;
  int64_t completeLines_ = 0;  // lines of every logical line but the last
  int64_t tailLength_ = 0;     // characters in the last logical line
  int64_t linesAtLastFlush_ = 0;
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
