#pragma once
// BurstWriter: frames written to the port without holding the window. A write on the device
// completes when the line has taken its last byte, so a blocking write of a frame would freeze
// the window for the frame's whole time on the line (4 KiB at 9600 baud: over four seconds),
// and with it the keyer's timers. Each frame goes to the device as one overlapped write instead;
// the window hears through a socket notifier when the line has taken it, and with how much.
//
// The device keeps writes in the order they were started, so what is written after a frame (by
// this writer or by a blocking write) follows it on the line.
//
// User-interface thread only. Errors: EComPort from the port when the device refuses to start a
// write; a write that ends short or failed is reported to the finished handler with its error.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "port/port_operation.h"

class QSocketNotifier;

namespace velmora::port {
class TComPort;
}

namespace velmora::console {

class BurstWriter {
 public:
  // `moved` bytes of a frame taken by the line, `error` the system's number (0: none).
  using Finished = std::function<void(int64_t moved, int error)>;

  explicit BurstWriter(Finished finished);
  // Aborts what is still with the device and waits for it: the device reads the bytes and
  // writes into the records until each write has ended.
  ~BurstWriter();
  BurstWriter(const BurstWriter&) = delete;
  BurstWriter& operator=(const BurstWriter&) = delete;

  void Write(port::TComPort& port, std::string bytes);
  // A frame is still with the device.
  bool Pending() const { return !writes_.empty(); }

 private:
  struct OneWrite {
    port::PPortOperation operation;
    std::string bytes;
    std::unique_ptr<QSocketNotifier> notifier;
  };

  // Reports the writes that have ended, in the order they were started.
  void Collect();

  Finished finished_;
  port::TComPort* port_ = nullptr;
  std::deque<std::unique_ptr<OneWrite>> writes_;
};

}  // namespace velmora::console
