#pragma once
// The traffic counters are 32-bit signed, as the statistics show them; past the largest value
// they wrap round to the most negative one rather than overflowing (which C++ leaves undefined).

#include <cstdint>

namespace velmora::console {

constexpr int32_t AddWrapping(int32_t counter, uint32_t amount) {
  return static_cast<int32_t>(static_cast<uint32_t>(counter) + amount);
}

}  // namespace velmora::console
