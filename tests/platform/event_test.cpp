#include "platform/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace velmora::platform {
namespace {

TEST(Events, ManualResetStaysSignalledUntilReset) {
  auto e = Event::Create(true, false);
  EXPECT_FALSE(e->IsSet());
  EXPECT_EQ(WaitForOne(*e, 0).kind, WaitOutcome::TimedOut);
  e->Set();
  e->Set();
  EXPECT_EQ(WaitForOne(*e, 0).kind, WaitOutcome::Signalled);
  EXPECT_TRUE(e->IsSet());
  e->Reset();
  EXPECT_FALSE(e->IsSet());
}

TEST(Events, AutoResetReleasesOneWaiter) {
  auto e = Event::Create(false, true);
  EXPECT_EQ(WaitForOne(*e, 0).kind, WaitOutcome::Signalled);
  EXPECT_EQ(WaitForOne(*e, 0).kind, WaitOutcome::TimedOut);
}

TEST(Events, WaitForAnyGivesTheLowestSignalledIndex) {
  auto a = Event::Create(true, false), b = Event::Create(true, true), c = Event::Create(true, true);
  Event* all[] = {a.get(), b.get(), c.get()};
  WaitOutcome w = WaitForAny(all, kInfinite);
  EXPECT_EQ(w.kind, WaitOutcome::Signalled);
  EXPECT_EQ(w.index, 1u);
}

TEST(Events, AnotherThreadWakesAnInfiniteWait) {
  auto stop = Event::Create(true, false), other = Event::Create(true, false);
  Event* both[] = {stop.get(), other.get()};
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    other->Set();
  });
  WaitOutcome w = WaitForAny(both, kInfinite);
  setter.join();
  EXPECT_EQ(w.kind, WaitOutcome::Signalled);
  EXPECT_EQ(w.index, 1u);
}

}  // namespace
}  // namespace velmora::platform
