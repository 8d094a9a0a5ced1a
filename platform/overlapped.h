#pragma once
// The life of an overlapped operation's record, for every device implementation: start it,
// complete it, and read its result the way GetOverlappedResult does.

#include <cstdint>

#include "platform/comm_device.h"

namespace velmora::platform {

// Marks the record pending and resets its event.
void StartOverlapped(Overlapped& ov);

// The same in two steps, for a device that may complete the operation before the call that
// started it returns: `BeginOverlapped` marks the record pending, `SettleStart` (before any other
// thread can complete it) resets the event only if it is still pending. An operation finished at
// once leaves its event set, as it would end anyway, without the two system calls of a reset
// and a set on the way.
void BeginOverlapped(Overlapped& ov);
void SettleStart(Overlapped& ov);

// Publishes the result, then sets the event, both under the event's lock: the waiter the event
// releases finds the result at once (no spinning while the completing thread is preempted between
// the two), and a caller that sees the result may free the record at once.
void CompleteOverlapped(Overlapped& ov, uint32_t transferred, int status);

// The result of a completed operation. A pending one is waited for with `wait`; without it
// the call fails with EINPROGRESS, unless the operation is completing this very moment.
Status OverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait);

}  // namespace velmora::platform
