#pragma once
// TLauncher starts the external programs of the console, and two file queries serve the file
// commands of the main window.
//
// Programs are started directly, never through a shell and never in a new terminal window:
// the program, its arguments and its working directory pass exactly as given. A program that
// cannot be started is not reported (the caller sees only that nothing started).
//
// All of it runs on the user-interface thread. Exec returns at once; ExecuteAndWait blocks the
// calling thread, with no time limit, until the program ends. FileSize64 raises EOSError with
// the system's number and text; nothing else raises.

#include <cstdint>
#include <stdexcept>

#include <QString>

namespace velmora::dialogs {

// A failed query of the operating system. The message is "System Error.  Code: N.\r\n" and the
// system's text for N, or "A call to an OS function failed" when there is no number.
class EOSError : public std::runtime_error {
 public:
  explicit EOSError(int errorCode);
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

class TLauncher {
 public:
  // Starts `FileName` (a path, or a name looked up in PATH) with `Parameters` as its one
  // argument — blanks and all, no argument when empty — in the working directory `Directory`
  // (the caller's own when empty), and does not wait. An empty `FileName` starts nothing.
  // True when the program started.
  bool Exec(const QString& FileName, const QString& Parameters, const QString& Directory);

  // Splits `CommandLine` into words as a shell would (dialogs/shell_words.h), starts the
  // program the first word names with the others as its arguments, in the caller's working
  // directory, and waits for it to end. A line that names no program, or whose program cannot
  // be started, returns at once. `Visibility` (a window's show state) has no meaning here.
  // The program's exit code, or -1 when nothing ran to its end.
  int ExecuteAndWait(const QString& CommandLine, int16_t Visibility = 0);
};

// True when `Path` names an existing entry of any kind (file, directory, device, a link even
// when it leads nowhere). Never raises; a path that cannot be looked into is reported absent.
bool PathExists(const QString& Path);

// The size in bytes of the file `Path`; 0 for a directory. Raises EOSError when the file
// cannot be found (code 2 for a missing file).
uint64_t FileSize64(const QString& Path);

}  // namespace velmora::dialogs
