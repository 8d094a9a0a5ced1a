#pragma once
// The UUCP lock file of a serial device, as minicom, picocom, tio and the uucp tools keep it:
// `<lock folder>/LCK..<name>`, where <name> is the device's kernel name (the path after /dev/
// once symbolic links are resolved, with any further '/' written as '_': LCK..ttyUSB0,
// LCK..pts_3), holding the holder's process id as ten right-aligned ASCII digits and a newline.
//
// `Acquire` creates the file atomically (a private file linked into place, so a reader never
// sees it half-written). A file left by a process that no longer lives is removed and the lock
// taken; one held by a living process refuses with EBUSY and names that process; one held by
// this process gives no lock and no refusal (the device's exclusive open decides). Where the
// folder is missing or this user may not write it, the lock is skipped rather than the device
// refused: the files are a courtesy among programs, not a permission.
//
// The object removes its file when destroyed, if the file still holds this process's id.
// Not thread-safe; one object per open device.

#include <sys/types.h>

#include <memory>
#include <string>

namespace velmora::platform::posix {

inline constexpr const char* kUucpLockFolder = "/run/lock";

class UucpLock {
 public:
  struct Acquired {
    std::unique_ptr<UucpLock> lock;  // null when refused, or when no lock could be kept
    int error = 0;                   // EBUSY when another living process holds the lock
    std::string detail;              // names the holder when refused
  };
  static Acquired Acquire(const std::string& devicePath, const std::string& folder = kUucpLockFolder);

  ~UucpLock();
  UucpLock(const UucpLock&) = delete;
  UucpLock& operator=(const UucpLock&) = delete;

  const std::string& FilePath() const { return filePath_; }

  // The lock file's name for a device path: "LCK..ttyUSB0".
  static std::string FileName(const std::string& devicePath);
  // The process id a lock file holds (ASCII, or the old 4-byte binary form); 0 when unreadable.
  static pid_t ReadHolder(const std::string& filePath);

 private:
  explicit UucpLock(std::string filePath) : filePath_(std::move(filePath)) {}
  std::string filePath_;
};

}  // namespace velmora::platform::posix
