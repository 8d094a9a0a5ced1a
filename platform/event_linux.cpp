#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace velmora::platform {

struct WaitAccess {
  static bool TryTake(Event& e) { return e.TryTake(); }
};

std::unique_ptr<Event> Event::Create(bool manualReset, bool initiallySignalled, int* error) {
  int fd = ::eventfd(initiallySignalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  return std::unique_ptr<Event>(new Event(fd, manualReset, initiallySignalled));
}

Event::~Event() {
  // A Set or SetPublishing whose effect its destroyer has seen may still be on its way out.
  { std::lock_guard lock(mutex_); }
  while (writing_.load() != 0) std::this_thread::yield();
  ::close(fd_);
}

// The write that wakes a waiter is made after the lock is let go: the thread it wakes often runs
// at once, on this very processor, and would otherwise find the lock still held when it resets
// the event.
void Event::Set() {
  if (signalled_.load()) return;
  {
    std::lock_guard lock(mutex_);
    if (signalled_.load()) return;
    signalled_.store(true);
    writing_.fetch_add(1);
  }
  Signal();
}

void Event::SetPublishing(std::atomic<int>& word, int value) {
  {
    std::lock_guard lock(mutex_);
    word.store(value, std::memory_order_release);
    if (signalled_.load()) return;
    signalled_.store(true);
    writing_.fetch_add(1);
  }
  Signal();
}

void Event::Signal() {
  // The counter only ever holds 0 or 1.
  uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
  writing_.fetch_sub(1);
}

void Event::TakeCounterLocked() {
  uint64_t value;
  for (;;) {
    if (::read(fd_, &value, sizeof value) >= 0) return;
    if (errno == EINTR) continue;
    // The set that made the event signalled has not written yet: its write comes, so wait for
    // it rather than leave the descriptor readable behind a reset event.
    pollfd pending{fd_, POLLIN, 0};
    (void)::poll(&pending, 1, -1);
  }
}

void Event::Reset() {
  if (!signalled_.load()) return;
  std::lock_guard lock(mutex_);
  if (!signalled_.load()) return;
  TakeCounterLocked();
  signalled_ = false;
}

bool Event::IsSet() const { return signalled_.load(); }

bool Event::TryTake() {
  std::lock_guard lock(mutex_);
  if (!signalled_) return false;
  TakeCounterLocked();
  signalled_ = false;
  return true;
}

WaitOutcome WaitForAny(std::span<Event* const> events, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const bool infinite = timeoutMs == kInfinite;
  const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  // Waits on a few events are the rule (a monitor waits on two for every batch): no allocation.
  std::array<pollfd, 4> few{};
  std::vector<pollfd> many;
  std::span<pollfd> fds(few.data(), events.size());
  if (events.size() > few.size()) {
    many.resize(events.size());
    fds = many;
  }
  for (size_t i = 0; i < events.size(); ++i) fds[i] = {events[i]->PollHandle(), POLLIN, 0};

  for (;;) {
    int waitMs = -1;
    if (!infinite) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      waitMs = left > 0 ? static_cast<int>(left) : 0;
    }
    int n = ::poll(fds.data(), fds.size(), waitMs);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {WaitOutcome::Failed, 0, errno};
    }
    if (n == 0) return {WaitOutcome::TimedOut, 0, 0};
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      // Another waiter may take an auto-reset event between our poll and our read.
      if (events[i]->ManualReset() || WaitAccess::TryTake(*events[i])) return {WaitOutcome::Signalled, i, 0};
    }
  }
}

WaitOutcome WaitForOne(Event& event, uint32_t timeoutMs) {
  Event* one[] = {&event};
  return WaitForAny(one, timeoutMs);
}

}  // namespace velmora::platform
