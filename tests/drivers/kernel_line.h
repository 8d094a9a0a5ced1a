#pragma once
// The line settings and output lines a tty driver holds, read on the descriptor the port under
// test has open (found in /proc/self/fd). A second open of the device would not do: every open
// of a tty raises DTR and RTS. Kept apart so that the kernel's termios2 header meets no other
// terminal header.

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

// The driver's line settings for `path`, which this process has open. Empty text on success,
// else why it failed.
std::string ReadKernelLine(const std::string& path, KernelLine& line);

// DTR and RTS as the driver holds them (TIOCMGET); the same contract.
std::string ReadOutputLines(const std::string& path, bool& dtr, bool& rts);

// Whether the driver has low latency on (ASYNC_LOW_LATENCY, TIOCGSERIAL) for `path`: on this
// process's descriptor while the port has it open, else on a descriptor opened for the look.
std::string ReadLowLatency(const std::string& path, bool& on);

}  // namespace velmora::drivers_test
