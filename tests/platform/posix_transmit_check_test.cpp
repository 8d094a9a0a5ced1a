// The transmit-empty decision of a tty: with the UART's empty bit, and from the kernel's queue
// plus the FIFO's drain time where the driver has no such bit.
#include "platform/posix/transmit_empty_check.h"

#include <gtest/gtest.h>

namespace velmora::platform::posix {
namespace {

using namespace std::chrono_literals;

const Clock::TimePoint t0{};
constexpr Clock::Duration kChar9600 = 1042us;  // 10 bits at 9600 baud
constexpr uint32_t kFifo = 16;

TEST(TransmitEmptyCheck, TheEmptyBitDecidesAndRecheckFollowsTheQueue) {
  TransmitEmptyCheck check;
  EXPECT_FALSE(check.Check(t0, kChar9600, kFifo, 10, false));
  EXPECT_EQ(check.RecheckAt(), t0 + 10 * kChar9600);  // when the ten queued bytes should be out
  EXPECT_FALSE(check.Check(t0, kChar9600, kFifo, 0, false));
  EXPECT_EQ(check.RecheckAt(), t0 + kChar9600);  // the shift register: about one character
  EXPECT_TRUE(check.Check(t0 + 2ms, kChar9600, kFifo, 0, true));
  EXPECT_EQ(check.RecheckAt(), std::nullopt);  // nothing pending: no wake-ups
}

TEST(TransmitEmptyCheck, RechecksNeverComeSoonerThanOneMillisecond) {
  TransmitEmptyCheck check;
  const Clock::Duration char250k = 40us;
  EXPECT_FALSE(check.Check(t0, char250k, kFifo, 3, false));
  EXPECT_EQ(check.RecheckAt(), t0 + 1ms);
  EXPECT_FALSE(check.Check(t0, char250k, kFifo, 3, std::nullopt));
  EXPECT_EQ(check.RecheckAt(), t0 + 1ms);
}

TEST(TransmitEmptyCheck, WithoutTheBitTheFifoMustDrainAfterTheQueueEmptied) {
  TransmitEmptyCheck check;
  EXPECT_FALSE(check.Check(t0, kChar9600, kFifo, 5, std::nullopt));
  const Clock::TimePoint emptied = t0 + 5ms;
  EXPECT_FALSE(check.Check(emptied, kChar9600, kFifo, 0, std::nullopt));
  const Clock::TimePoint drained = emptied + (kFifo + 1) * kChar9600;
  EXPECT_EQ(check.RecheckAt(), drained);
  EXPECT_FALSE(check.Check(drained - 1us, kChar9600, kFifo, 0, std::nullopt));
  EXPECT_TRUE(check.Check(drained, kChar9600, kFifo, 0, std::nullopt));
  EXPECT_EQ(check.RecheckAt(), std::nullopt);
}

TEST(TransmitEmptyCheck, NewOutputRestartsTheDrainAndDropsAStaleRecheck) {
  TransmitEmptyCheck check;
  EXPECT_FALSE(check.Check(t0, kChar9600, kFifo, 0, std::nullopt));
  check.BytesAccepted();
  EXPECT_EQ(check.RecheckAt(), std::nullopt);  // output blocked for long must not mean a stale deadline
  const Clock::TimePoint later = t0 + 100ms;
  EXPECT_FALSE(check.Check(later, kChar9600, kFifo, 0, std::nullopt));  // a fresh drain time, from now
  EXPECT_EQ(check.RecheckAt(), later + (kFifo + 1) * kChar9600);

  check.Cancel();
  EXPECT_EQ(check.RecheckAt(), std::nullopt);
}

}  // namespace
}  // namespace velmora::platform::posix
