#pragma once
// The capture file: received data appended at its end, each chunk handed to the system at once,
// so the file holds everything received up to now whatever happens to the program. A file that
// is missing is created; one that exists is never cut, only added to.
//
// The file is one the operator chose, not one a link placed there by someone else leads to: a
// new file is made only where nothing is (never through a link, dangling or not), and an
// existing name is followed through a symbolic link only when the link is the operator's own
// (or the system's). What is appended to is a regular file, a FIFO (opened without waiting for
// its reader: with none, the open fails) or a character device; a folder, a socket or a disk is
// refused. So a console run as root in a folder others may write cannot be made to append to a
// file of their choosing.
//
// Failures are returned, not raised; the caller decides what the operator sees. User-interface
// thread only.

#include <string_view>

#include <QFile>
#include <QString>

namespace velmora::console {

class CaptureFile {
 public:
  enum class WriteResult {
    kWritten,
    kFailed,    // the system took not all of the bytes
    kUnlinked,  // written, but the file has been deleted: nobody will ever read it. Given
                // once per open, at the first write that finds it so; later ones say kWritten.
  };

  // Opens `path` for appending, creating it when missing. False when it cannot be opened.
  bool Open(const QString& path);
  bool IsOpen() const { return file_.isOpen(); }
  // All of `bytes` at the end of the file.
  WriteResult Write(std::string_view bytes);
  // False when no file was open or the system reported an error on closing.
  bool Close();

 private:
  QFile file_;
  bool unlinkedTold_ = false;
};

}  // namespace velmora::console
