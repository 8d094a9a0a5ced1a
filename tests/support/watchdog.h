#pragma once
// Ends the test process with a message when a scope does not finish in time: a test of
// something that could deadlock fails at once instead of stalling the run until the runner's
// timeout.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::test {

class Watchdog {
 public:
  Watchdog(std::chrono::milliseconds limit, std::string what)
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (cv_.wait_for(lock, limit, [this] { return disarmed_; })) return;
          std::fprintf(stderr, "watchdog: %s did not finish within %lld ms\n", what_.c_str(),
                       static_cast<long long>(limit.count()));
          std::fflush(stderr);
          std::_Exit(3);
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      disarmed_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool disarmed_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

}  // namespace velmora::test
