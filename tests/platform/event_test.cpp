#include "platform/event.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <memory>
#include <thread>
#include <vector>

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

TEST(Events, WaitForAnyOnMoreEventsThanUsual) {
  std::vector<std::unique_ptr<Event>> owned;
  std::vector<Event*> all;
  for (int i = 0; i < 6; ++i) {
    owned.push_back(Event::Create(true, i == 5));
    all.push_back(owned.back().get());
  }
  WaitOutcome w = WaitForAny(all, 0);
  EXPECT_EQ(w.kind, WaitOutcome::Signalled);
  EXPECT_EQ(w.index, 5u);
}

bool DescriptorReadable(const Event& e) {
  pollfd p{e.PollHandle(), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

// The event keeps its state beside the descriptor: after any race of sets and resets the two
// must still agree, or a poll set would spin on a reset event or sleep through a set one.
TEST(Events, StateAndDescriptorAgreeAfterRacingSetsAndResets) {
  auto e = Event::Create(true, false);
  std::thread setter([&] {
    for (int i = 0; i < 20000; ++i) e->Set();
  });
  for (int i = 0; i < 20000; ++i) e->Reset();
  setter.join();
  EXPECT_EQ(DescriptorReadable(*e), e->IsSet());
  e->Reset();
  EXPECT_FALSE(DescriptorReadable(*e));
  e->Set();
  EXPECT_TRUE(DescriptorReadable(*e));
}

}  // namespace
}  // namespace velmora::platform
