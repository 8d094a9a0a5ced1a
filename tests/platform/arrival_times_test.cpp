// Arrival times of received bytes, taken by the device's I/O thread and handed over beside
// the reads: on a pseudo-terminal whose far end the test plays.
#include "platform/comm_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/posix/tty_line_driver_linux.h"
#include "tests/support/device_io.h"
#include "tests/support/pty_pair.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

class ArrivalTimes : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenResult r = OpenSystemDevice(pair_.SlavePath());
    ASSERT_TRUE(r.device) << r.error << ": " << r.detail;
    dev_ = std::move(r.device);
    ASSERT_TRUE(dev_->SetCommState(test::Line(115200)));
    ASSERT_TRUE(dev_->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}));
  }

  // Waits (bounded) until the device holds `count` bytes, so that one read takes them all.
  void AwaitQueued(uint32_t count) {
    const auto until = Steady::now() + 5s;
    while (test::InQueue(*dev_) < count && Steady::now() < until) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(test::InQueue(*dev_), count);
  }

  // Writes `bytes` on the far end; the moment just before.
  Steady::time_point FarEndWrites(std::string_view bytes) {
    const auto before = Steady::now();
    pair_.Write(bytes);
    return before;
  }

  test::PtyPair pair_;
  std::unique_ptr<CommDevice> dev_;
};

TEST_F(ArrivalTimes, FramesTwoMillisecondsApartKeepTheirOwnTimesThroughOneLateRead) {
  const std::string poll("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
  const std::string answer("\x01\x03\x02\x00\x0A\x38\x43", 7);
  const auto pollBefore = FarEndWrites(poll);
  AwaitQueued(8);  // however late the I/O thread is, the two frames are read apart
  std::this_thread::sleep_for(2ms);
  const auto answerBefore = FarEndWrites(answer);
  AwaitQueued(15);
  std::this_thread::sleep_for(20ms);  // the read comes well after both: its own time is not theirs

  EXPECT_EQ(test::ReadUpTo(*dev_, 15).data, poll + answer);
  std::vector<ArrivalTime> times;
  EXPECT_EQ(dev_->TakeArrivalTimes(times), 15u);
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[0].position, 0u);
  EXPECT_EQ(times[1].position, 8u);
  // Taken when the bytes were read off the line: after the far end's write began, before the
  // next write (the I/O thread may be late, never early).
  EXPECT_GE(times[0].time, pollBefore);
  EXPECT_LT(times[0].time, answerBefore);
  EXPECT_GE(times[1].time, answerBefore);
  EXPECT_GE(times[1].time - times[0].time, 2ms);

  // Taken once: the next call has nothing new and the same count.
  times.clear();
  EXPECT_EQ(dev_->TakeArrivalTimes(times), 15u);
  EXPECT_TRUE(times.empty());
}

TEST_F(ArrivalTimes, AReadThatStartsInsideAPieceGetsThatPiecesTimeAtItsFirstByte) {
  FarEndWrites("ABCDEFGH");
  AwaitQueued(8);
  std::this_thread::sleep_for(3ms);
  const auto secondBefore = FarEndWrites("IJ");
  AwaitQueued(10);

  EXPECT_EQ(test::ReadUpTo(*dev_, 3).data, "ABC");
  EXPECT_EQ(test::ReadUpTo(*dev_, 7).data, "DEFGHIJ");
  std::vector<ArrivalTime> times;
  EXPECT_EQ(dev_->TakeArrivalTimes(times), 10u);
  ASSERT_EQ(times.size(), 3u);
  EXPECT_EQ(times[0].position, 0u);
  EXPECT_EQ(times[1].position, 3u);
  EXPECT_EQ(times[1].time, times[0].time);
  EXPECT_EQ(times[2].position, 8u);
  EXPECT_GE(times[2].time, secondBefore);
}

TEST_F(ArrivalTimes, PurgedBytesTakeTheirTimesWithThem) {
  FarEndWrites("old");
  AwaitQueued(3);
  ASSERT_TRUE(dev_->PurgeComm(PURGE_RXCLEAR));
  std::this_thread::sleep_for(3ms);
  const auto newBefore = FarEndWrites("new");
  AwaitQueued(3);

  EXPECT_EQ(test::ReadUpTo(*dev_, 3).data, "new");
  std::vector<ArrivalTime> times;
  EXPECT_EQ(dev_->TakeArrivalTimes(times), 3u);
  ASSERT_EQ(times.size(), 1u);
  EXPECT_EQ(times[0].position, 0u);
  EXPECT_GE(times[0].time, newBefore);
}

}  // namespace
}  // namespace velmora::platform
