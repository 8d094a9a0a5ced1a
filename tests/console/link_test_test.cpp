// The link test's run on a line the test plays by hand: what it sends, when it gives up on an
// echo or a burst, how it classes each burst and what it leaves out.
#include "console/link_test.h"

#include <gtest/gtest.h>

namespace velmora::console {
namespace {

using namespace std::chrono_literals;
using TimePoint = LinkTest::TimePoint;

class HandLine : public ::testing::Test {
 protected:
  LinkTest Make(LinkTestPlan plan) {
    return LinkTest(std::move(plan), {[this](const std::string& b) { sent.push_back(b); }, [this] { ++abandoned; }});
  }
  static LinkTestPlan Plan(size_t count) {
    LinkTestPlan plan;
    plan.burstLength = 8;
    plan.burstCount = count;
    plan.pause = 100ms;
    plan.timeout = 500ms;
    plan.sendLimit = 2s;
    return plan;
  }
  // Moves the clock to `at`, stepping the run at every deadline on the way.
  void RunUntil(LinkTest& test, TimePoint at) {
    while (test.NextDeadline() && *test.NextDeadline() <= at) {
      now = *test.NextDeadline();
      test.OnTime(now);
    }
    now = at;
  }

  TimePoint now{};
  std::vector<std::string> sent;
  int abandoned = 0;
};

TEST_F(HandLine, ClassesEachBurstAndTimesTheRoundTripFromTheEndOfOurBurst) {
  LinkTest test = Make(Plan(4));
  test.Start(now);
  ASSERT_EQ(sent.size(), 1u);

  // 1: whole, the echo in two pieces; 40 ms after our burst's end.
  now += 10ms;
  test.OnBurstEnded(now);
  test.OnReceived(sent[0].substr(0, 3), now + 20ms);
  test.OnReceived(sent[0].substr(3), now + 40ms);
  RunUntil(test, now + 40ms + 100ms);
  ASSERT_EQ(sent.size(), 2u) << "the next burst after the pause";

  // 2: damaged, one bit wrong and a byte too many (stray).
  test.OnBurstEnded(now += 10ms);
  std::string echo = sent[1] + "x";
  echo[5] = static_cast<char>(echo[5] ^ 0x10);
  test.OnReceived(echo, now + 30ms);
  RunUntil(test, now + 30ms + 100ms);

  // 3: lost: nothing back before the time-out.
  test.OnBurstEnded(now += 10ms);
  RunUntil(test, now + 499ms);
  EXPECT_EQ(sent.size(), 3u);
  RunUntil(test, now + 1ms + 100ms);
  ASSERT_EQ(sent.size(), 4u);

  // A late echo of the lost burst during the pause is stray, not the next burst's.
  // 4: damaged: half the echo when the time-out runs out.
  test.OnBurstEnded(now += 10ms);
  test.OnReceived(sent[3].substr(0, 4), now + 5ms);
  RunUntil(test, now + 500ms);
  test.OnReceived("late", now);
  RunUntil(test, now + 100ms);
  EXPECT_TRUE(test.Finished());
  EXPECT_FALSE(test.NextDeadline());
  EXPECT_EQ(sent.size(), 4u);

  const auto& b = test.Bursts();
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0].outcome, BurstOutcome::Whole);
  EXPECT_EQ(b[0].roundTrip, 40ms);
  EXPECT_EQ(b[1].outcome, BurstOutcome::Damaged);
  EXPECT_EQ(b[1].bitsInError, 1u);
  EXPECT_EQ(b[1].roundTrip, 30ms) << "a full-length echo is timed, damaged or not";
  EXPECT_EQ(b[2].outcome, BurstOutcome::Lost);
  EXPECT_FALSE(b[2].roundTrip);
  EXPECT_EQ(b[3].outcome, BurstOutcome::Damaged);
  EXPECT_EQ(b[3].bytesInError, 4u);
  EXPECT_FALSE(b[3].roundTrip) << "no time for an echo that never ended";

  const LinkTestSummary s = test.Summary();
  EXPECT_EQ(s.sent, 4u);
  EXPECT_EQ(s.whole, 1u);
  EXPECT_EQ(s.damaged, 2u);
  EXPECT_EQ(s.lost, 1u);
  EXPECT_EQ(s.bitsCompared, 3u * 64) << "lost bursts are left out of the bit-error rate";
  EXPECT_EQ(s.bitsInError, 1u + 32);
  EXPECT_EQ(s.strayBytes, 1u + 4);
  EXPECT_EQ(s.roundTrip.count, 2u);
  EXPECT_EQ(s.roundTrip.worst, 40ms);
  EXPECT_NEAR(s.lossRate.rate, 0.25, 1e-12);
  EXPECT_FALSE(s.stopped);
  EXPECT_EQ(abandoned, 0);
}

TEST_F(HandLine, AnEchoWholeBeforeOurBurstEndsIsTimedAsNoWait) {
  // A loopback plug: the echo's last byte is read before the transmitter reports empty.
  LinkTest test = Make(Plan(1));
  test.Start(now);
  test.OnReceived(sent[0], now + 8ms);
  test.OnBurstEnded(now + 9ms);
  ASSERT_EQ(test.Bursts().size(), 1u);
  EXPECT_EQ(test.Bursts()[0].outcome, BurstOutcome::Whole);
  EXPECT_EQ(test.Bursts()[0].roundTrip, 0ms);
}

