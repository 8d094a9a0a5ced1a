#include "platform/overlapped.h"

#include <cerrno>
#include <thread>

namespace velmora::platform {

void StartOverlapped(Overlapped& ov) {
  ov.transferred.store(0, std::memory_order_relaxed);
  ov.status.store(Overlapped::kStatusPending, std::memory_order_relaxed);
  ov.event->Reset();
}

void BeginOverlapped(Overlapped& ov) {
  ov.transferred.store(0, std::memory_order_relaxed);
  ov.status.store(Overlapped::kStatusPending, std::memory_order_relaxed);
}

void SettleStart(Overlapped& ov) {
  if (ov.status.load(std::memory_order_relaxed) == Overlapped::kStatusPending) ov.event->Reset();
}

void CompleteOverlapped(Overlapped& ov, uint32_t transferred, int status) {
  ov.transferred.store(transferred, std::memory_order_relaxed);
  ov.event->SetPublishing(ov.status, status);
}

Status OverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) {
  int status = ov.status.load(std::memory_order_acquire);
  while (status == Overlapped::kStatusPending) {
    if (!ov.event) return Status::Failed(EINVAL);
    if (wait) {
      WaitOutcome w = WaitForOne(*ov.event, kInfinite);
      if (w.kind == WaitOutcome::Failed) return Status::Failed(w.error);
    } else if (ov.event->IsSet()) {
      std::this_thread::yield();  // an operation being started on a record reused at once
    } else {
      return Status::Failed(EINPROGRESS);
    }
    status = ov.status.load(std::memory_order_acquire);
  }
  transferred = ov.transferred.load(std::memory_order_relaxed);
  return status == 0 ? Status::Ok() : Status::Failed(status);
}

}  // namespace velmora::platform
