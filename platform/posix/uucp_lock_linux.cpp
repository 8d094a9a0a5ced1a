#include "platform/posix/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/posix/device_holders.h"

namespace velmora::platform::posix {

namespace {

bool ProcessLives(pid_t pid) {
  // EPERM: it lives, under another user.
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::string HolderText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// Writes this process's id into a private file beside the lock; returns its path, or "" with
// errno set.
std::string WritePrivateFile(const std::string& folder) {
  std::string path = folder + "/LTMP.XXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) return {};
  const std::string text = HolderText(::getpid());
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeError = errno;
  // Readable by every user, so that other programs can tell who holds the device.
  ::fchmod(fd, 0644);
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    errno = writeError;
    return {};
  }
  return path;
}

std::string SystemMessage(int error) { return std::system_category().message(error); }

// Whether the folder refuses this user in a way that means "no locks kept here".
bool LockingUnavailable(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == EROFS;
}

}  // namespace

std::string UucpLock::FileName(const std::string& devicePath) {
  std::string name = devicePath;
  if (char* real = ::realpath(devicePath.c_str(), nullptr)) {
    name = real;
    std::free(real);
  }
  if (name.rfind("/dev/", 0) == 0) {
    name.erase(0, 5);
  } else if (const size_t slash = name.rfind('/'); slash != std::string::npos) {
    name.erase(0, slash + 1);
  }
  for (char& c : name)
    if (c == '/') c = '_';
  return "LCK.." + name;
}

pid_t UucpLock::ReadHolder(const std::string& filePath) {
  const int fd = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n == 4) {
    // The old binary form: the id as a native int.
    int binary = 0;
    std::memcpy(&binary, text, sizeof binary);
    return binary > 0 ? binary : 0;
  }
  if (n <= 0) return 0;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  if (end == text || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

UucpLock::Acquired UucpLock::Acquire(const std::string& devicePath, const std::string& folder) {
  const std::string lockPath = folder + "/" + FileName(devicePath);
  const std::string privatePath = WritePrivateFile(folder);
  if (privatePath.empty()) {
    const int error = errno;
    if (LockingUnavailable(error)) return {};
    return {nullptr, error, "cannot write the lock file " + lockPath + ": " + SystemMessage(error)};
  }

  Acquired result{nullptr, EBUSY, devicePath + " is being locked by another program (lock file " + lockPath + ")"};
  // A stale file is removed and the link tried again; stale files three times in a row mean
  // another program keeps replacing it, and the device counts as busy.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (::link(privatePath.c_str(), lockPath.c_str()) == 0) {
      result = {std::unique_ptr<UucpLock>(new UucpLock(lockPath)), 0, {}};
      break;
    }
    if (const int error = errno; error != EEXIST) {
      result = {};
      if (!LockingUnavailable(error))
        result = {nullptr, error, "cannot write the lock file " + lockPath + ": " + SystemMessage(error)};
      break;
    }
    const pid_t holder = ReadHolder(lockPath);
    if (holder == ::getpid()) {
      // Another port of this program: its own exclusive open decides, and its file stays.
      result = {};
      break;
    }
    if (ProcessLives(holder)) {
      result = {nullptr, EBUSY, devicePath + " is in use by " + DescribeHolder(holder) + " (lock file " + lockPath + ")"};
      break;
    }
    // Written by a process that has ended (or unreadable): nobody holds the device. One this
    // user may not remove (another user's, in a sticky folder) is passed over like a folder it
    // may not write: nobody holds the device, so it is no reason to refuse it.
    if (::unlink(lockPath.c_str()) != 0 && errno != ENOENT) {
      const int error = errno;
      if (LockingUnavailable(error)) {
        result = {};
        break;
      }
      result = {nullptr, error,
                "the lock file " + lockPath + " is left by an ended program and cannot be removed: " +
                    SystemMessage(error)};
      break;
    }
  }
  ::unlink(privatePath.c_str());
  return result;
}

UucpLock::~UucpLock() {
  // Only our own file: someone may have removed a lock they judged stale and taken it.
  if (ReadHolder(filePath_) == ::getpid()) ::unlink(filePath_.c_str());
}

}  // namespace velmora::platform::posix
