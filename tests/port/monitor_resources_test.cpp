// The port short of what the system gives: memory on the monitor thread, a wait for a transfer
// that ends while the transfer is still under way. Neither may end the process or leave the
// device writing into memory that is no longer the transfer's.
//
// This executable replaces the global allocation functions: a test can make the next
// allocations of one chosen thread fail.
#include "port/com_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/overlapped.h"
#include "port/ecomport.h"
#include "port/synchronizer.h"
#include "tests/support/error_display_recorder.h"
#include "tests/support/watchdog.h"

namespace {

std::atomic<int> failuresLeft{0};
std::atomic<std::thread::id> failingThread{};

// The next `count` allocations of `thread` fail.
void FailAllocations(std::thread::id thread, int count) {
  failingThread = thread;
  failuresLeft = count;
}

}  // namespace

// Out of line: inlined, the optimiser would see free() meet a pointer from operator new.
[[gnu::noinline]] void* operator new(std::size_t size) {
  if (failuresLeft.load(std::memory_order_relaxed) > 0 && failingThread.load() == std::this_thread::get_id() &&
      failuresLeft.fetch_sub(1) > 0)
    throw std::bad_alloc();
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace velmora::port {
namespace {

using namespace std::chrono_literals;
using platform::IoStart;
using platform::Overlapped;
using platform::Status;

// A device whose reads stay under way until aborted (yet wake their waiter at once, as a wait
// that fails does), whose event waits end when the test fires them, and which allocates nothing
// on its way: what fails in a test is the engine's own.
class HeldDevice : public platform::NamedDevice {
 public:
  struct State {
    std::mutex mutex;
    Overlapped* wait = nullptr;
    uint32_t* waitMask = nullptr;
    uint32_t fired = 0;  // for the next wait, when none is under way
    std::thread::id firstWaiter;
    std::vector<Overlapped*> reads;
    int aborts = 0;

    void EndWaitLocked(uint32_t mask, int status) {
      if (!wait) return;
      *waitMask = mask;
      platform::CompleteOverlapped(*wait, 0, status);
      wait = nullptr;
    }
    void EndReadsLocked() {
      for (Overlapped* ov : reads) platform::CompleteOverlapped(*ov, 0, ECANCELED);
      reads.clear();
    }
  };

  platform::OpenResult Open() override { return {std::make_unique<Device>(state_), 0, {}}; }

  void Fire(uint32_t mask) {
    std::lock_guard lock(state_->mutex);
    if (state_->wait)
      state_->EndWaitLocked(mask, 0);
    else
      state_->fired |= mask;
  }
  std::thread::id FirstWaiter() {
    std::lock_guard lock(state_->mutex);
    return state_->firstWaiter;
  }
  size_t ReadsUnderWay() {
    std::lock_guard lock(state_->mutex);
    return state_->reads.size();
  }
  int Aborts() {
    std::lock_guard lock(state_->mutex);
    return state_->aborts;
  }

 private:
  class Device : public platform::CommDevice {
   public:
    explicit Device(std::shared_ptr<State> state) : s_(std::move(state)) {}
    ~Device() override {
      std::lock_guard lock(s_->mutex);
      s_->EndWaitLocked(0, ECANCELED);
      s_->EndReadsLocked();
    }
    Status SetupComm(uint32_t, uint32_t) override { return Status::Ok(); }
    Status SetCommState(const platform::Dcb&) override { return Status::Ok(); }
    Status SetCommTimeouts(const platform::CommTimeouts&) override { return Status::Ok(); }
    Status SetCommMask(uint32_t) override {
      std::lock_guard lock(s_->mutex);
      s_->EndWaitLocked(0, 0);
      return Status::Ok();
    }
    IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) override {
      std::lock_guard lock(s_->mutex);
      if (s_->firstWaiter == std::thread::id{}) s_->firstWaiter = std::this_thread::get_id();
      platform::StartOverlapped(ov);
      s_->wait = &ov;
      s_->waitMask = mask;
      if (s_->fired != 0) {
        s_->EndWaitLocked(s_->fired, 0);
        s_->fired = 0;
        return {IoStart::Completed, 0, 0};
      }
      return {IoStart::Pending, 0, 0};
    }
    IoStart ReadFile(void*, uint32_t, Overlapped& ov) override {
      std::lock_guard lock(s_->mutex);
      platform::StartOverlapped(ov);
      s_->reads.push_back(&ov);
      ov.event->Set();
      return {IoStart::Pending, 0, 0};
    }
    IoStart WriteFile(const void*, uint32_t count, Overlapped& ov) override {
      platform::StartOverlapped(ov);
      platform::CompleteOverlapped(ov, count, 0);
      return {IoStart::Completed, count, 0};
    }
    Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) override {
      if (!wait && ov.status.load() == Overlapped::kStatusPending) return Status::Failed(EINPROGRESS);
      return platform::OverlappedResult(ov, transferred, wait);
    }
    Status ClearCommError(uint32_t& errors, platform::ComStat* stat) override {
      errors = 0;
      if (stat) *stat = {};
      return Status::Ok();
    }
    Status GetCommModemStatus(uint32_t& status) override {
      status = 0;
      return Status::Ok();
    }
    Status EscapeCommFunction(uint32_t) override { return Status::Ok(); }
    Status PurgeComm(uint32_t flags) override {
      std::lock_guard lock(s_->mutex);
      if (flags & platform::PURGE_RXABORT) {
        ++s_->aborts;
        s_->EndReadsLocked();
        s_->EndWaitLocked(0, ECANCELED);
      }
      return Status::Ok();
    }

   private:
    std::shared_ptr<State> s_;
  };

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

class PortResourcesTest : public ::testing::Test {
 protected:
  PortResourcesTest() {
    directory->Add("HELD", device);
    port.SetDeviceDirectory(directory);
    port.SetPort("HELD");
  }

  bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      platform::WaitForOne(port.Sync().Pending(), 10);
      port.Sync().Drain();
    }
    return true;
  }

  std::shared_ptr<HeldDevice> device = std::make_shared<HeldDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  test::ErrorDisplayRecorder shown;
  TComPort port{"ComPort1"};
};

