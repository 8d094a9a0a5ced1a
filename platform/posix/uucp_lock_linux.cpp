#include "platform/posix/uucp_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/posix/device_holders.h"

namespace velmora::platform::posix {

namespace {

// No process id reaches the kernel's PID_MAX_LIMIT (2^22 on 64-bit systems).
constexpr long kProcessIdLimit = 4L * 1024 * 1024;

// How long a lock file without a process id may still be being written by its program.
constexpr long long kSettlingSeconds = 2;

void (*pauseBeforeTakeover)() = nullptr;

bool ProcessLives(pid_t pid) {
  // EPERM: it lives, under another user.
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool ProcessEnded(pid_t pid) { return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH; }

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

 private:
  int fd_;
};

std::string HolderText(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

constexpr const char* kPrivatePrefix = "LTMP.";

// Writes this process's id into a private file beside the lock; returns its path, or "" with
// errno set. The name carries the id, so that a file a killed process leaves can be told stale
// without opening it.
std::string WritePrivateFile(const std::string& folder) {
  std::string path = folder + "/" + kPrivatePrefix + std::to_string(::getpid()) + ".XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return {};
  const std::string text = HolderText(::getpid());
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int writeError = written ? 0 : (errno != 0 ? errno : ENOSPC);
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

// Private files of processes that have ended (ours, and uucp's LTMP.<pid>): nobody will link or
// remove them any more.
void RemoveLeftPrivateFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  const size_t prefix = std::strlen(kPrivatePrefix);
  while (dirent* e = ::readdir(dir)) {
    if (std::strncmp(e->d_name, kPrivatePrefix, prefix) != 0) continue;
    // The id is in the name (LTMP.<pid>.*, LTMP.<pid>) or, in older files, only inside.
    const std::string_view rest(e->d_name + prefix);
    const size_t digits = std::min(rest.find_first_not_of("0123456789"), rest.size());
    pid_t pid = 0;
    if (digits > 0 && (digits == rest.size() || rest[digits] == '.'))
      pid = UucpLock::ParseHolder(rest.substr(0, digits));
    else
      pid = UucpLock::ReadHolder(folder + "/" + e->d_name);
    if (ProcessEnded(pid)) ::unlinkat(::dirfd(dir), e->d_name, 0);
  }
  ::closedir(dir);
}

bool WrittenJustNow(const struct stat& st) {
  timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const long long age = static_cast<long long>(now.tv_sec) - static_cast<long long>(st.st_mtim.tv_sec);
  return age < kSettlingSeconds && age > -kSettlingSeconds;
}

// Whether the folder refuses this user in a way that means "no locks kept here".
bool LockingUnavailable(int error) {
  return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM || error == EROFS;
}

std::string NodeKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "именованный канал";
  if (S_ISLNK(mode)) return "символическая ссылка";
  if (S_ISDIR(mode)) return "папка";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "файл устройства";
  if (S_ISSOCK(mode)) return "сокет";
  return "не обычный файл";
}

// Opens a lock file for reading. O_NONBLOCK: a FIFO in its place opens at once instead of
// waiting for a writer; O_NOFOLLOW: a link is not followed to whatever it names. Only a regular
// file is read.
UucpLock::Reading OpenLockFile(const std::string& path, int* fdOut, struct stat* st) {
  UucpLock::Reading r;
  *fdOut = -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    struct stat lst {};
    if (error == ENOENT) {
      r.state = UucpLock::Reading::State::Missing;
    } else if (::lstat(path.c_str(), &lst) == 0 && !S_ISREG(lst.st_mode)) {
      r.state = UucpLock::Reading::State::NotAFile;
      r.kind = NodeKind(lst.st_mode);
    } else {
      r.state = UucpLock::Reading::State::Failed;
      r.error = error;
    }
    return r;
  }
  if (::fstat(fd, st) != 0) {
    r.state = UucpLock::Reading::State::Failed;
    r.error = errno;
    ::close(fd);
    return r;
  }
  if (!S_ISREG(st->st_mode)) {
    r.state = UucpLock::Reading::State::NotAFile;
    r.kind = NodeKind(st->st_mode);
    ::close(fd);
    return r;
  }
  *fdOut = fd;
  return r;
}

UucpLock::Reading ReadOpenedLockFile(int fd) {
  UucpLock::Reading r;
  char text[64];
  size_t n = 0;
  while (n < sizeof text) {
    const ssize_t got = ::pread(fd, text + n, sizeof text - n, static_cast<off_t>(n));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      r.state = UucpLock::Reading::State::Failed;
      r.error = errno;
      return r;
    }
    if (got == 0) break;
    n += static_cast<size_t>(got);
  }
  r.pid = UucpLock::ParseHolder(std::string_view(text, n));
  r.state = r.pid > 0 ? UucpLock::Reading::State::Holder : UucpLock::Reading::State::Unreadable;
  return r;
}

std::string NotAFileText(const std::string& devicePath, const std::string& lockPath,
                         const std::string& kind) {
  return "на месте файла блокировки " + lockPath + " находится " + kind +
         ", а не файл с номером процесса: занято ли устройство " + devicePath +
         ", по нему не понять; если устройство свободно, удалите " + lockPath;
}

std::string CannotWriteText(const std::string& lockPath, int error) {
  return "не удаётся записать файл блокировки " + lockPath + ": " + SystemErrorText(error);
}

