#include "platform/posix/transmit_empty_check.h"

#include <algorithm>

namespace velmora::platform::posix {

bool TransmitEmptyCheck::Check(Clock::TimePoint now, Clock::Duration characterTime, uint32_t fifoDepth,
                               uint32_t kernelQueued, std::optional<bool> transmitterEmptyBit) {
  const Clock::Duration queuedTime = characterTime * std::max<uint32_t>(kernelQueued, 1);
  const Clock::TimePoint recheck = now + std::max<Clock::Duration>(std::chrono::milliseconds(1), queuedTime);
  if (transmitterEmptyBit) {
    recheckAt_ = *transmitterEmptyBit ? std::nullopt : std::optional(recheck);
    return *transmitterEmptyBit;
  }
  if (kernelQueued > 0) {
    fifoDrainedAt_.reset();
    recheckAt_ = recheck;
    return false;
  }
  if (!fifoDrainedAt_) fifoDrainedAt_ = now + characterTime * (fifoDepth + 1);
  if (now >= *fifoDrainedAt_) {
    recheckAt_.reset();
    return true;
  }
  recheckAt_ = std::max(*fifoDrainedAt_, now + std::chrono::milliseconds(1));
  return false;
}

void TransmitEmptyCheck::BytesAccepted() {
  fifoDrainedAt_.reset();
  // The core asks again once its writes are done; a stale deadline would only wake it for
  // nothing, again and again while output is blocked.
  recheckAt_.reset();
}

void TransmitEmptyCheck::Cancel() {
  recheckAt_.reset();
  fifoDrainedAt_.reset();
}

}  // namespace velmora::platform::posix
