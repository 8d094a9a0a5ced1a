#pragma once
// The UUCP lock file of a serial device, as minicom, picocom, tio and the uucp tools keep it:
// `<lock folder>/LCK..<name>`, where <name> is the device's kernel name (the path after /dev/
// once symbolic links are resolved, with any further '/' written as '_': LCK..ttyUSB0,
// LCK..pts_3), holding the holder's process id as ten right-aligned ASCII digits and a newline.
//
// `Acquire` creates the file atomically (a private file linked into place, so a reader never
// sees it half-written). A file left by a process that no longer lives is replaced in one
// rename while the old file is flocked, so of several programs taking over the same stale
// lock at once exactly one gets it; a file without a process id counts as left behind only
// once it is a few seconds old (until then its program may still be writing it). One held by
// a living process (of any user) refuses with EBUSY and names that process; one held by this
// process gives no lock and no refusal (the device's exclusive open decides). Anything in the
// lock's place that is not a regular file (a FIFO, a link, a folder) is never opened for
// reading in a way that can block or follow it: it refuses the device with EBUSY and a text
// naming the file. Where the folder is missing or this user may not write it, the lock is
// skipped rather than the device refused: the files are a courtesy among programs, not a
// permission.
//
// The private files (LTMP.<pid>.*) never outlive `Acquire`; those a killed process left behind
// are removed by the next `Acquire` in the folder.
//
// The object removes its file when destroyed, if the file is still the one it made. Texts are
// the operator's (Russian). Not thread-safe; one object per open device.

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

namespace velmora::platform::posix {

inline constexpr const char* kUucpLockFolder = "/run/lock";

class UucpLock {
 public:
  struct Acquired {
    std::unique_ptr<UucpLock> lock;  // null when refused, or when no lock could be kept
    int error = 0;                   // EBUSY when another living process holds the lock
    std::string detail;              // names the holder, or the file, when refused
  };
  static Acquired Acquire(const std::string& devicePath, const std::string& folder = kUucpLockFolder);

  ~UucpLock();
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  const std::string& FilePath() const { return filePath_; }

  // The lock file's name for a device path: "LCK..ttyUSB0".
  static std::string FileName(const std::string& devicePath);

  // What a lock file says, read without blocking and without following a link.
  struct Reading {
    enum class State {
      Missing,     // no such file
      Holder,      // `pid` holds it
      Unreadable,  // a regular file with no process id in it (empty, garbage)
      NotAFile,    // a FIFO, link, folder, device or socket in the file's place
      Failed,      // it could not be opened or read: `error`
    };
    State state = State::Missing;
    pid_t pid = 0;
    int error = 0;
    std::string kind;  // for NotAFile: what is there, in the operator's words
  };
  static Reading ReadLockFile(const std::string& filePath);
  // The process id a lock file holds; 0 for anything else.
  static pid_t ReadHolder(const std::string& filePath);
  // The process id in a lock file's bytes: ASCII digits (leading blanks allowed, anything after
  // them ignored), or the old form, a native 4-byte int. Four bytes of digits, blanks and line
  // ends are text ("301\n"): the int of any process id has a zero high byte, which text never
  // holds. 0 when there is none.
  static pid_t ParseHolder(std::string_view bytes);

  // Tests only: a pause between judging a lock file stale and replacing it, where two programs
  // taking over the same file would meet. Set before any Acquire runs.
  static void SetPauseBeforeTakeover(void (*pause)());

 private:
  UucpLock(std::string filePath, dev_t device, ino_t inode)
      : filePath_(std::move(filePath)), device_(device), inode_(inode) {}
  std::string filePath_;
  dev_t device_;
  ino_t inode_;
};

}  // namespace velmora::platform::posix
