#pragma once
// The read-timeout rules of a serial driver (COMMTIMEOUTS), as one pure step over one read.
//
// MAXDWORD/0/0 returns at once with what is queued; MAXDWORD/MAXDWORD/c returns with the first
// bytes, or with none after c ms; otherwise the total timeout (multiplier x bytes asked +
// constant, from the start) and the interval timeout (from each byte, once the first came) end
// a read with what it has, and 0 means "no such limit". A timeout longer than a clock can hold
// is no timeout.

#include <cstdint>
#include <optional>

#include "platform/clock.h"
#include "platform/comm_types.h"

namespace velmora::platform {

struct ReadProgress {
  uint32_t want = 0;
  uint32_t got = 0;
  std::optional<Clock::TimePoint> totalDeadline;
  std::optional<Clock::TimePoint> intervalDeadline;  // armed by each byte once the first came
};

// The state of a read of `want` bytes started at `now`.
ReadProgress StartRead(const CommTimeouts& timeouts, uint32_t want, Clock::TimePoint now);

// One look at a pending read at `now`, after `taken` more bytes were put into it: counts them,
// re-arms the interval timer, and says whether the read ends here.
bool ReadEnds(const CommTimeouts& timeouts, ReadProgress& read, uint32_t taken, Clock::TimePoint now);

// The earliest deadline of a pending read, if any.
std::optional<Clock::TimePoint> ReadDeadline(const ReadProgress& read);

// A deadline `milliseconds` after `now`; none for 0 or for more than a clock can add.
std::optional<Clock::TimePoint> DeadlineAfter(Clock::TimePoint now, uint64_t milliseconds);

}  // namespace velmora::platform
