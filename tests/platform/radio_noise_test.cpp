// The simulated radio's noise as an operator writes it.
#include "platform/sim/sim_devices.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using sim::RadioLink;

TEST(RadioNoise, ReadsWhatIsWrittenAndRefusesTheRestWhole) {
  const auto noise = RadioLink::ParseNoise("ber=1e-3,loss=0.05,delay=20,seed=7");
  ASSERT_TRUE(noise);
  EXPECT_DOUBLE_EQ(noise->bitErrorRate, 1e-3);
  EXPECT_DOUBLE_EQ(noise->burstLossRate, 0.05);
  EXPECT_EQ(noise->maxExtraDelay, 20ms);
  EXPECT_EQ(noise->seed, 7u);

  const auto some = RadioLink::ParseNoise("loss=0.5");
  ASSERT_TRUE(some);
  EXPECT_EQ(some->bitErrorRate, 0);
  EXPECT_EQ(some->maxExtraDelay, 0ms);
  EXPECT_EQ(some->seed, 1u);

  for (const char* refused : {"", "ber", "ber=", "ber=2", "loss=-0.1", "delay=1e9", "seed=-1", "seed=x",
                              "ber=1e-3,", "colour=red", "ber=0.1x", "ber=nan"})
    EXPECT_FALSE(RadioLink::ParseNoise(refused)) << refused;
}

}  // namespace
}  // namespace velmora::platform
