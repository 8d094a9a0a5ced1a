#pragma once
// The link test's arithmetic, free of the window and the clock: the PRBS-9 test pattern, the
// comparison of a burst with its echo, a proportion's confidence interval and the round-trip
// times' summary. Pure functions and value types; no threads, no errors raised.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::console {

// The pseudo-random bit sequence of polynomial x^9 + x^5 + 1 (ITU-T O.150), period 511 bits,
// from the all-ones state. Bytes are filled first bit first into the least significant bit, the
// order a UART sends them, so a burst's bits on the line run the sequence in order.
class Prbs9 {
 public:
  bool NextBit();
  uint8_t NextByte();
  std::string NextBytes(size_t count);

 private:
  uint16_t state_ = 0x1FF;
};

// A burst compared with what came back: every byte the echo lacks counts as a byte in error
// with all its bits; bytes past the burst's length are not compared.
struct EchoComparison {
  size_t bytesCompared = 0;  // the burst's length
  size_t bytesInError = 0;
  size_t bitsInError = 0;
};
EchoComparison CompareEcho(const std::string& sent, const std::string& echo);

// A proportion of `events` in `trials` with its two-sided 95 % Wilson score interval; with no
// trials the rate is 0 and the interval [0, 1].
struct RateEstimate {
  double rate = 0;
  double lower = 0;
  double upper = 1;
};
RateEstimate EstimateRate(uint64_t events, uint64_t trials);

// Least, median, 95th percentile and worst of a set of round-trip times, by nearest rank (each is
// one of the times measured); `count` 0 means none was measured and the rest are zero.
struct RoundTripSummary {
  size_t count = 0;
  std::chrono::nanoseconds least{}, median{}, percentile95{}, worst{};
};
RoundTripSummary SummariseRoundTrips(std::vector<std::chrono::nanoseconds> times);

}  // namespace velmora::console