std::string CannotReadText(const std::string& lockPath, int error) {
  return "не удаётся прочитать файл блокировки " + lockPath + ": " + SystemErrorText(error);
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

pid_t UucpLock::ParseHolder(std::string_view bytes) {
  auto isText = [](char c) {
    return (c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n' || c == '\r';
  };
  bool allText = true;
  for (char c : bytes) allText = allText && isText(c);
  if (bytes.size() == 4 && !allText) {
    int32_t binary = 0;
    std::memcpy(&binary, bytes.data(), sizeof binary);
    return binary > 0 && binary < kProcessIdLimit ? static_cast<pid_t>(binary) : 0;
  }
  size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
  long pid = 0;
  size_t digits = 0;
  for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i, ++digits) {
    pid = pid * 10 + (bytes[i] - '0');
    if (pid >= kProcessIdLimit) return 0;
  }
  return digits > 0 && pid > 0 ? static_cast<pid_t>(pid) : 0;
}

void UucpLock::SetPauseBeforeTakeover(void (*pause)()) { pauseBeforeTakeover = pause; }

UucpLock::Reading UucpLock::ReadLockFile(const std::string& filePath) {
  int fd = -1;
  struct stat st {};
  Reading opened = OpenLockFile(filePath, &fd, &st);
  if (fd < 0) return opened;
  Descriptor held(fd);
  return ReadOpenedLockFile(fd);
}

pid_t UucpLock::ReadHolder(const std::string& filePath) {
  const Reading r = ReadLockFile(filePath);
  return r.state == Reading::State::Holder ? r.pid : 0;
}

UucpLock::Acquired UucpLock::Acquire(const std::string& devicePath, const std::string& folder) {
  const std::string lockPath = folder + "/" + FileName(devicePath);
  RemoveLeftPrivateFiles(folder);
  const std::string privatePath = WritePrivateFile(folder);
  if (privatePath.empty()) {
    const int error = errno;
    if (LockingUnavailable(error)) return {};
    return {nullptr, error, CannotWriteText(lockPath, error)};
  }
  // Gone on every way out: renamed into place, or removed here.
  struct RemovePrivateFile {
    const std::string& path;
    ~RemovePrivateFile() { ::unlink(path.c_str()); }
  } removePrivateFile{privatePath};
  struct stat mine {};
  if (::stat(privatePath.c_str(), &mine) != 0) {
    const int error = errno;
    return {nullptr, error, CannotWriteText(lockPath, error)};
  }
  auto taken = [&] {
    return Acquired{std::unique_ptr<UucpLock>(new UucpLock(lockPath, mine.st_dev, mine.st_ino)), 0, {}};
  };
  auto beingTaken = [&] {
    return Acquired{nullptr, EBUSY,
                    "устройство " + devicePath + " сейчас занимает другая программа (файл блокировки " +
                        lockPath + ")"};
  };

  // A lock file that vanishes or is replaced between the steps is looked at again; three times
  // in a row means other programs keep changing it, and the device counts as busy.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (::link(privatePath.c_str(), lockPath.c_str()) == 0) return taken();
    if (const int error = errno; error != EEXIST) {
      if (LockingUnavailable(error)) return {};
      return {nullptr, error, CannotWriteText(lockPath, error)};
    }

    int fd = -1;
    struct stat seen {};
    const Reading opened = OpenLockFile(lockPath, &fd, &seen);
    if (fd < 0) {
      switch (opened.state) {
        case Reading::State::Missing: continue;
        case Reading::State::NotAFile:
          return {nullptr, EBUSY, NotAFileText(devicePath, lockPath, opened.kind)};
        default:
          // Another user's file this one may not read: like a folder it may not write, no
          // reason to refuse the device; its exclusive open still guards it.
          if (LockingUnavailable(opened.error)) return {};
          return {nullptr, opened.error, CannotReadText(lockPath, opened.error)};
      }
    }
    Descriptor held(fd);
    // Whoever replaces a stale file holds its flock until the new one is in place: a second
    // taker either waits on the old file here or finds the new one.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return beingTaken();
      const int error = errno;
      return {nullptr, error, CannotReadText(lockPath, error)};
    }
    struct stat now {};
    if (::lstat(lockPath.c_str(), &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino)
      continue;

    const Reading content = ReadOpenedLockFile(fd);
    if (content.state == Reading::State::Failed)
      return {nullptr, content.error, CannotReadText(lockPath, content.error)};
    if (content.pid == ::getpid()) {
      // Another port of this program: its own exclusive open decides, and its file stays.
      return {};
    }
    if (ProcessLives(content.pid))
      return {nullptr, EBUSY,
              "устройство " + devicePath + " занято: им пользуется " + DescribeHolder(content.pid) +
                  " (файл блокировки " + lockPath + ")"};
    // Programs that create the file first and write their id after it leave it empty for a
    // moment: one without an id counts as left behind only once it has stood a while.
    if (content.state == Reading::State::Unreadable && WrittenJustNow(now)) return beingTaken();
    // Written by a process that has ended, or holding no process id: nobody holds the device.
    // The new file takes the old one's place in one step, so the lock is never missing. One
    // this user may not replace (another user's, in a sticky folder) is passed over like a
    // folder it may not write: nobody holds the device, so it is no reason to refuse it.
    if (pauseBeforeTakeover) pauseBeforeTakeover();
    if (::rename(privatePath.c_str(), lockPath.c_str()) == 0) return taken();
    const int error = errno;
    if (LockingUnavailable(error)) return {};
    return {nullptr, error,
            "файл блокировки " + lockPath +
                " оставлен завершившейся программой, и его не удаётся заменить: " + SystemErrorText(error)};
  }
  return beingTaken();
}

UucpLock::~UucpLock() {
  // Only our own file: someone may have judged it stale, replaced it and holds the device now.
  struct stat st {};
  if (::lstat(filePath_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_) return;
  if (ReadHolder(filePath_) == ::getpid()) ::unlink(filePath_.c_str());
}

}  // namespace velmora::platform::posix
