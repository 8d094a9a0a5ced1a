#pragma once
// The capture file: received data appended at its end, each chunk handed to the system at once,
// so the file holds everything received up to now whatever happens to the program. A file that
// is missing is created; one that exists is never cut, only added to.
//
// Failures are returned, not raised; the caller decides what the operator sees. User-interface
// thread only.

#include <string_view>

#include <QFile>
#include <QString>

namespace velmora::console {

class CaptureFile {
 public:
  // Opens `path` for appending, creating it when missing. False when it cannot be opened.
  bool Open(const QString& path);
  bool IsOpen() const { return file_.isOpen(); }
  // All of `bytes` at the end of the file. False when the system took not all of them.
  bool Write(std::string_view bytes);
  // False when no file was open or the system reported an error on closing.
  bool Close();

 private:
  QFile file_;
};

}  // namespace velmora::console
