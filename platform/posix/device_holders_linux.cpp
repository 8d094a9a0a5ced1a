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

namespace velmora::platform::posix {

namespace {

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

bool IsPtmx(dev_t device) { return major(device) == 5 && minor(device) == 2; }

// The pty a master descriptor serves, from its fdinfo ("tty-index:\tN").
std::optional<unsigned> MasterIndex(const std::string& fdinfoPath) {
  std::ifstream in(fdinfoPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("tty-index:", 0) == 0) return static_cast<unsigned>(std::strtoul(line.c_str() + 10, nullptr, 10));
  }
  return std::nullopt;
}

struct WhatItHolds {
  bool device = false;
  bool masterOfDevice = false;
};

WhatItHolds LookAtProcess(const std::string& pidText, dev_t device, std::optional<unsigned> ptyIndex) {
  WhatItHolds holds;
  const std::string fdFolder = "/proc/" + pidText + "/fd/";
  Dir fds(::opendir(fdFolder.c_str()));
  if (!fds) return holds;  // gone, or another user's process without the right to look
  while (dirent* e = ::readdir(fds.get())) {
    if (!AllDigits(e->d_name)) continue;
    struct stat st {};
    if (::stat((fdFolder + e->d_name).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (st.st_rdev == device) {
      holds.device = true;
    } else if (ptyIndex && IsPtmx(st.st_rdev) &&
               MasterIndex("/proc/" + pidText + "/fdinfo/" + e->d_name) == ptyIndex) {
      holds.masterOfDevice = true;
    }
  }
  return holds;
}

}  // namespace

std::vector<DeviceHolder> FindDeviceHolders(dev_t device) {
  std::vector<DeviceHolder> holders;
  Dir proc(::opendir("/proc"));
  if (!proc) return holders;
  const std::string self = std::to_string(::getpid());
  const std::optional<unsigned> ptyIndex = PseudoTerminalIndex(device);
  while (dirent* e = ::readdir(proc.get())) {
    if (!AllDigits(e->d_name) || self == e->d_name) continue;
    const WhatItHolds holds = LookAtProcess(e->d_name, device, ptyIndex);
    if (!holds.device || holds.masterOfDevice) continue;
    const pid_t pid = static_cast<pid_t>(std::strtol(e->d_name, nullptr, 10));
    holders.push_back({pid, ProgramName(pid)});
  }
  return holders;
}

bool IsTerminalDevice(dev_t device) {
  if (PseudoTerminalIndex(device)) return true;  // pseudo-terminal slaves have no sysfs entry
  const std::string entry = "/sys/dev/char/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char target[PATH_MAX];
  const ssize_t n = ::readlink((entry + "/subsystem").c_str(), target, sizeof target - 1);
  if (n <= 0) {
    struct stat st {};
    return ::stat("/sys/dev/char", &st) != 0;  // without sysfs, nothing tells: take it as one
  }
  const std::string subsystem(target, static_cast<size_t>(n));
  return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

std::string ProgramName(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string DescribeHolder(pid_t pid) {
  const std::string name = ProgramName(pid);
  if (name.empty()) return "process " + std::to_string(pid);
  return name + " (pid " + std::to_string(pid) + ")";
}

std::string DescribeHolders(const std::vector<DeviceHolder>& holders) {
  std::string text;
  for (const DeviceHolder& h : holders) {
    if (!text.empty()) text += ", ";
    text += h.program.empty() ? "process " + std::to_string(h.pid)
                              : h.program + " (pid " + std::to_string(h.pid) + ")";
  }
  return text;
}

}  // namespace velmora::platform::posix
