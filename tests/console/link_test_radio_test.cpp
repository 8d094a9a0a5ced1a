// The link test through the simulated radio with noise on its far station's echoes, on a manual
// clock: the rates it reports hold the injected ones within their intervals, whatever the seed,
// and its round trips are the radio's own delays.
#include "console/link_test.h"

#include <gtest/gtest.h>

#include "platform/comm_core.h"
#include "platform/sim/sim_devices.h"
#include "tests/support/device_io.h"

namespace velmora::console {
namespace {

using namespace std::chrono_literals;
using platform::ManualClock;
using platform::sim::RadioLink;

struct RadioRun {
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<RadioLink> radio = RadioLink::Create(clock);
  std::unique_ptr<platform::CommDevice> dev;

  RadioRun() {
    platform::OpenResult opened = radio->Endpoint()->Open();
    dev = std::move(opened.device);
    if (!dev || !dev->SetCommState(test::Line(9600)) ||
        !dev->SetCommTimeouts({platform::MAXDWORD, 0, 0, 0, 0}) || !dev->SetCommMask(platform::EV_RXCHAR))
      throw std::runtime_error("the radio did not open");
  }

  // Drives the run as the window does: each burst keyed, sent and unkeyed; the line moved to the
  // run's next deadline; what the far station sent by then handed over, timed by its last bit.
  void Run(LinkTest& test, std::optional<std::string>& pending) {
    size_t farSent = 0;
    test.Start(clock->Now());
    for (int step = 0; step < 100000 && test.Running(); ++step) {
      if (pending) {
        ASSERT_TRUE(dev->EscapeCommFunction(platform::SETRTS));
        // A FIFO's worth at a time: a write completes once the line has taken its bytes, and
        // the next is queued the moment the last one's bytes have left, as a driver keeps it fed.
        for (size_t at = 0; at < pending->size(); at += platform::sim::kSimFifoDepth) {
          const std::string part = pending->substr(at, platform::sim::kSimFifoDepth);
          ASSERT_TRUE(test::WriteAll(*dev, part).completed);
          clock->Advance(radio->CharacterTime(0) * part.size());
          radio->CatchUp();
        }
        ASSERT_TRUE(dev->EscapeCommFunction(platform::CLRRTS));
        pending.reset();
        test.OnBurstEnded(clock->Now());
        continue;
      }
      clock->Advance(*test.NextDeadline() - clock->Now());
      radio->CatchUp();
      const auto far = radio->SentLog(1);
      if (far.size() > farSent) {
        const std::string echo = test::ReadExactly(*dev, far.size() - farSent);
        ASSERT_EQ(echo.size(), far.size() - farSent);
        test.OnReceived(echo, far.back().at);
        farSent = far.size();
      }
      test.OnTime(clock->Now());
    }
    ASSERT_TRUE(test.Finished());
  }
};

LinkTestPlan Plan() {
  LinkTestPlan plan;
  plan.burstLength = 64;
  plan.burstCount = 150;
  plan.pause = 20ms;
  plan.timeout = 400ms;
  return plan;
}

TEST(LinkTestOnRadio, ReportedRatesHoldTheInjectedOnesAndRoundTripsAreTheRadiosDelays) {
  constexpr double kBitErrorRate = 0.002, kLossRate = 0.1;
  for (uint64_t seed : {1u, 2u, 3u, 4u, 5u}) {
    RadioRun line;
    line.radio->SetTurnaround(50ms);
    line.radio->SetNoise({kBitErrorRate, kLossRate, 30ms, seed});
    std::optional<std::string> pending;
    LinkTest test(Plan(), {[&](const std::string& b) { pending = b; }, [] {}});
    line.Run(test, pending);
    if (HasFatalFailure()) return;

    const LinkTestSummary s = test.Summary();
    EXPECT_EQ(s.sent, 150u) << "seed " << seed;
    EXPECT_GT(s.lost, 0u) << "seed " << seed;
    EXPECT_GT(s.damaged, 0u) << "seed " << seed;
    EXPECT_LE(s.bitErrorRate.lower, kBitErrorRate) << "seed " << seed;
    EXPECT_GE(s.bitErrorRate.upper, kBitErrorRate) << "seed " << seed;
    EXPECT_LE(s.lossRate.lower, kLossRate) << "seed " << seed;
    EXPECT_GE(s.lossRate.upper, kLossRate) << "seed " << seed;
    EXPECT_EQ(s.strayBytes, 0u) << "seed " << seed;

    // Each echo that came back: turnaround, its extra delay, then the burst at the line rate.
    const auto extra = line.radio->ExtraDelays();
    ASSERT_EQ(extra.size(), s.sent - s.lost) << "seed " << seed;
    size_t echoed = 0;
    for (const BurstRecord& b : test.Bursts()) {
      if (b.outcome == BurstOutcome::Lost) continue;
      const auto expected = 50ms + extra[echoed++] + line.radio->CharacterTime(0) * 64;
      ASSERT_TRUE(b.roundTrip) << "seed " << seed << " burst " << b.number;
      EXPECT_LE(std::chrono::abs(*b.roundTrip - expected), 1us) << "seed " << seed << " burst " << b.number;
    }
  }
}

TEST(LinkTestOnRadio, AQuietRadioEchoesEveryBurstWhole) {
  RadioRun line;
  std::optional<std::string> pending;
  LinkTestPlan plan = Plan();
  plan.burstCount = 10;
  LinkTest test(plan, {[&](const std::string& b) { pending = b; }, [] {}});
  line.Run(test, pending);
  const LinkTestSummary s = test.Summary();
  EXPECT_EQ(s.whole, 10u);
  EXPECT_EQ(s.bitsInError, 0u);
  EXPECT_EQ(s.roundTrip.least, s.roundTrip.worst) << "no extra delay: every round trip the same";
  EXPECT_TRUE(line.radio->ExtraDelays().size() == 10u);
}

TEST(RadioNoise, TheSameSeedGivesTheSameNoise) {
  const auto run = [](uint64_t seed) {
    RadioRun line;
    line.radio->SetNoise({0.01, 0.2, 20ms, seed});
    std::optional<std::string> pending;
    LinkTestPlan plan = Plan();
    plan.burstCount = 20;
    LinkTest test(plan, {[&](const std::string& b) { pending = b; }, [] {}});
    line.Run(test, pending);
    std::vector<std::pair<BurstOutcome, size_t>> outcomes;
    for (const BurstRecord& b : test.Bursts()) outcomes.emplace_back(b.outcome, b.bitsInError);
    return std::make_pair(outcomes, line.radio->ExtraDelays());
  };
  EXPECT_EQ(run(9), run(9));
  EXPECT_NE(run(9), run(10));
}

}  // namespace
}  // namespace velmora::console
