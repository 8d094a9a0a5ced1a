#pragma once
// How much of the output handed to a driver has left it for the line.
//
// A write completes when the line has taken its bytes, not when the driver accepted them: the
// ledger counts the bytes fed to the driver as positions of one stream, and learns from the
// driver's output queue (TIOCOUTQ on a tty, the simulated device's buffer) how far the line has
// got. A queue that is not known to shrink is looked at again after the time its bytes need at
// the line rate, then less and less often while nothing moves (a line held by CTS or XOFF), so
// a stopped line costs a few wake-ups a second at most. Not synchronised.

#include <cstdint>
#include <optional>

#include "platform/clock.h"

namespace velmora::platform {

class OutputLedger {
 public:
  uint64_t Fed() const { return fed_; }
  uint64_t Sent() const { return sent_; }
  uint64_t Unsent() const { return fed_ - sent_; }

  void Feed(uint64_t count) { fed_ += count; }
  // The driver still holds `queued` bytes. Never goes back: bytes sent ahead of the queue
  // (XON/XOFF) may make the queue look longer for a moment.
  void Observe(uint64_t queued);
  // The driver's output was discarded: what it held was never sent.
  void DropUnsent();

  // When to look at the queue again while waiting for the stream to reach `position`; none
  // once it has.
  std::optional<Clock::TimePoint> RecheckAt(Clock::TimePoint now, Clock::Duration characterTime, uint64_t position);

  // The longest wait between two looks at a queue that does not move.
  static constexpr Clock::Duration kLongestRecheck = std::chrono::milliseconds(250);

 private:
  uint64_t fed_ = 0;
  uint64_t sent_ = 0;
  std::optional<Clock::TimePoint> recheckAt_;
  Clock::Duration interval_{};
  uint64_t sentWhenArmed_ = 0;
};

}  // namespace velmora::platform
