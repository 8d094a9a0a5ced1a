// Output handed to a driver against what the line has taken, and when to look again.
#include "platform/output_ledger.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using TimePoint = Clock::TimePoint;

TEST(OutputLedger, SentIsWhatLeftTheDriverAndNeverGoesBack) {
  OutputLedger ledger;
  ledger.Feed(100);
  ledger.Observe(100);
  EXPECT_EQ(ledger.Sent(), 0u);
  ledger.Observe(40);
  EXPECT_EQ(ledger.Sent(), 60u);
  ledger.Observe(41);  // an XON sent ahead of the queue
  EXPECT_EQ(ledger.Sent(), 60u);
  ledger.Observe(1000);  // more queued than fed: nothing is assumed sent
  EXPECT_EQ(ledger.Sent(), 60u);

  ledger.DropUnsent();  // the driver's output purged
  EXPECT_EQ(ledger.Fed(), 60u);
  EXPECT_EQ(ledger.Unsent(), 0u);
  ledger.Feed(10);
  ledger.Observe(0);
  EXPECT_EQ(ledger.Sent(), 70u);
}

TEST(OutputLedger, LooksAgainWhenTheBytesShouldBeOutThenBacksOffWhileNothingMoves) {
  OutputLedger ledger;
  const TimePoint t0{};
  const Clock::Duration character = 1ms;
  ledger.Feed(20);
  ledger.Observe(20);
  // 20 characters of a millisecond each.
  EXPECT_EQ(ledger.RecheckAt(t0, character, 20), t0 + 20ms);
  EXPECT_EQ(ledger.RecheckAt(t0 + 5ms, character, 20), t0 + 20ms) << "an early look changes nothing";
  // Nothing moved by then: the line is held. Each fruitless look waits longer, up to a limit.
  EXPECT_EQ(ledger.RecheckAt(t0 + 20ms, character, 20), t0 + 60ms);
  EXPECT_EQ(ledger.RecheckAt(t0 + 60ms, character, 20), t0 + 140ms);
  TimePoint now = t0 + 140ms;
  for (int i = 0; i < 10; ++i) now = *ledger.RecheckAt(now, character, 20);
  EXPECT_EQ(*ledger.RecheckAt(now, character, 20) - now, OutputLedger::kLongestRecheck);

  // Movement: back to the time the rest needs, never less than a millisecond.
  ledger.Observe(5);
  EXPECT_EQ(ledger.RecheckAt(now, character, 20), now + 5ms);
  ledger.Observe(0);
  EXPECT_EQ(ledger.RecheckAt(now, character, 20), std::nullopt) << "all out: no look needed";
  ledger.Feed(1);
  ledger.Observe(1);
  EXPECT_EQ(ledger.RecheckAt(now, 10us, 21), now + 1ms);
}

}  // namespace
}  // namespace velmora::platform
