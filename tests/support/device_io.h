#pragma once
// Blocking conveniences over a CommDevice for tests: each call makes its own overlapped
// record and waits (with a timeout, so a broken device fails the test instead of hanging it).

#include <cstdint>
#include <memory>
#include <string>

#include "platform/comm_device.h"

namespace velmora::test {

inline constexpr uint32_t kTestWaitMs = 5000;

// A raw line at `baud` with the usual XON/XOFF characters, as tests configure it.
inline platform::Dcb Line(uint32_t baud, uint8_t bits = 8, uint8_t parity = platform::NOPARITY,
                          uint8_t stop = platform::ONESTOPBIT) {
  platform::Dcb dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.ByteSize = bits;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  return dcb;
}

struct IoOutcome {
  bool completed = false;  // false: still pending after the timeout
  int error = 0;
  uint32_t transferred = 0;
  std::string data;  // reads
};

IoOutcome WriteAll(platform::CommDevice& device, const std::string& bytes, uint32_t timeoutMs = kTestWaitMs);
IoOutcome ReadUpTo(platform::CommDevice& device, uint32_t count, uint32_t timeoutMs = kTestWaitMs);
// Reads until `count` bytes came, issuing reads as events announce data.
std::string ReadExactly(platform::CommDevice& device, size_t count, uint32_t timeoutMs = kTestWaitMs);

// A WaitCommEvent that stays pending across calls.
class EventWait {
 public:
  explicit EventWait(platform::CommDevice& device);
  ~EventWait();  // a still pending wait is ended by clearing the mask
  platform::IoStart Start();
  // False when the wait did not end within `timeoutMs`; else the mask and the error.
  bool Wait(uint32_t timeoutMs, uint32_t& mask, int& error);
  uint32_t WaitMask(uint32_t timeoutMs = kTestWaitMs);  // 0 on timeout or error

 private:
  platform::CommDevice& device_;
  std::unique_ptr<platform::Event> event_;
  platform::Overlapped ov_;
  uint32_t mask_ = 0;
  bool started_ = false;
};

uint32_t ErrorWord(platform::CommDevice& device, platform::ComStat* stat = nullptr);
uint32_t InQueue(platform::CommDevice& device);
uint32_t ModemStatus(platform::CommDevice& device);

}  // namespace velmora::test
