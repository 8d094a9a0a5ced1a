#pragma once
// The line settings of a pseudo-terminal as the kernel holds them, read on its master.
// Kept apart so that the kernel's termios2 header meets no other terminal header.

#include <cstdint>

namespace velmora::port::test {

struct KernelLine {
  uint32_t outputSpeed = 0;  // bits per second
  int dataBits = 0;
  bool parity = false;
  bool twoStopBits = false;
  bool rtsCts = false;
  bool xonXoff = false;  // either direction
};

// TCGETS2 on the master descriptor; false when the call fails.
bool ReadKernelLine(int masterFd, KernelLine& line);

}  // namespace velmora::port::test
