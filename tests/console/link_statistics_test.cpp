// The link test's arithmetic: the PRBS-9 pattern, a burst against its echo, the rate's interval
// and the round-trip summary.
#include "console/link_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

namespace velmora::console {
namespace {

using std::chrono::milliseconds;

TEST(Prbs9, IsTheMaximalSequenceOfNineBits) {
  Prbs9 prbs;
  std::vector<bool> bits;
  for (int i = 0; i < 2 * 511; ++i) bits.push_back(prbs.NextBit());
  EXPECT_TRUE(std::equal(bits.begin(), bits.begin() + 511, bits.begin() + 511)) << "period 511";
  for (int p = 1; p < 511; ++p)
    if (std::equal(bits.begin(), bits.begin() + 511, bits.begin() + p)) FAIL() << "shorter period " << p;
  EXPECT_EQ(std::count(bits.begin(), bits.begin() + 511, true), 256);
  // A maximal sequence holds one run of nine ones and one of eight zeros, none longer.
  size_t longest[2] = {0, 0}, run = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    run = (i > 0 && bits[i] == bits[i - 1]) ? run + 1 : 1;
    longest[bits[i]] = std::max(longest[bits[i]], run);
  }
  EXPECT_EQ(longest[1], 9u);
  EXPECT_EQ(longest[0], 8u);
}

TEST(Prbs9, BytesCarryTheBitsInLineOrder) {
  Prbs9 bitwise, bytewise;
  const std::string bytes = bytewise.NextBytes(3);
  for (char c : bytes)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(bitwise.NextBit(), ((static_cast<uint8_t>(c) >> i) & 1) != 0);
}

TEST(CompareEcho, CountsBytesAndBitsInErrorAndMissingBytesWhole) {
  struct Case {
    const char* name;
    std::string sent, echo;
    size_t bytesInError, bitsInError;
  };
  const std::string burst("\x55\xAA\x00\xFF", 4);
  const Case cases[] = {
      {"same", burst, burst, 0, 0},
      {"one bit", burst, std::string("\x54\xAA\x00\xFF", 4), 1, 1},
      {"three bits in one byte, one in another", burst, std::string("\x55\xAA\x07\x7F", 4), 2, 4},
      {"two bytes missing", burst, burst.substr(0, 2), 2, 16},
      {"nothing", burst, "", 4, 32},
      {"more than sent", burst, burst + "zz", 0, 0},
  };
  for (const Case& c : cases) {
    const EchoComparison r = CompareEcho(c.sent, c.echo);
    EXPECT_EQ(r.bytesCompared, c.sent.size()) << c.name;
    EXPECT_EQ(r.bytesInError, c.bytesInError) << c.name;
    EXPECT_EQ(r.bitsInError, c.bitsInError) << c.name;
  }
}

TEST(EstimateRate, WilsonIntervalAtNinetyFivePercent) {
  struct Case {
    uint64_t events, trials;
    double rate, lower, upper;
  };
  // The Wilson score interval's values for these counts (z = 1.96).
  const Case cases[] = {
      {0, 0, 0, 0, 1},
      {0, 1000, 0, 0, 0.003827},
      {5, 100, 0.05, 0.02154, 0.11175},
      {100, 100, 1, 0.96301, 1},
      {1, 2, 0.5, 0.09453, 0.90547},
  };
  for (const Case& c : cases) {
    const RateEstimate r = EstimateRate(c.events, c.trials);
    EXPECT_NEAR(r.rate, c.rate, 1e-9) << c.events << "/" << c.trials;
    EXPECT_NEAR(r.lower, c.lower, 5e-5) << c.events << "/" << c.trials;
    EXPECT_NEAR(r.upper, c.upper, 5e-5) << c.events << "/" << c.trials;
  }
}

TEST(SummariseRoundTrips, NearestRankOfTheTimesMeasured) {
  std::vector<std::chrono::nanoseconds> times;
  for (int i = 1; i <= 100; ++i) times.push_back(milliseconds(i));
  std::shuffle(times.begin(), times.end(), std::mt19937(7));
  RoundTripSummary s = SummariseRoundTrips(times);
  EXPECT_EQ(s.count, 100u);
  EXPECT_EQ(s.least, milliseconds(1));
  EXPECT_EQ(s.median, milliseconds(50));
  EXPECT_EQ(s.percentile95, milliseconds(95));
  EXPECT_EQ(s.worst, milliseconds(100));

  s = SummariseRoundTrips({milliseconds(7)});
  EXPECT_EQ(s.least, milliseconds(7));
  EXPECT_EQ(s.median, milliseconds(7));
  EXPECT_EQ(s.percentile95, milliseconds(7));

  s = SummariseRoundTrips({});
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.worst, std::chrono::nanoseconds::zero());
}

}  // namespace
}  // namespace velmora::console
