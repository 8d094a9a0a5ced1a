#pragma once
// Kernel event objects and waiting on several of them.
//
// An `Event` is signalled or not; a manual-reset event stays signalled until `Reset`, an
// auto-reset event is taken back by the one waiter that `WaitForAny` releases. Any thread may
// set, reset or wait. On Linux an event is an eventfd, so it can also sit in a poll set
// (`PollHandle`) or behind a toolkit socket notifier; nobody but the event reads or writes
// that descriptor. The event knows its own state, so setting a set event, resetting a reset
// one and asking either costs no system call (the event path does each many times a second).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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
  // Stores `value` into `word`, then sets the event, both under the event's own lock: a thread
  // that reads the value may destroy the event at once, because destruction waits for this
  // call to end. An operation's result is published so, ahead of its event, so that the waiter
  // the event releases always finds the result there.
  void SetPublishing(std::atomic<int>& word, int value);
  void Reset();
  bool IsSet() const;  // does not take an auto-reset event back
  bool ManualReset() const { return manualReset_; }
  int PollHandle() const { return fd_; }

 private:
  Event(int fd, bool manualReset, bool signalled) : fd_(fd), manualReset_(manualReset), signalled_(signalled) {}
  friend struct WaitAccess;
  bool TryTake();  // auto-reset: true when this waiter took the signal
  void Signal();   // the write that makes the descriptor readable, outside the lock
  void TakeCounterLocked();

  const int fd_;
  const bool manualReset_;
  std::mutex mutex_;  // serialises the changes of the descriptor's counter
  // Ahead of the descriptor: true before it becomes readable, so a waiter that poll() has just
  // released never finds it false.
  std::atomic<bool> signalled_ = false;
  std::atomic<int> writing_ = 0;  // sets whose write is on its way
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
