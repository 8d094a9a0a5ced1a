#include "port/port_operation.h"

#include <system_error>

#include "port/ecomport.h"

namespace velmora::port {

PPortOperation NewPortOperation() {
  auto operation = std::make_unique<TPortOperation>();
  int error = 0;
  operation->CompletionEvent = platform::Event::Create(true, true, &error);
  if (!operation->CompletionEvent)
    throw std::system_error(error, std::generic_category(), "no event for a port operation");
  operation->Overlapped.event = operation->CompletionEvent.get();
  return operation;
}

void FreePortOperation(PPortOperation& operation) { operation.reset(); }

PPortOperation TPortOperationPool::Take() {
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      PPortOperation operation = std::move(spare_.back());
      spare_.pop_back();
      return operation;
    }
  }
  return NewPortOperation();
}

void TPortOperationPool::Give(PPortOperation operation) {
  // More than a few at once means threads racing each other; they need not all be kept.
  constexpr size_t kKept = 4;
  if (!operation) return;
  if (operation->Overlapped.status.load(std::memory_order_acquire) == platform::Overlapped::kStatusPending) {
    (void)operation.release();
    return;
  }
  // As fresh: nothing started, a finished transfer of 0 bytes, the event signalled.
  operation->Kind.reset();
  operation->Overlapped.status.store(0, std::memory_order_relaxed);
  operation->Overlapped.transferred.store(0, std::memory_order_relaxed);
  operation->CompletionEvent->Set();
  std::lock_guard lock(mutex_);
  if (spare_.size() < kKept) spare_.push_back(std::move(operation));
}

int OperationErrorCode(const TPortOperation& operation) {
  return operation.Kind == opWrite ? kErrWriteFile : kErrReadFile;
}

}  // namespace velmora::port
