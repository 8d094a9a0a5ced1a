#include "console/link_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace velmora::console {

bool Prbs9::NextBit() {
  const bool bit = ((state_ >> 8) ^ (state_ >> 4)) & 1u;
  state_ = static_cast<uint16_t>(((state_ << 1) | (bit ? 1u : 0u)) & 0x1FFu);
  return bit;
}

uint8_t Prbs9::NextByte() {
  uint8_t byte = 0;
  for (int i = 0; i < 8; ++i)
    if (NextBit()) byte = static_cast<uint8_t>(byte | (1u << i));
  return byte;
}

std::string Prbs9::NextBytes(size_t count) {
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(NextByte());
  return bytes;
}

EchoComparison CompareEcho(const std::string& sent, const std::string& echo) {
  EchoComparison result;
  result.bytesCompared = sent.size();
  for (size_t i = 0; i < sent.size(); ++i) {
    if (i >= echo.size()) {
      result.bytesInError += 1;
      result.bitsInError += 8;
      continue;
    }
    const auto diff = static_cast<uint8_t>(sent[i] ^ echo[i]);
    if (diff == 0) continue;
    result.bytesInError += 1;
    result.bitsInError += static_cast<size_t>(std::popcount(diff));
  }
  return result;
}

RateEstimate EstimateRate(uint64_t events, uint64_t trials) {
  if (trials == 0) return {};
  constexpr double z = 1.959963984540054;  // two-sided 95 %
  const double n = static_cast<double>(trials);
  const double p = static_cast<double>(std::min(events, trials)) / n;
  const double z2 = z * z;
  const double denominator = 1 + z2 / n;
  const double centre = (p + z2 / (2 * n)) / denominator;
  const double half = z / denominator * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  return {p, std::max(0.0, centre - half), std::min(1.0, centre + half)};
}

RoundTripSummary SummariseRoundTrips(std::vector<std::chrono::nanoseconds> times) {
  RoundTripSummary summary;
  if (times.empty()) return summary;
  std::sort(times.begin(), times.end());
  const auto rank = [&](double fraction) {
    const auto index = static_cast<size_t>(std::ceil(fraction * static_cast<double>(times.size())));
    return times[std::clamp<size_t>(index, 1, times.size()) - 1];
  };
  summary.count = times.size();
  summary.least = times.front();
  summary.median = rank(0.5);
  summary.percentile95 = rank(0.95);
  summary.worst = times.back();
  return summary;
}

}  // namespace velmora::console
