#include "platform/output_ledger.h"

#include <algorithm>

namespace velmora::platform {

void OutputLedger::Observe(uint64_t queued) { sent_ = std::max(sent_, fed_ - std::min(queued, fed_)); }

void OutputLedger::DropUnsent() {
  fed_ = sent_;
  recheckAt_.reset();
}

std::optional<Clock::TimePoint> OutputLedger::RecheckAt(Clock::TimePoint now, Clock::Duration characterTime,
                                                        uint64_t position) {
  if (sent_ >= position) {
    recheckAt_.reset();
    return std::nullopt;
  }
  constexpr Clock::Duration kShortest = std::chrono::milliseconds(1);
  // The time the awaited bytes need at the line rate; a count that large is no rate.
  const uint64_t awaited = std::min<uint64_t>(position - sent_, uint64_t{1} << 24);
  const Clock::Duration expected = std::max(kShortest, characterTime * static_cast<int64_t>(awaited));
  if (!recheckAt_ || sent_ != sentWhenArmed_) {
    interval_ = expected;
  } else if (now >= *recheckAt_) {
    // Looked and nothing moved: the line is held. Back off, but keep looking.
    interval_ = std::max(expected, std::min(interval_ * 2, std::max(expected, kLongestRecheck)));
  } else {
    return recheckAt_;
  }
  recheckAt_ = now + interval_;
  sentWhenArmed_ = sent_;
  return recheckAt_;
}

}  // namespace velmora::platform
