// Modem-line changes between two looks at a tty: from the status, and from the kernel's
// transition counters for pulses the status no longer shows.
#include "platform/posix/modem_lines.h"

#include <gtest/gtest.h>

#include "platform/comm_types.h"

namespace velmora::platform::posix {
namespace {

ModemLook Look(uint32_t status, bool counted = true, uint32_t cts = 0, uint32_t dsr = 0, uint32_t rng = 0,
               uint32_t dcd = 0) {
  return {status, counted, cts, dsr, rng, dcd};
}

TEST(ModemLines, ChangesFromStatusAndCounters) {
  struct Case {
    const char* what;
    ModemLook before, now;
    uint32_t changed;
  };
  const Case cases[] = {
      {"nothing", Look(MS_CTS_ON, true, 3), Look(MS_CTS_ON, true, 3), 0},
      {"CTS rose", Look(0), Look(MS_CTS_ON, true, 1), MS_CTS_ON},
      {"DSR and carrier fell", Look(MS_DSR_ON | MS_RLSD_ON, true, 0, 1, 0, 1), Look(0, true, 0, 2, 0, 2),
       MS_DSR_ON | MS_RLSD_ON},
      {"a ring pulse between the looks", Look(0, true, 0, 0, 4), Look(0, true, 0, 0, 5), MS_RING_ON},
      {"a CTS blip, down and up again", Look(MS_CTS_ON, true, 6), Look(MS_CTS_ON, true, 8), MS_CTS_ON},
      {"a counter wrapping around", Look(0, true, 0, 0, 0, 0xFFFFFFFFu), Look(0, true, 0, 0, 0, 0), MS_RLSD_ON},
      {"no counters: the status alone", Look(0, false), Look(MS_RING_ON, false), MS_RING_ON},
      {"counters in only one look are not compared", Look(0, false), Look(0, true, 9, 9, 9, 9), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ChangedModemLines(c.before, c.now), c.changed);
  }
}

}  // namespace
}  // namespace velmora::platform::posix
