#pragma once
// SessionLog: what happened on the line, written to one file per day in a folder the operator
// chose — the events of the port (opened, closed, lost, back, RTS up and down, line errors, the
// keying's time-outs) as timestamped lines, and the frame view's lines as they are.
//
// A session runs from Start (the port opened, a folder set) to Stop (the port closed by the
// operator or the program); a lost device does not end it, so its return is written too. The file
// of a day is `velmora-YYYY-MM-DD.log` in the folder, in UTF-8. An event line is handed to the
// system at once, with every line before it: the events are what the log is read for after
// something went wrong, the program's own end included. Frame lines, which a busy line brings by
// the hundred a second, are gathered and handed over together at the latest a quarter of a
// second later (at once when many wait), so that the log costs a write a pause rather than a
// write a frame. Every line goes to the file of the day its time falls on (a frame line's time is its
// first byte's), whatever order the lines come in: a frame that began before midnight is written
// whole into the old day's file even when it ends, or is written, after it. Files are appended
// to, never cut; a folder that is missing is made.
//
// A file that cannot be opened or written is told once per session through the failure
// reporter, with its path and the system's reason (Russian); the session goes on without that
// file (the next day's file is tried when the day changes). The clock is injectable for tests.
//
// User-interface thread only (it needs the thread's event loop to hand gathered lines over).

#include <functional>

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimer>

namespace velmora::console {

class SessionLog {
 public:
  using Clock = std::function<QDateTime()>;
  using FailureReporter = std::function<void(const QString& line)>;

  // `clock` gives the time of events written without one (null: the system's local time).
  explicit SessionLog(Clock clock = nullptr);
  ~SessionLog();
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  void SetFailureReporter(FailureReporter reporter) { reportFailure_ = std::move(reporter); }

  // Starts a session writing into `folder`; an empty folder starts none. A session already
  // running goes on (into the new folder from its next line when the folder differs).
  void Start(const QString& folder);
  void Stop();
  bool Active() const { return active_; }
  const QString& Folder() const { return folder_; }

  // An event line: "HH:MM:SS.mmm  text". Nothing outside a session.
  void WriteEvent(const QDateTime& time, const QString& text);
  // The same at the clock's present time.
  void WriteEvent(const QString& text);
  // A frame line as the frame view shows it, into the file of `firstByteTime`'s day.
  void WriteFrameLine(const QDateTime& firstByteTime, const QString& text);

  QDateTime Now() const;
  // The file that holds the lines of `day`.
  QString FilePathFor(QDate day) const;
  static QString FileNameFor(QDate day);

 private:
  void WriteLine(QDate day, const QString& line, bool atOnce);
  // Hands the gathered lines to the system.
  void WriteHeld();
  bool OpenFileFor(QDate day);
  void CloseFile();
  void Fail(const QString& path, int error);

  Clock clock_;
  FailureReporter reportFailure_;
  QString folder_;
  bool active_ = false;
  bool failureTold_ = false;
  int fd_ = -1;
  QDate fileDay_;    // whose file fd_ is
  QByteArray held_;  // lines for fd_ not yet handed to the system
  QTimer holdTimer_;
  QDate failedDay_;  // whose file failed in this session: not tried again
};

}  // namespace velmora::console
