#pragma once
// FileSender: a file sent character by character, one character per transmit-empty event. It
// keeps the file's name, its content, how far the line has confirmed it and whether a send runs,
// and words the lines the operator sees about it; the window writes the characters to the port,
// shows the lines and the progress, and owns the buttons. User-interface thread only.

#include <cstdint>

#include <QString>

#include "console/file_send.h"

namespace velmora::console {

class FileSender {
 public:
  enum class StartResult {
    kStarted,     // the first character is ready
    kEmpty,       // nothing to send; the operator is told why nothing happens
    kReadFailed,  // unreadable, or too large to count
  };

  // Reads `path` whole. A file that cannot be found raises the system's error (the caller's
  // error display shows it); the name is kept all the same, for the next choice.
  StartResult Start(const QString& path);
  // The line that shows what Start found.
  QString StartLine(StartResult result) const;

  bool Active() const { return active_; }
  // The file last chosen, for the next dialog; empty until one is.
  const QString& FileName() const { return fileName_; }
  int Percent() const { return progress_.Percent(); }

  // The next character of the file to write; only while Active().
  char NextCharacter() { return progress_.content[progress_.nextIndex++]; }
  // One character confirmed by the line; true when it was the last.
  bool Confirm();
  // How the send came out (finished, or stopped how far in), empty when none was started; then
  // the send is over and its content dropped. A character still in flight is the last.
  QString Finish();
  // As at window creation: no send, no file chosen.
  void Forget();

 private:
  bool ReadWhole(const QString& path, uint64_t size);

  QString fileName_;
  FileSendProgress progress_;
  bool active_ = false;
};

}  // namespace velmora::console
