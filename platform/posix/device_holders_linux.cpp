#include "platform/posix/device_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <system_error>

namespace velmora::platform::posix {

namespace {

using Clock = std::chrono::steady_clock;

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s)
    if (!std::isdigit(static_cast<unsigned char>(*s))) return false;
  return true;
}

// Unix98 pseudo-terminal slaves live on majors 136..143, 256 indexes each.
std::optional<unsigned> PseudoTerminalIndex(dev_t device) {
  const unsigned maj = major(device);
  if (maj < 136 || maj > 143) return std::nullopt;
  return (maj - 136) * 256 + minor(device);
}

std::string SysfsEntry(dev_t device) {
  return "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The device's node as the kernel names it ("/dev/ttyUSB0", "/dev/pts/3"): what the link of a
// descriptor opened on it reads. Empty when sysfs does not tell.
std::string KernelNodePath(dev_t device) {
  if (const std::optional<unsigned> index = PseudoTerminalIndex(device))
    return "/dev/pts/" + std::to_string(*index);
  std::ifstream in(SysfsEntry(device) + "/uevent");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8) return "/dev/" + line.substr(8);
  return {};
}

// Without the kernel's name, a descriptor is looked through only when its link names a node
// right in /dev or in /dev/pts: users cannot put anything there, so nothing there is a file
// system of theirs that may hang (/dev/shm is another matter).
bool NamesANodeOfDev(const std::string& text) {
  if (text.rfind("/dev/pts/", 0) == 0) return text.find('/', 9) == std::string::npos;
  return text.rfind("/dev/", 0) == 0 && text.find('/', 5) == std::string::npos;
}

// The pty a master descriptor serves, from its fdinfo ("tty-index:\tN").
std::optional<unsigned> MasterIndex(const std::string& fdinfoPath) {
  std::ifstream in(fdinfoPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("tty-index:", 0) == 0)
      return static_cast<unsigned>(std::strtoul(line.c_str() + 10, nullptr, 10));
  }
  return std::nullopt;
}

struct WhatItHolds {
  bool device = false;
  bool masterOfDevice = false;
  bool looked = true;  // false when the deadline came first
};

struct Target {
  dev_t device;
  std::string nodePath;  // empty: unknown
  std::optional<unsigned> ptyIndex;
  Clock::time_point deadline;
};

WhatItHolds LookAtProcess(const std::string& pidText, const Target& target) {
  WhatItHolds holds;
  const std::string fdFolder = "/proc/" + pidText + "/fd";
  Dir fds(::opendir(fdFolder.c_str()));
  if (!fds) return holds;  // gone, or another user's process without the right to look
  const int folder = ::dirfd(fds.get());
  char link[PATH_MAX];
  while (dirent* e = ::readdir(fds.get())) {
    if (Clock::now() >= target.deadline) {
      holds.looked = false;
      return holds;
    }
    if (!AllDigits(e->d_name)) continue;
    // The link's text is made by the kernel from its own records: reading it asks no file
    // system anything, where a stat through it would wait for one that does not answer.
    const ssize_t n = ::readlinkat(folder, e->d_name, link, sizeof link);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof link) continue;
    const std::string text(link, static_cast<size_t>(n));
    const bool mayBeTheDevice = target.nodePath.empty() ? NamesANodeOfDev(text) : text == target.nodePath;
    const bool mayBeAMaster = target.ptyIndex && (text == "/dev/ptmx" || text == "/dev/pts/ptmx");
    if (!mayBeTheDevice && !mayBeAMaster) continue;
    // A node of devtmpfs or devpts: looking through it does not block. The number decides (the
    // same name can be another device in another container's /dev/pts).
    struct stat st {};
    if (::fstatat(folder, e->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev == target.device) {
      holds.device = true;
    } else if (mayBeAMaster && major(st.st_rdev) == 5 && minor(st.st_rdev) == 2 &&
               MasterIndex("/proc/" + pidText + "/fdinfo/" + e->d_name) == target.ptyIndex) {
      holds.masterOfDevice = true;
    }
  }
  return holds;
}

// Whether /proc/tty/drivers lists the device's number among the tty drivers':
// "usbserial  /dev/ttyUSB  188 0-511 serial".
bool ListedAsTtyDriver(dev_t device) {
  std::ifstream in("/proc/tty/drivers");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    if (f.size() < 5) continue;
    const unsigned long maj = std::strtoul(f[f.size() - 3].c_str(), nullptr, 10);
    const std::string& minors = f[f.size() - 2];
    char* end = nullptr;
    const unsigned long first = std::strtoul(minors.c_str(), &end, 10);
    const unsigned long last = *end == '-' ? std::strtoul(end + 1, nullptr, 10) : first;
    if (maj == major(device) && minor(device) >= first && minor(device) <= last) return true;
  }
  return false;
}

}  // namespace

HolderScan ScanDeviceHolders(dev_t device, std::chrono::nanoseconds budget) {
  HolderScan scan;
  const Target target{device, KernelNodePath(device), PseudoTerminalIndex(device),
                      Clock::now() + std::chrono::duration_cast<Clock::duration>(budget)};
  Dir proc(::opendir("/proc"));
  if (!proc) return scan;
  const std::string self = std::to_string(::getpid());
  while (dirent* e = ::readdir(proc.get())) {
    if (!AllDigits(e->d_name) || self == e->d_name) continue;
    const WhatItHolds holds = LookAtProcess(e->d_name, target);
    if (!holds.looked || Clock::now() >= target.deadline) {
      scan.complete = false;
      break;
    }
    if (!holds.device || holds.masterOfDevice) continue;
    const pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
    scan.holders.push_back({pid, ProgramName(pid)});
  }
  return scan;
}

std::vector<DeviceHolder> FindDeviceHolders(dev_t device) { return ScanDeviceHolders(device).holders; }

bool IsTerminalDevice(dev_t device) {
  if (PseudoTerminalIndex(device)) return true;  // pseudo-terminal slaves have no sysfs entry
  char target[PATH_MAX];
  const ssize_t n = ::readlink((SysfsEntry(device) + "/subsystem").c_str(), target, sizeof target - 1);
  if (n > 0) {
    const std::string subsystem(target, static_cast<size_t>(n));
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
  }
  return ListedAsTtyDriver(device);
}

std::string ProgramName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string DescribeHolder(pid_t pid) { return DescribeHolders({{pid, ProgramName(pid)}}); }

std::string DescribeHolders(const std::vector<DeviceHolder>& holders) {
  std::string text;
  for (const DeviceHolder& h : holders) {
    if (!text.empty()) text += ", ";
    text += h.program.empty() ? "процесс " + std::to_string(h.pid)
                              : h.program + " (процесс " + std::to_string(h.pid) + ")";
  }
  return text;
}

std::string SystemErrorText(int error) {
  switch (error) {
    case EACCES:
    case EPERM: return "нет прав";
    case ENOENT: return "нет такого файла или папки";
    case ENOTDIR: return "путь проходит не через папку";
    case ENOSPC: return "нет места на диске";
    case EROFS: return "файловая система только для чтения";
    case EIO: return "ошибка ввода-вывода";
    case EMFILE:
    case ENFILE: return "открыто слишком много файлов";
    case ENOMEM: return "не хватает памяти";
    case EBUSY: return "устройство занято";
    case ELOOP: return "слишком много символических ссылок";
    case ENAMETOOLONG: return "слишком длинное имя";
    default:
      return "системная ошибка " + std::to_string(error) + " (" + std::system_category().message(error) + ")";
  }
}

}  // namespace velmora::platform::posix
