#pragma once
// Which other programs have a character device open, read from /proc/<pid>/fd.
//
// flock and TIOCEXCL only stop programs that use them: a getty, `cat` or a terminal program
// that opens the device plainly shares its stream unnoticed. Looking at every process's open
// files finds them. What the system does not let this user see (another user's processes,
// without root) is not found; callers treat an empty answer as "nobody that we can tell".
//
// Left out: this process (its own second open is refused by the flock) and, for a
// pseudo-terminal, the processes that hold its master: they are the far end, and some of them
// (socat) keep a slave descriptor open on purpose.

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::platform::posix {

struct DeviceHolder {
  pid_t pid = 0;
  std::string program;  // the command name; empty when the process is gone or hidden
};

std::vector<DeviceHolder> FindDeviceHolders(dev_t device);

// Whether a character device is a terminal (a serial port, a console, a pseudo-terminal), told
// from its number alone, before anything opens it.
bool IsTerminalDevice(dev_t device);

// The command name of a process ("minicom"); empty when it cannot be read.
std::string ProgramName(pid_t pid);

// "minicom (pid 1234)", or "process 1234" when its name cannot be read.
std::string DescribeHolder(pid_t pid);

// "minicom (pid 1234), cat (pid 99)".
std::string DescribeHolders(const std::vector<DeviceHolder>& holders);

}  // namespace velmora::platform::posix
