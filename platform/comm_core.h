#pragma once
// The operating system's serial-driver semantics, written once above every LineDriver.
//
// One I/O thread per open device sleeps in poll() on the driver's descriptor and a wake event,
// drains the line into the input queue (sized by SetupComm, so its count is exact), keeps the
// event history that WaitCommEvent consumes (EV_RXCHAR fires once per arrival, however long
// nobody reads), the error word, the pending reads and writes with their timeouts, the DTR/RTS
// control modes and input flow control. A full input queue stops reading: the line is held
// back instead of the thread spinning. A write completes when the line has taken its bytes
// (the driver's output queue no longer holds them), its total timeout covers the whole
// transfer, and the unsent rest of a write that timed out or was aborted is purged from the
// driver, so it never goes out later. The thread sleeps without a timeout while nothing is
// due, so an idle device costs no processor time.

#include <memory>

#include "platform/comm_device.h"
#include "platform/line_driver.h"

namespace velmora::platform {

// Opens the shared semantics over `driver`; nullptr with `error` set when the thread or its
// events cannot be made.
std::unique_ptr<CommDevice> MakeCommCore(std::unique_ptr<LineDriver> driver, int* error = nullptr);

// Default size of the input and output queues before SetupComm.
inline constexpr uint32_t kDefaultQueueSize = 4096;

}  // namespace velmora::platform
