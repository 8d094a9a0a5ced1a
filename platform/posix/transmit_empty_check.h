#pragma once
// When has the last accepted byte left the line? The decision of a tty driver, without the
// device: the caller reads the kernel's output queue (TIOCOUTQ) and, where the driver has it,
// the UART's transmitter-empty bit (TIOCSERGETLSR), and passes them in.
//
// With the transmitter-empty bit the answer is that bit. Without it, the kernel's queue must be
// empty and then the UART's FIFO must have had time to drain (FIFO depth + 1 character times).
// While the answer is no, `RecheckAt` says when to ask again: when the queued bytes should be
// out, never sooner than 1 ms. Once the answer is yes, or after `Cancel`, there is no recheck, so
// an idle line asks for no wake-ups. Not synchronised.

#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace velmora::platform::posix {

class TransmitEmptyCheck {
 public:
  bool Check(Clock::TimePoint now, Clock::Duration characterTime, uint32_t fifoDepth, uint32_t kernelQueued,
             std::optional<bool> transmitterEmptyBit);
  void BytesAccepted();  // new output: the FIFO's drain time starts again, a pending recheck is stale
  void Cancel();
  std::optional<Clock::TimePoint> RecheckAt() const { return recheckAt_; }

 private:
  std::optional<Clock::TimePoint> recheckAt_;
  std::optional<Clock::TimePoint> fifoDrainedAt_;
};

}  // namespace velmora::platform::posix
