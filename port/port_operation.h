#pragma once
// TPortOperation: the record of one overlapped read or write.
//
// A record owns the event its operation completes through. A fresh record's event is
// signalled and its overlapped block reports a finished transfer of 0 bytes, so waiting for a
// record on which nothing was started returns 0 at once. The caller holds the only reference;
// the buffer of a started operation must stay as it is until the wait for it has returned.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/comm_device.h"
#include "platform/event.h"

namespace velmora::port {

enum TOperationKind : uint8_t { opWrite, opRead };

struct TPortOperation {
  platform::Overlapped Overlapped;
  std::optional<TOperationKind> Kind;  // none until an operation is started
  std::unique_ptr<platform::Event> CompletionEvent;
};

using PPortOperation = std::unique_ptr<TPortOperation>;

// std::system_error when the system has no event to give.
PPortOperation NewPortOperation();
void FreePortOperation(PPortOperation& operation);
// The error number a failed completion raises: 2 for a write, 3 for a read.
int OperationErrorCode(const TPortOperation& operation);

// The records of one port's blocking operations, kept between calls: a key press or a received
// chunk then makes and closes no event object of its own. Each call still holds a record of its
// own while it runs, so calls from different threads share nothing. Any thread may take and give.
class TPortOperationPool {
 public:
  // A record as fresh as NewPortOperation's; std::system_error when the system has no event.
  PPortOperation Take();
  // Back for the next call. A record whose operation is still pending (the caller's abort of it
  // failed) is neither kept nor freed: the device may yet write into it, and one record left
  // behind is the lesser harm.
  void Give(PPortOperation operation);

 private:
  std::mutex mutex_;
  std::vector<PPortOperation> spare_;
};

}  // namespace velmora::port
