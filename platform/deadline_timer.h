#pragma once
// A one-shot timer that expires at a point of the steady clock, to the microsecond.
//
// For what must happen exactly then, such as the first character after a radio's keying delay:
// a toolkit timer rounds its waits to whole milliseconds, this one does not, and it carries no
// timer slack. Its descriptor turns readable on expiry, so an event loop (a socket notifier)
// watches it like any other; `TakeExpiry` reads it back. Used by one thread.

#include <chrono>
#include <memory>

namespace velmora::platform {

class DeadlineTimer {
 public:
  // nullptr with `error` set to the system's number when the system gives no timer.
  static std::unique_ptr<DeadlineTimer> Create(int* error = nullptr);
  ~DeadlineTimer();
  DeadlineTimer(const DeadlineTimer&) = delete;
  DeadlineTimer& operator=(const DeadlineTimer&) = delete;

  // Expires at `at` (at once when that has passed); replaces an earlier arming.
  void ArmAt(std::chrono::steady_clock::time_point at);
  void Disarm();
  // True once after an expiry (and the descriptor is no longer readable).
  bool TakeExpiry();
  int PollHandle() const { return fd_; }

 private:
  explicit DeadlineTimer(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace velmora::platform
