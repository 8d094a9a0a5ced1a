// The read-timeout rules: when a read ends, and with what, for each kind of COMMTIMEOUTS.
#include "platform/read_timeouts.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using TimePoint = Clock::TimePoint;

// A read of 4 bytes started at 0 ms; bytes arrive at the given times (ms), and the read is
// looked at then and at every ms in between. Expected: when it ends (ms; -1: not within a
// minute) and with how many bytes.
struct Case {
  const char* name;
  CommTimeouts timeouts;
  std::vector<int> arrivals;
  int endsAt;
  uint32_t got;
};

TEST(ReadTimeouts, WhenAReadEndsAndWithWhat) {
  const Case cases[] = {
      {"MAXDWORD/0/0 returns at once, empty", {MAXDWORD, 0, 0, 0, 0}, {}, 0, 0},
      {"MAXDWORD/0/0 returns at once with what is there", {MAXDWORD, 0, 0, 0, 0}, {0, 0}, 0, 2},
      {"no timeouts waits for all it asked", {0, 0, 0, 0, 0}, {1, 5, 500, 30000}, 30000, 4},
      {"no timeouts never ends short", {0, 0, 0, 0, 0}, {1}, -1, 1},
      {"total: multiplier x 4 + constant", {0, 10, 20, 0, 0}, {3, 7}, 60, 2},
      {"total with nothing arriving", {0, 10, 20, 0, 0}, {}, 60, 0},
      {"total ends at once when all came", {0, 10, 20, 0, 0}, {1, 2, 3, 4}, 4, 4},
      {"interval: silence after a byte", {30, 0, 0, 0, 0}, {5, 20}, 50, 2},
      {"interval does not start before the first byte", {30, 0, 0, 0, 0}, {}, -1, 0},
      {"interval re-armed by every byte", {30, 0, 0, 0, 0}, {5, 30, 55}, 85, 3},
      {"interval and total: the earlier wins", {30, 0, 40, 0, 0}, {5, 30}, 40, 2},
      {"MAXDWORD/MAXDWORD/c: the first byte ends it", {MAXDWORD, MAXDWORD, 40, 0, 0}, {12}, 12, 1},
      {"MAXDWORD/MAXDWORD/c: or the constant, empty", {MAXDWORD, MAXDWORD, 40, 0, 0}, {}, 40, 0},
      {"MAXDWORD interval with a total: only the total", {MAXDWORD, 0, 25, 0, 0}, {3}, 25, 1},
  };
  const TimePoint zero{};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadProgress read = StartRead(c.timeouts, 4, zero);
    int endedAt = -1;
    size_t next = 0;
    for (int ms = 0; ms <= 60000 && endedAt < 0; ++ms) {
      uint32_t taken = 0;
      for (; next < c.arrivals.size() && c.arrivals[next] == ms; ++next) ++taken;
      // Nothing is looked at between deadlines and arrivals but for the start and the arrivals.
      const std::optional<TimePoint> due = ReadDeadline(read);
      const bool look = ms == 0 || taken > 0 || (due && *due <= zero + std::chrono::milliseconds(ms));
      if (look && ReadEnds(c.timeouts, read, taken, zero + std::chrono::milliseconds(ms))) endedAt = ms;
    }
    EXPECT_EQ(endedAt, c.endsAt);
    EXPECT_EQ(read.got, c.got);
  }
}

}  // namespace
}  // namespace velmora::platform
