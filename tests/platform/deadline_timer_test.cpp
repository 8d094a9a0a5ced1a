#include "platform/deadline_timer.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

bool Readable(const DeadlineTimer& t, int waitMs = 0) {
  pollfd p{t.PollHandle(), POLLIN, 0};
  return ::poll(&p, 1, waitMs) == 1;
}

TEST(DeadlineTimer, ExpiresOnceAtItsDeadlineAndNotBefore) {
  auto timer = DeadlineTimer::Create();
  ASSERT_TRUE(timer);
  EXPECT_FALSE(Readable(*timer));
  const auto at = SteadyClock::now() + 300ms;
  timer->ArmAt(at);
  EXPECT_FALSE(Readable(*timer)) << "not before its time";
  ASSERT_TRUE(Readable(*timer, 5000));
  EXPECT_GE(SteadyClock::now(), at);
  EXPECT_TRUE(timer->TakeExpiry());
  EXPECT_FALSE(timer->TakeExpiry());
  EXPECT_FALSE(Readable(*timer));
}

TEST(DeadlineTimer, APassedDeadlineExpiresAtOnceAndDisarmTakesItBack) {
  auto timer = DeadlineTimer::Create();
  ASSERT_TRUE(timer);
  timer->ArmAt(SteadyClock::now() - 1s);
  EXPECT_TRUE(Readable(*timer, 5000));
  timer->Disarm();
  EXPECT_FALSE(Readable(*timer));
  EXPECT_FALSE(timer->TakeExpiry());
  // Armed again further off, then disarmed: nothing comes.
  timer->ArmAt(SteadyClock::now() + 20ms);
  timer->Disarm();
  EXPECT_FALSE(Readable(*timer, 60));
}

}  // namespace
}  // namespace velmora::platform
