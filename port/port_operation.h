#pragma once
// TPortOperation: the record of one overlapped read or write.
//
// A record owns the event its operation completes through. A fresh record's event is
// signalled and its overlapped block reports a finished transfer of 0 bytes, so waiting for a
// record on which nothing was started returns 0 at once. The caller holds the only reference;
// the buffer of a started operation must stay as it is until the wait for it has returned.

#include <cstdint>
#include <memory>
#include <optional>

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

}  // namespace velmora::port
