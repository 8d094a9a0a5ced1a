#pragma once
// Which other programs have a character device open, read from /proc/<pid>/fd.
//
// flock and TIOCEXCL only stop programs that use them: a getty, `cat` or a terminal program
// that opens the device plainly shares its stream unnoticed. Looking at every process's open
// files finds them. What the system does not let this user see (another user's processes,
// without root) is not found; callers treat an empty answer as "nobody that we can tell".
//
// The scan runs on the caller's thread and cannot hang: it reads the text of each descriptor's
// link and looks through a descriptor only when that text names the device itself, never through
// a file on a network or FUSE file system that may not answer. It stops at its time budget (a
// machine with thousands of processes of hundreds of descriptors each), and says it did not
// finish; the lock file and the exclusive open still guard the device then.
//
// Left out: this process (its own second open is refused by the flock) and, for a
// pseudo-terminal, the processes that hold its master: they are the far end, and some of them
// (socat) keep a slave descriptor open on purpose.
//
// The texts are the operator's (Russian).

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmora::platform::posix {

struct DeviceHolder {
  pid_t pid = 0;
  std::string program;  // the command name; empty when the process is gone or hidden
};

struct HolderScan {
  std::vector<DeviceHolder> holders;
  bool complete = true;  // false when the budget ran out before every process was looked at
};

// Long enough for a few thousand ordinary processes; short enough that opening a port never
// stalls the window noticeably.
inline constexpr std::chrono::milliseconds kHolderScanBudget{80};

HolderScan ScanDeviceHolders(dev_t device, std::chrono::nanoseconds budget = kHolderScanBudget);
std::vector<DeviceHolder> FindDeviceHolders(dev_t device);

// Whether a character device is a terminal (a serial port, a console, a pseudo-terminal), told
// from its number alone, before anything opens it: its class in sysfs, or else the tty drivers'
// numbers in /proc/tty/drivers. False when neither tells.
bool IsTerminalDevice(dev_t device);

// The command name of a process ("minicom"); empty when it cannot be read.
std::string ProgramName(pid_t pid);

// "minicom (процесс 1234)", or "процесс 1234" when its name cannot be read.
std::string DescribeHolder(pid_t pid);

// "minicom (процесс 1234), cat (процесс 99)".
std::string DescribeHolders(const std::vector<DeviceHolder>& holders);

// The reason a system call failed, for the operator: Russian for the errors a device or lock
// file meets, else the system's text with the error's number.
std::string SystemErrorText(int error);

}  // namespace velmora::platform::posix
