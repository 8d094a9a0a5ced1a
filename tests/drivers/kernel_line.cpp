#include "tests/drivers/kernel_line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace velmora::drivers_test {

std::string KernelLine::Describe() const {
  std::string text = std::to_string(outputSpeed) + " " + std::to_string(dataBits) + parity + (twoStopBits ? "2" : "1");
  if (inputSpeed != outputSpeed) text += " in " + std::to_string(inputSpeed);
  if (rtsCts) text += " rts/cts";
  if (xonOut) text += " ixon";
  if (xonIn) text += " ixoff";
  if (!marksLineErrors) text += " unmarked";
  return text;
}

namespace {

// This process's descriptor of `path`; -1 when it has none.
int OpenDescriptorOf(const std::string& path) {
  int found = -1;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      char target[256] = {};
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
      if (n > 0 && path == std::string(target, static_cast<size_t>(n))) found = std::atoi(e->d_name);
    }
    closedir(dir);
  }
  return found;
}

}  // namespace

std::string ReadOutputLines(const std::string& path, bool& dtr, bool& rts) {
  const int fd = OpenDescriptorOf(path);
  if (fd < 0) return path + " is not open in this process";
  int bits = 0;
  if (::ioctl(fd, TIOCMGET, &bits) != 0) return "TIOCMGET on " + path + ": " + std::strerror(errno);
  dtr = (bits & TIOCM_DTR) != 0;
  rts = (bits & TIOCM_RTS) != 0;
  return {};
}

std::string ReadKernelLine(const std::string& path, KernelLine& line) {
  const int fd = OpenDescriptorOf(path);
  if (fd < 0) return path + " is not open in this process";
  struct termios2 t {};
  if (::ioctl(fd, TCGETS2, &t) != 0) return "TCGETS2 on " + path + ": " + std::strerror(errno);
  line.outputSpeed = t.c_ospeed;
  line.inputSpeed = t.c_ispeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
  }
  if (!(t.c_cflag & PARENB))
    line.parity = 'N';
  else if (t.c_cflag & CMSPAR)
    line.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
  else
    line.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
  line.twoStopBits = (t.c_cflag & CSTOPB) != 0;
  line.rtsCts = (t.c_cflag & CRTSCTS) != 0;
  line.xonOut = (t.c_iflag & IXON) != 0;
  line.xonIn = (t.c_iflag & IXOFF) != 0;
  line.startChar = t.c_cc[VSTART];
  line.stopChar = t.c_cc[VSTOP];
  line.marksLineErrors = (t.c_iflag & (INPCK | PARMRK)) == (INPCK | PARMRK);
  return {};
}

std::string ReadLowLatency(const std::string& path, bool& on) {
  int fd = OpenDescriptorOf(path);
  const bool ownOpen = fd < 0;
  if (ownOpen) fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "open " + path + ": " + std::strerror(errno);
  serial_struct serial{};
  const int result = ::ioctl(fd, TIOCGSERIAL, &serial);
  const int error = errno;
  if (ownOpen) ::close(fd);
  if (result != 0) return "TIOCGSERIAL on " + path + ": " + std::strerror(error);
  on = (static_cast<unsigned>(serial.flags) & ASYNC_LOW_LATENCY) != 0;
  return {};
}

}  // namespace velmora::drivers_test
