#pragma once
// Received bytes of a tty in PARMRK mode back into data and line-condition marks.
//
// With INPCK|PARMRK (and neither IGNPAR nor ISTRIP) the kernel passes line conditions in band:
// `FF FF` is the data byte 0xFF, `FF 00 00` a break (or an error on a NUL byte), `FF 00 c` an
// error on the byte c. The kernel does not say whether an error was framing or parity, and it
// reports overruns only in its counters (TIOCGICOUNT), so `LabelMarks` names the marks of one
// read from the counters' deltas taken right after it.
//
// The decoder keeps its state between reads, since an escape may be split across two reads.
// It is a plain object without locking; the driver uses it under the device's lock.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/line_driver.h"

namespace velmora::platform::posix {

// Growth of the kernel's line counters over one read.
struct LineErrorCounts {
  uint32_t frame = 0;
  uint32_t parity = 0;
  uint32_t brk = 0;
  uint32_t overrun = 0;
  uint32_t bufOverrun = 0;
};

class ParmrkDecoder {
 public:
  // Decodes `count` bytes at `data` in place (the result is never longer) and returns the data
  // count. Each `FF 00 c` becomes the byte c with a Frame mark at its position; each `FF 00 00`
  // a Break mark before the next byte. Marks are appended with positions from `data`.
  size_t Decode(uint8_t* data, size_t count, std::vector<RxMark>& marks);

  // Names the marks from `firstMark` on (those of the read just decoded) by the counters' growth:
  // errors become Frame or Parity as counted, a `FF 00 00` with no break counted but an error
  // counted becomes a NUL byte with its error, and overruns append Overrun / RxOver marks at the
  // end. `data` must have room for `count` plus one byte per `FF 00 00` mark (a decoded read
  // always has: the escape took three bytes). Returns the new data count. Without counters
  // (nullopt: a pseudo-terminal), errors stay Frame and `FF 00 00` stays Break. Counted errors
  // whose bytes are still in the kernel are kept for the next read.
  size_t LabelMarks(uint8_t* data, size_t count, std::vector<RxMark>& marks, size_t firstMark,
                    const std::optional<LineErrorCounts>& grown);

  // Forgets a partial escape and counted-but-unseen errors (after the input was flushed).
  void Reset();

 private:
  enum class State : uint8_t { Data, Escape, Marked };
  State state_ = State::Data;
  LineErrorCounts carried_;
};

}  // namespace velmora::platform::posix
