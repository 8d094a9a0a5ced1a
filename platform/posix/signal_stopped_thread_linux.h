#pragma once
// A helper thread for a system call that nothing but a signal can end.
//
// TIOCMIWAIT returns only when a modem line changes or a signal arrives: hang-up and close do
// not end it. The thread therefore runs with a private real-time signal whose handler is
// installed without SA_RESTART, so the call fails with EINTR; `StopAndJoin` sets the stop flag
// and sends that signal again every few milliseconds until the thread has ended (a signal that
// lands just before the call is entered would otherwise be lost).
//
// The body is given `StopRequested`; it must return once that is true, and treat EINTR from its
// blocking call as "look at the flag". Only the owner's thread calls `StopAndJoin` and the
// destructor (which stops and joins too).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace velmora::platform::posix {

class SignalStoppedThread {
 public:
  using Body = std::function<void(const std::atomic<bool>& stopRequested)>;

  // nullptr with `error` set (the system's number) when the thread cannot be made.
  static std::unique_ptr<SignalStoppedThread> Start(Body body, int* error);
  ~SignalStoppedThread();
  SignalStoppedThread(const SignalStoppedThread&) = delete;
  SignalStoppedThread& operator=(const SignalStoppedThread&) = delete;

  // Blocks until the thread has ended; does nothing the second time.
  void StopAndJoin();
  bool Finished() const;  // the body has returned

  static int StopSignal();  // the private signal's number

 private:
  SignalStoppedThread() = default;

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace velmora::platform::posix
