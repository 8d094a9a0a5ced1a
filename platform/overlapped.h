#pragma once
// The life of an overlapped operation's record, for every device implementation: start it,
// complete it, and read its result the way GetOverlappedResult does.

#include <cstdint>

#include "platform/comm_device.h"

namespace velmora::platform {

// Marks the record pending and resets its event.
void StartOverlapped(Overlapped& ov);

// Sets the event, then publishes the result: a caller that sees the result may free the
// event at once, so nothing touches it afterwards.
void CompleteOverlapped(Overlapped& ov, uint32_t transferred, int status);

// The result of a completed operation. A pending one is waited for with `wait`; without it
// the call fails with EINPROGRESS, unless the operation is completing this very moment.
Status OverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait);

}  // namespace velmora::platform
