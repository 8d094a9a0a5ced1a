#include "platform/read_timeouts.h"

#include <algorithm>

namespace velmora::platform {

namespace {

bool ReturnsAtOnce(const CommTimeouts& t) {
  return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
}

bool ReturnsOnFirstBytes(const CommTimeouts& t) {
  return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
}

}  // namespace

std::optional<Clock::TimePoint> DeadlineAfter(Clock::TimePoint now, uint64_t milliseconds) {
  // Beyond about four years the clock's arithmetic would overflow (a multiplier near MAXDWORD
  // times a long transfer); such a timeout is no timeout.
  constexpr uint64_t kLongest = uint64_t{1} << 37;
  if (milliseconds == 0 || milliseconds > kLongest) return std::nullopt;
  return now + std::chrono::milliseconds(milliseconds);
}

ReadProgress StartRead(const CommTimeouts& t, uint32_t want, Clock::TimePoint now) {
  ReadProgress r;
  r.want = want;
  if (ReturnsOnFirstBytes(t)) {
    r.totalDeadline = DeadlineAfter(now, t.ReadTotalTimeoutConstant);
  } else if (!ReturnsAtOnce(t)) {
    r.totalDeadline = DeadlineAfter(now, uint64_t{t.ReadTotalTimeoutMultiplier} * want + t.ReadTotalTimeoutConstant);
  }
  return r;
}

bool ReadEnds(const CommTimeouts& t, ReadProgress& r, uint32_t taken, Clock::TimePoint now) {
  r.got += std::min(taken, r.want - r.got);
  if (taken > 0 && t.ReadIntervalTimeout != MAXDWORD) r.intervalDeadline = DeadlineAfter(now, t.ReadIntervalTimeout);
  return r.got == r.want || ReturnsAtOnce(t) || (ReturnsOnFirstBytes(t) && r.got > 0) ||
         (r.totalDeadline && *r.totalDeadline <= now) || (r.intervalDeadline && *r.intervalDeadline <= now);
}

std::optional<Clock::TimePoint> ReadDeadline(const ReadProgress& r) {
  if (!r.totalDeadline) return r.intervalDeadline;
  if (!r.intervalDeadline) return r.totalDeadline;
  return std::min(*r.totalDeadline, *r.intervalDeadline);
}

}  // namespace velmora::platform
