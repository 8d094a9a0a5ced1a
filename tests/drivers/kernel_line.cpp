#include "tests/drivers/kernel_line.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
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

std::string ReadKernelLine(const std::string& path, KernelLine& line) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "open " + path + ": " + std::strerror(errno);
  struct termios2 t {};
  const int rc = ::ioctl(fd, TCGETS2, &t);
  const int error = errno;
  ::close(fd);
  if (rc != 0) return "TCGETS2 on " + path + ": " + std::strerror(error);
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

}  // namespace velmora::drivers_test