// "Порт HELD: не хватило памяти ...", as the display receives it (Windows-1251).
const std::string kOutOfMemoryStart = "\xcf\xee\xf0\xf2 HELD: \xed\xe5 \xf5\xe2\xe0\xf2\xe8\xeb\xee \xef\xe0\xec\xff\xf2\xe8";

// Short of memory for a hand-over (thread delivery) or for the report of a handler's error
// (delivery on the monitor): the monitor ends as after a failed delivery and says so once; the
// process and the port go on.
TEST_F(PortResourcesTest, AFailedAllocationOnTheMonitorEndsItButNotTheProcess) {
  for (TSyncMethod method : {smThreadSync, smNone}) {
    SCOPED_TRACE(static_cast<int>(method));
    shown.Clear();
    std::atomic<int> txEmpty{0};
    port.OnTxEmpty = [&](TCustomComPort&) {
      ++txEmpty;
      if (method != smNone) return;
      const std::runtime_error failure("handler failed");
      FailAllocations(std::this_thread::get_id(), 1);
      throw failure;
    };
    port.SetSyncMethod(method);
    port.OpenPort();
    ASSERT_TRUE(Serve([&] { return device->FirstWaiter() != std::thread::id{}; }));
    if (method == smThreadSync) FailAllocations(device->FirstWaiter(), 1);
    device->Fire(platform::EV_TXEMPTY);
    EXPECT_TRUE(Serve([&] { return !shown.Messages().empty(); }));
    Serve([] { return false; }, 50ms);
    ASSERT_EQ(shown.Messages().size(), 1u);
    EXPECT_EQ(shown.Messages()[0].rfind(kOutOfMemoryStart, 0), 0u) << shown.Messages()[0];
    EXPECT_TRUE(port.Connected());
    {
      test::Watchdog watchdog(10s, "closing after the monitor ran short of memory");
      port.ClosePort();
    }
    EXPECT_EQ(txEmpty.load(), method == smNone ? 1 : 0);
    FailAllocations({}, 0);
  }
}

TEST_F(PortResourcesTest, AWaitThatEndsEarlyEndsTheTransferBeforeItsRecordGoesBack) {
  port.SetEvents({});
  port.OpenPort();
  char buffer[8];
  try {
    port.ReadBlock(buffer, sizeof buffer);
    ADD_FAILURE() << "the read did not fail";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrReadFile);
    EXPECT_EQ(e.WinErrorCode(), EINPROGRESS);
  }
  EXPECT_EQ(device->ReadsUnderWay(), 0u) << "the device still reads into the record and the buffer";
  EXPECT_EQ(device->Aborts(), 1);
  // The record went back whole: the next transfers use it.
  EXPECT_EQ(port.WriteText("yz"), 2);
  port.ClosePort();
}

// A handler's error crosses to the waiting sender as its text; without memory for the text the
// sender is released all the same, or it would hold its thread (and a close waiting for it).
TEST(SynchronizerShortOfMemory, ASenderIsReleasedThoughItsErrorTextCannotBeCopied) {
  auto sync = std::make_shared<Synchronizer>();
  const std::thread::id owner = std::this_thread::get_id();
  std::atomic<bool> released{false};
  std::thread sender([&] {
    try {
      sync->Send([owner] {
        const std::runtime_error failure("a handler's error, longer than a short string holds");
        FailAllocations(owner, 1);
        throw failure;
      });
    } catch (const std::exception&) {
    }
    released = true;
  });
  test::Watchdog watchdog(10s, "the sender's release");
  while (!released) {
    platform::WaitForOne(sync->Pending(), 10);
    EXPECT_NO_THROW(sync->Drain());
  }
  sender.join();
  FailAllocations({}, 0);
}

}  // namespace
}  // namespace velmora::port
