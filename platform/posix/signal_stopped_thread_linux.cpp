#include "platform/posix/signal_stopped_thread_linux.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace velmora::platform::posix {

namespace {

// Well above the real-time signals that glibc and common libraries take for themselves.
int PrivateSignal() { return SIGRTMIN + 6; }

extern "C" void IgnoreStopSignal(int) {}

int InstallHandlerOnce() {
  static const int result = [] {
    struct sigaction sa {};
    sa.sa_handler = IgnoreStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: the blocked ioctl must come back with EINTR
    return ::sigaction(PrivateSignal(), &sa, nullptr) == 0 ? 0 : errno;
  }();
  return result;
}

}  // namespace

int SignalStoppedThread::StopSignal() { return PrivateSignal(); }

std::unique_ptr<SignalStoppedThread> SignalStoppedThread::Start(Body body, int* error) {
  if (int e = InstallHandlerOnce(); e != 0) {
    if (error) *error = e;
    return nullptr;
  }
  std::unique_ptr<SignalStoppedThread> self(new SignalStoppedThread());
  SignalStoppedThread* raw = self.get();
  try {
    self->thread_ = std::thread([raw, body = std::move(body)] {
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, PrivateSignal());
      ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
      body(raw->stop_);
      std::lock_guard lock(raw->mutex_);
      raw->finished_ = true;
      raw->finishedChanged_.notify_all();
    });
  } catch (const std::system_error& e) {
    if (error) *error = e.code().value();
    return nullptr;
  }
  return self;
}

SignalStoppedThread::~SignalStoppedThread() { StopAndJoin(); }

bool SignalStoppedThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void SignalStoppedThread::StopAndJoin() {
  if (!thread_.joinable()) return;
  stop_.store(true);
  std::unique_lock lock(mutex_);
  while (!finished_) {
    ::pthread_kill(thread_.native_handle(), PrivateSignal());
    finishedChanged_.wait_for(lock, std::chrono::milliseconds(5));
  }
  lock.unlock();
  thread_.join();
}

}  // namespace velmora::platform::posix
