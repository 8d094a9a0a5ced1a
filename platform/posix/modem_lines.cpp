#include "platform/posix/modem_lines.h"

#include "platform/comm_types.h"

namespace velmora::platform::posix {

uint32_t ChangedModemLines(const ModemLook& before, const ModemLook& now) {
  uint32_t changed = before.status ^ now.status;
  if (before.counted && now.counted) {
    if (before.cts != now.cts) changed |= MS_CTS_ON;
    if (before.dsr != now.dsr) changed |= MS_DSR_ON;
    if (before.rng != now.rng) changed |= MS_RING_ON;
    if (before.dcd != now.dcd) changed |= MS_RLSD_ON;
  }
  return changed;
}

}  // namespace velmora::platform::posix
