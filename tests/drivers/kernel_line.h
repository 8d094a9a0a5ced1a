#pragma once
// The line settings a tty driver holds, read back with TCGETS2 on a descriptor of its own.
// Kept apart so that the kernel's termios2 header meets no other terminal header.

#include <cstdint>
#include <string>

namespace velmora::drivers_test {

struct KernelLine {
  uint32_t outputSpeed = 0;  // bits per second, as the driver reports it
  uint32_t inputSpeed = 0;
  int dataBits = 0;
  char parity = 'N';  // N, O, E, M (mark), S (space)
  bool twoStopBits = false;
  bool rtsCts = false;
  bool xonOut = false;  // IXON
  bool xonIn = false;   // IXOFF
  uint8_t startChar = 0;
  uint8_t stopChar = 0;
  bool marksLineErrors = false;  // INPCK and PARMRK

  // "115200 8N1", with the flow-control flags after it.
  std::string Describe() const;
};

// Opens `path` a second time (the port under test holds it exclusively; root may still open
// it) and reads the driver's line settings. Empty text on success, else why it failed.
std::string ReadKernelLine(const std::string& path, KernelLine& line);

}  // namespace velmora::drivers_test
