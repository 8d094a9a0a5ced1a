#include "platform/deadline_timer.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace velmora::platform {

std::unique_ptr<DeadlineTimer> DeadlineTimer::Create(int* error) {
  // The steady clock is CLOCK_MONOTONIC on Linux, so its time points arm the timer as they are.
  const int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  return std::unique_ptr<DeadlineTimer>(new DeadlineTimer(fd));
}

DeadlineTimer::~DeadlineTimer() { ::close(fd_); }

void DeadlineTimer::ArmAt(std::chrono::steady_clock::time_point at) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
  itimerspec expiry{};
  // An all-zero expiry would disarm: the earliest real time point stands in for it.
  expiry.it_value.tv_sec = static_cast<time_t>(ns > 0 ? ns / 1'000'000'000 : 0);
  expiry.it_value.tv_nsec = static_cast<long>(ns > 0 ? ns % 1'000'000'000 : 1);
  (void)::timerfd_settime(fd_, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

void DeadlineTimer::Disarm() {
  const itimerspec none{};
  (void)::timerfd_settime(fd_, 0, &none, nullptr);
  (void)TakeExpiry();  // an expiry not yet taken goes too
}

bool DeadlineTimer::TakeExpiry() {
  uint64_t expirations = 0;
  return ::read(fd_, &expirations, sizeof expirations) == sizeof expirations && expirations > 0;
}

}  // namespace velmora::platform