TEST_F(HandLine, ABurstNeverEndedIsAbandonedAtItsLimitAndTheRunGoesOn) {
  LinkTest test = Make(Plan(2));
  test.Start(now);
  RunUntil(test, now + 2s - 1ns);
  EXPECT_EQ(abandoned, 0);
  RunUntil(test, now + 1ns);
  EXPECT_EQ(abandoned, 1) << "RTS must not stay up for a burst the keyer holds";
  test.OnBurstEnded(now);  // the drop of RTS reported back: no echo awaited for it
  EXPECT_EQ(*test.NextDeadline(), now + 100ms);
  RunUntil(test, now + 100ms);
  EXPECT_EQ(sent.size(), 2u);
  const LinkTestSummary s = test.Summary();
  EXPECT_EQ(s.notSent, 1u);
  EXPECT_EQ(s.sent, 0u);
}

TEST_F(HandLine, StopEndsAtOnceAndLeavesTheUnfinishedBurstOut) {
  struct Case {
    const char* name;
    bool burstEnded;
    int abandoned;
  };
  for (const Case c : {Case{"while sending", false, 1}, Case{"while awaiting the echo", true, 0}}) {
    abandoned = 0;
    sent.clear();
    LinkTest test = Make(Plan(5));
    test.Start(now);
    test.OnBurstEnded(now + 10ms);
    test.OnReceived(sent[0], now + 20ms);
    RunUntil(test, now + 20ms + 100ms);
    ASSERT_EQ(sent.size(), 2u);
    if (c.burstEnded) test.OnBurstEnded(now + 10ms);
    test.Stop(now + 15ms);
    test.OnReceived(sent[1], now + 30ms);
    EXPECT_FALSE(test.Running()) << c.name;
    EXPECT_FALSE(test.NextDeadline()) << c.name;
    EXPECT_EQ(abandoned, c.abandoned) << c.name;
    EXPECT_EQ(test.Bursts().size(), 1u) << c.name;
    EXPECT_TRUE(test.Summary().stopped) << c.name;
    EXPECT_EQ(test.Summary().elapsed, 135ms) << c.name;
  }
}

TEST_F(HandLine, ADurationRunSendsNoBurstOnceItsTimeIsUp) {
  LinkTestPlan plan = Plan(0);
  plan.duration = 1s;
  LinkTest test = Make(plan);
  test.Start(now);
  // Each burst: 10 ms out, its echo 10 ms later, 100 ms pause: a burst every 120 ms.
  for (int i = 0; i < 100 && test.Running(); ++i) {
    test.OnBurstEnded(now += 10ms);
    test.OnReceived(sent.back(), now += 10ms);
    RunUntil(test, now + 100ms);
  }
  EXPECT_TRUE(test.Finished());
  EXPECT_EQ(sent.size(), 9u) << "bursts start at 0, 120 … 960 ms";
}

TEST_F(HandLine, PatternsRunOnAcrossBurstsOrRepeatTheStoredFrame) {
  const auto bursts = [this](LinkTestPlan plan) {
    sent.clear();
    LinkTest test = Make(plan);
    test.Start(now);
    for (int i = 0; i < 3; ++i) {
      test.OnBurstEnded(now);
      test.OnReceived(sent.back(), now);
      RunUntil(test, now + 100ms);
    }
    return sent;
  };
  LinkTestPlan plan = Plan(3);
  Prbs9 prbs;
  const std::string sequence = prbs.NextBytes(24);
  EXPECT_EQ(bursts(plan), (std::vector<std::string>{sequence.substr(0, 8), sequence.substr(8, 8), sequence.substr(16)}));

  plan.pattern = LinkPattern::StoredFrame;
  plan.storedFrame = "POLL\r";
  EXPECT_EQ(bursts(plan), (std::vector<std::string>(3, "POLL\r")));

  plan.pattern = LinkPattern::RandomBytes;
  const auto first = bursts(plan);
  EXPECT_EQ(bursts(plan), first) << "the same seed, the same bytes";
  EXPECT_NE(first[0], first[1]);
  plan.seed = 2;
  EXPECT_NE(bursts(plan), first);
}

TEST_F(HandLine, LineErrorsCountWithTheBurstUnderWayAndInTheRunsTotalsAtOnce) {
  LinkTest test = Make(Plan(2));
  test.Start(now);
  test.OnLineErrors(2, true);
  EXPECT_EQ(test.Summary().breaks, 1u) << "shown while the burst is still under way";
  test.OnBurstEnded(now);
  test.OnReceived(sent[0], now);
  test.OnLineErrors(1, false);  // in the pause
  EXPECT_EQ(test.Bursts()[0].lineErrors, 2u);
  EXPECT_EQ(test.Bursts()[0].breaks, 1u);
  RunUntil(test, now + 100ms);
  test.OnLineErrors(1, true);
  test.Stop(now);  // the second burst is left out, its errors are not
  EXPECT_EQ(test.Bursts().size(), 1u);
  EXPECT_EQ(test.Summary().lineErrors, 4u);
  EXPECT_EQ(test.Summary().breaks, 2u);
}

}  // namespace
}  // namespace velmora::console
