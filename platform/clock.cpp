#include "platform/clock.h"

#include <algorithm>

#include "platform/event.h"

namespace velmora::platform {

namespace {

class SteadyClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  std::optional<Duration> SleepFor(TimePoint deadline) const override {
    return std::max(Duration::zero(), std::chrono::duration_cast<Duration>(deadline - Now()));
  }
  void Subscribe(Event*) override {}
  void Unsubscribe(Event*) override {}
};

}  // namespace

std::shared_ptr<Clock> Clock::Steady() { return std::make_shared<SteadyClock>(); }

Clock::TimePoint ManualClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::optional<Clock::Duration> ManualClock::SleepFor(TimePoint deadline) const {
  std::lock_guard lock(mutex_);
  if (deadline <= now_) return Duration::zero();
  return std::nullopt;
}

void ManualClock::Subscribe(Event* event) {
  std::lock_guard lock(mutex_);
  subscribers_.push_back(event);
}

void ManualClock::Unsubscribe(Event* event) {
  std::lock_guard lock(mutex_);
  std::erase(subscribers_, event);
}

void ManualClock::Advance(Duration by) {
  std::lock_guard lock(mutex_);
  now_ += by;
  for (Event* e : subscribers_) e->Set();
}

}  // namespace velmora::platform
