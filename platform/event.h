#pragma once
// Kernel event objects and waiting on several of them.
//
// An `Event` is signalled or not; a manual-reset event stays signalled until `Reset`, an
// auto-reset event is taken back by the one waiter that `WaitForAny` releases. Any thread may
// set, reset or wait. On Linux an event is an eventfd, so it can also sit in a poll set
// (`PollHandle`) or behind a toolkit socket notifier.

#include <cstdint>
#include <memory>
#include <span>

#include "platform/comm_types.h"

namespace velmora::platform {

class Event {
 public:
  // Returns nullptr and sets `error` to the system's number when no event can be made.
  static std::unique_ptr<Event> Create(bool manualReset, bool initiallySignalled, int* error = nullptr);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;  // does not take an auto-reset event back
  bool ManualReset() const { return manualReset_; }
  int PollHandle() const { return fd_; }

 private:
  Event(int fd, bool manualReset) : fd_(fd), manualReset_(manualReset) {}
  friend struct WaitAccess;
  bool TryTake();  // auto-reset: true when this waiter took the signal

  int fd_;
  bool manualReset_;
};

struct WaitOutcome {
  enum Kind : uint8_t { Signalled, TimedOut, Failed };
  Kind kind = TimedOut;
  size_t index = 0;  // with Signalled: the lowest signalled entry
  int error = 0;     // with Failed
};

// Blocks until one of `events` is signalled or `timeoutMs` passes (kInfinite: no limit).
WaitOutcome WaitForAny(std::span<Event* const> events, uint32_t timeoutMs);
WaitOutcome WaitForOne(Event& event, uint32_t timeoutMs);

}  // namespace velmora::platform
