#pragma once
// Which modem input lines changed between two looks at a tty, as MS_* bits.
//
// A look is the line status (TIOCMGET, as MS_* bits) and, where the driver keeps them, the
// kernel's per-line transition counters (TIOCGICOUNT). The counters show a pulse that came and
// went between the two looks (a short ring, a CTS blip), which the status alone would miss.

#include <cstdint>

namespace velmora::platform::posix {

struct ModemLook {
  uint32_t status = 0;   // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON
  bool counted = false;  // the counters below were read
  uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
};

uint32_t ChangedModemLines(const ModemLook& before, const ModemLook& now);

}  // namespace velmora::platform::posix
