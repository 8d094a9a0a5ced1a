// The helper thread that only a signal can take out of its blocking call.
#include "platform/posix/signal_stopped_thread_linux.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace velmora::platform::posix {
namespace {

// A pipe nobody writes to: read() on it blocks until a signal ends it, like TIOCMIWAIT.
class SilentPipe {
 public:
  SilentPipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
  ~SilentPipe() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int ReadEnd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

// True once the thread is asleep in the kernel (state S in /proc), bounded by five seconds.
bool WaitUntilSleeping(pid_t tid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'S') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(SignalStoppedThread, StopEndsABlockingCallWithEintr) {
  SilentPipe pipe;
  std::atomic<int> lastError{0};
  std::atomic<pid_t> tid{0};
  int error = 0;
  auto thread = SignalStoppedThread::Start(
      [&](const std::atomic<bool>& stop) {
        tid.store(::gettid());
        char c;
        while (!stop.load()) {
          if (::read(pipe.ReadEnd(), &c, 1) < 0) lastError.store(errno);
        }
      },
      &error);
  ASSERT_TRUE(thread) << error;
  while (tid.load() == 0) std::this_thread::yield();
  ASSERT_TRUE(WaitUntilSleeping(tid.load()));
  thread->StopAndJoin();
  EXPECT_TRUE(thread->Finished());
  EXPECT_EQ(lastError.load(), EINTR);
  thread->StopAndJoin();  // a second stop does nothing
}

// A signal that lands between the flag check and the call is lost; the stop must still end the
// thread. Many short lives make that window likely to be hit.
TEST(SignalStoppedThread, StopsEvenWhenTheSignalComesBeforeTheCall) {
  SilentPipe pipe;
  for (int i = 0; i < 200; ++i) {
    int error = 0;
    auto thread = SignalStoppedThread::Start(
        [&](const std::atomic<bool>& stop) {
          char c;
          while (!stop.load()) (void)::read(pipe.ReadEnd(), &c, 1);
        },
        &error);
    ASSERT_TRUE(thread) << error;
    thread.reset();  // the destructor stops and joins
  }
}

}  // namespace
}  // namespace velmora::platform::posix
