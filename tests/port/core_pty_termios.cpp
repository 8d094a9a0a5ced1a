#include "tests/port/core_pty_termios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace velmora::port::test {

bool ReadKernelLine(int masterFd, KernelLine& line) {
  struct termios2 t {};
  if (::ioctl(masterFd, TCGETS2, &t) != 0) return false;
  // The master's line settings are the slave's: the kernel keeps one set per pair.
  const uint32_t baud = t.c_cflag & CBAUD;
  if (baud == BOTHER)
    line.outputSpeed = t.c_ospeed;
  else if (baud == B9600)
    line.outputSpeed = 9600;
  else if (baud == B115200)
    line.outputSpeed = 115200;
  else
    line.outputSpeed = 0;  // another fixed code: not one this test expects
  switch (t.c_cflag & CSIZE) {
    case CS5: line.dataBits = 5; break;
    case CS6: line.dataBits = 6; break;
    case CS7: line.dataBits = 7; break;
    default: line.dataBits = 8; break;
  }
  line.parity = (t.c_cflag & PARENB) != 0;
  line.twoStopBits = (t.c_cflag & CSTOPB) != 0;
  line.rtsCts = (t.c_cflag & CRTSCTS) != 0;
  line.xonXoff = (t.c_iflag & (IXON | IXOFF)) != 0;
  return true;
}

}  // namespace velmora::port::test
