#pragma once
// The device-control block's rules for received bytes, as one pure step over one read.
//
// Parity marks count only while the block checks parity, and then the byte becomes the error
// character when the block asks for replacement; NULs are dropped with fNull; everything is
// dropped while DSR is off under DSR sensitivity; line conditions become error-word bits; the
// event character and a break become events.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/comm_types.h"
#include "platform/line_driver.h"

namespace velmora::platform {

struct ReceiveOutcome {
  size_t kept = 0;      // bytes left at the front of the buffer, to be queued
  uint32_t errors = 0;  // CE_* bits
  uint32_t events = 0;  // EV_RXFLAG, EV_BREAK, EV_ERR (not EV_RXCHAR: that depends on the queue)
};

// Compacts `data[0, count)` in place.
ReceiveOutcome ApplyReceiveRules(const Dcb& dcb, bool dsrOn, uint8_t* data, size_t count,
                                 std::span<const RxMark> marks);

}  // namespace velmora::platform
