#pragma once
// Time for the device layer: the steady clock in service, a manual clock in tests.
//
// Pacing uses absolute deadlines; a waiter asks the clock how long to sleep for a deadline.
// A manual clock never lets time pass by itself: waits on it are unbounded, and `Advance`
// wakes every subscribed event so that waiters look at the new time.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velmora::platform {

class Event;

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::nanoseconds;

  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  // How long a waiter may sleep to be back by `deadline`; nullopt means no limit.
  virtual std::optional<Duration> SleepFor(TimePoint deadline) const = 0;
  // `event` is set whenever time moves other than by itself (a manual clock's Advance).
  virtual void Subscribe(Event* event) = 0;
  virtual void Unsubscribe(Event* event) = 0;

  static std::shared_ptr<Clock> Steady();  // a new steady clock object (they all agree)
};

class ManualClock final : public Clock {
 public:
  TimePoint Now() const override;
  std::optional<Duration> SleepFor(TimePoint deadline) const override;
  void Subscribe(Event* event) override;
  void Unsubscribe(Event* event) override;

  void Advance(Duration by);

 private:
  mutable std::mutex mutex_;
  TimePoint now_{};
  std::vector<Event*> subscribers_;
};

}  // namespace velmora::platform
