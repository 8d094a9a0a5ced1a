// The shared driver semantics, exercised through the simulated devices.
#include "platform/sim/sim_devices.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/comm_core.h"
#include "platform/device_directory.h"
#include "tests/support/device_io.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using sim::LoopbackPlug;
using sim::NullModemPair;
using sim::RadioLink;
using test::ErrorWord;
using test::EventWait;
using test::InQueue;
using test::ModemStatus;
using test::ReadUpTo;
using test::WriteAll;

constexpr uint32_t kShortMs = 100;  // long enough for the I/O thread to act, when nothing must happen


// Collects events until every bit of `bits` was seen (events may arrive split over waits).
uint32_t WaitFor(EventWait& wait, uint32_t bits) {
  uint32_t seen = 0;
  while ((seen & bits) != bits) {
    const uint32_t mask = wait.WaitMask();
    if (mask == 0) break;
    seen |= mask;
  }
  return seen;
}

// Collects the error word until every bit of `bits` was seen.
uint32_t ErrorsUntil(CommDevice& dev, uint32_t bits) {
  uint32_t seen = 0;
  for (int i = 0; i < 500 && (seen & bits) != bits; ++i) {
    seen |= ErrorWord(dev);
    if ((seen & bits) != bits) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return seen;
}

CommTimeouts ReturnAtOnce() { return {MAXDWORD, 0, 0, 0, 0}; }

std::unique_ptr<CommDevice> Open(NamedDevice& named, const Dcb& dcb = test::Line(115200)) {
  OpenResult r = named.Open();
  EXPECT_TRUE(r.device) << r.error << " " << r.detail;
  if (!r.device) return nullptr;
  EXPECT_TRUE(r.device->SetCommState(dcb));
  EXPECT_TRUE(r.device->SetCommTimeouts(ReturnAtOnce()));
  EXPECT_TRUE(r.device->SetCommMask(0x07FF & ~EV_PERR));
  return std::move(r.device);
}

// An operation started now, on a record the test keeps.
struct PendingOp {
  std::unique_ptr<Event> event = Event::Create(true, false);
  Overlapped ov;
  std::string buffer;
  PendingOp(size_t size) : buffer(size, '\0') { ov.event = event.get(); }
  bool Done(uint32_t waitMs) { return WaitForOne(*event, waitMs).kind == WaitOutcome::Signalled; }
};

// A loopback plug on a manual clock: nothing moves until the test advances time.
class LoopbackTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<LoopbackPlug> plug = LoopbackPlug::Create(clock);
  std::unique_ptr<CommDevice> dev = Open(*plug->Endpoint(), test::Line(9600));

  // Runs the line for `time` in steps, as a steady clock would.
  void Run(Clock::Duration time) { clock->Advance(time); }

  // Moves time on in `step`s until `op` ends (it may be fed on the device's own thread only after
  // a step), at most `steps` times; whether it ended.
  bool RunUntilDone(PendingOp& op, int steps, Clock::Duration step, uint32_t waitMs) {
    for (int i = 0; i < steps; ++i) {
      Run(step);
      if (op.Done(waitMs)) return true;
    }
    return false;
  }
};

TEST_F(LoopbackTest, DataComesBackByteForByteAtTheLineRate) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  PendingOp write(0);
  ASSERT_EQ(dev->WriteFile(all.data(), static_cast<uint32_t>(all.size()), write.ov).kind, IoStart::Pending);
  EXPECT_EQ(InQueue(*dev), 0u) << "nothing may arrive before its character time";

  Run(plug->CharacterTime(0) * 256);
  EXPECT_EQ(test::ReadExactly(*dev, all.size()), all);
  ASSERT_TRUE(write.Done(test::kTestWaitMs)) << "complete once the line has taken every byte";
  EXPECT_EQ(plug->Sent(), all);
  // 9600 baud, 8N1: ten bits a character.
  EXPECT_EQ(plug->CharacterTime(0), std::chrono::nanoseconds(1'041'666));
}

TEST_F(LoopbackTest, ModemLinesFollowTheWiring) {
  EXPECT_EQ(ModemStatus(*dev), 0u);
  EventWait wait(*dev);
  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_CTS));
  EXPECT_EQ(ModemStatus(*dev), MS_CTS_ON);

  ASSERT_TRUE(dev->EscapeCommFunction(SETDTR));
  EXPECT_EQ(wait.WaitMask(), EV_DSR | EV_RLSD);
  EXPECT_EQ(ModemStatus(*dev), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);

  plug->SetRing(true);
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RING));
  ASSERT_TRUE(dev->EscapeCommFunction(CLRRTS));
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_CTS));
  EXPECT_EQ(ModemStatus(*dev), MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
}

TEST_F(LoopbackTest, ReceivedCharacterEventFiresOncePerArrival) {
  EventWait wait(*dev);
  plug->InjectReceived("ab");
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));

  // Nobody read: the queue still holds the bytes, yet no new event comes without new bytes.
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);
  uint32_t mask = 0;
  int error = 0;
  EXPECT_FALSE(wait.Wait(kShortMs, mask, error));
  plug->InjectReceived("c");
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));
  EXPECT_EQ(ReadUpTo(*dev, 10).data, "abc");
}

TEST_F(LoopbackTest, FullInputQueueStopsTakingDataAndLosesNothing) {
  ASSERT_TRUE(dev->SetupComm(64, 64));
  std::string all;
  for (int i = 0; i < 200; ++i) all.push_back(static_cast<char>('A' + i % 26));
  plug->InjectReceived(all);
  EventWait wait(*dev);
  EXPECT_NE(wait.WaitMask() & EV_RXCHAR, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
  ComStat stat;
  EXPECT_EQ(ErrorWord(*dev, &stat), 0u) << "held back, not overflowed";
  EXPECT_EQ(stat.cbInQue, 64u);

  EXPECT_EQ(test::ReadExactly(*dev, all.size()), all);
}

TEST_F(LoopbackTest, EightyPercentFullRaisesItsEventOnceOnTheWayUp) {
  ASSERT_TRUE(dev->SetupComm(100, 100));
  EventWait wait(*dev);
  plug->InjectReceived(std::string(79, 'x'));
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));
  plug->InjectReceived("y");
  EXPECT_EQ(wait.WaitMask(), EV_RXCHAR | EV_RX80FULL);
  plug->InjectReceived("z");
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));
}

TEST_F(LoopbackTest, InjectedErrorsSetTheirBitsOnceAndTheLineErrorEvent) {
  struct Case {
    const char* name;
    std::function<void()> inject;
    uint32_t errors;
    uint32_t events;
  };
  const Case cases[] = {
      {"frame", [&] { plug->InjectFrameError('x'); }, CE_FRAME, EV_ERR | EV_RXCHAR},
      {"overrun", [&] { plug->InjectOverrun(); }, CE_OVERRUN, EV_ERR},
      {"break", [&] { plug->InjectBreak(); }, CE_BREAK, EV_BREAK},
      {"frame and overrun",
       [&] {
         plug->InjectFrameError('x');
         plug->InjectOverrun();
       },
       CE_FRAME | CE_OVERRUN, EV_ERR | EV_RXCHAR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventWait wait(*dev);
    c.inject();
    EXPECT_EQ(WaitFor(wait, c.events), c.events);
    EXPECT_EQ(ErrorsUntil(*dev, c.errors), c.errors);
    EXPECT_EQ(ErrorWord(*dev), 0u) << "reading the error word clears it";
    (void)ReadUpTo(*dev, 10);
  }
}

TEST_F(LoopbackTest, ParityErrorsCountOnlyWhileCheckedAndAreReplacedWhenAsked) {
  struct Case {
    bool check, replace;
    uint32_t errors;
    std::string data;
  };
  for (const Case& c : {Case{false, false, 0, "p"}, Case{false, true, 0, "p"}, Case{true, false, CE_RXPARITY, "p"},
                        Case{true, true, CE_RXPARITY, "?"}}) {
    SCOPED_TRACE(testing::Message() << "check " << c.check << " replace " << c.replace);
    Dcb dcb = test::Line(9600);
    dcb.Parity = EVENPARITY;
    dcb.fParity = c.check;
    dcb.fErrorChar = c.replace;
    dcb.ErrorChar = '?';
    ASSERT_TRUE(dev->SetCommState(dcb));
    EventWait wait(*dev);
    plug->InjectParityError('p');
    EXPECT_NE(wait.WaitMask() & EV_RXCHAR, 0u);
    EXPECT_EQ(ErrorWord(*dev), c.errors);
    EXPECT_EQ(ReadUpTo(*dev, 10).data, c.data);
  }
}

TEST_F(LoopbackTest, NulDiscardingAndTheEventCharacter) {
  Dcb dcb = test::Line(9600);
  dcb.fNull = 1;
  dcb.EvtChar = '\r';
  ASSERT_TRUE(dev->SetCommState(dcb));
  EventWait wait(*dev);
  plug->InjectReceived(std::string("a\0b", 3));
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));
  EXPECT_EQ(ReadUpTo(*dev, 10).data, "ab");

  plug->InjectReceived("c\r");
  EXPECT_EQ(wait.WaitMask(), EV_RXCHAR | EV_RXFLAG);
  plug->InjectReceived(std::string(1, '\0'));  // discarded: no character, no event
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);
  uint32_t mask = 0;
  int error = 0;
  EXPECT_FALSE(wait.Wait(kShortMs, mask, error));
  EXPECT_EQ(ReadUpTo(*dev, 10).data, "c\r");
}

TEST_F(LoopbackTest, PurgeAbortsPendingWaitReadAndWrite) {
  ASSERT_TRUE(dev->SetCommTimeouts({0, 0, 0, 0, 0}));  // reads wait for all they asked
  auto readEvent = Event::Create(true, false);
  auto writeEvent = Event::Create(true, false);
  Overlapped readOv, writeOv;
  readOv.event = readEvent.get();
  writeOv.event = writeEvent.get();
  char in[8];
  // More than the driver's own buffer: the write stays pending on a line nobody runs.
  std::string out(sim::kSimBufferSize + 100, 'w');
  ASSERT_EQ(dev->ReadFile(in, sizeof in, readOv).kind, IoStart::Pending);
  ASSERT_EQ(dev->WriteFile(out.data(), static_cast<uint32_t>(out.size()), writeOv).kind, IoStart::Pending);
  EventWait wait(*dev);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);

  ASSERT_TRUE(dev->PurgeComm(PURGE_RXABORT | PURGE_TXABORT));
  uint32_t n = 0;
  EXPECT_EQ(dev->GetOverlappedResult(readOv, n, true).error, ECANCELED);
  EXPECT_EQ(dev->GetOverlappedResult(writeOv, n, true).error, ECANCELED);
  // An aborted write reports what the line took: the shift register and the FIFO.
  EXPECT_EQ(n, sim::kSimFifoDepth + 1);
  uint32_t mask = 0;
  int error = 0;
  EXPECT_TRUE(wait.Wait(test::kTestWaitMs, mask, error));
  EXPECT_EQ(error, ECANCELED);
  Run(10s);
  plug->CatchUp();
  EXPECT_EQ(plug->Sent(), out.substr(0, n)) << "the rest of an aborted write never goes out";
}

TEST_F(LoopbackTest, DefaultTimeoutsReturnAtOnceWithWhatIsQueued) {
  EXPECT_EQ(ReadUpTo(*dev, 10, kShortMs).data, "");
  plug->InjectReceived("xyz");
  EventWait wait(*dev);
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR));
  test::IoOutcome r = ReadUpTo(*dev, 10, kShortMs);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.data, "xyz");
}

TEST_F(LoopbackTest, ReadTimeoutsEndAReadWithWhatCame) {
  struct Case {
    const char* name;
    CommTimeouts timeouts;
    std::string arrives;
    Clock::Duration notYet, then;
    std::string result;
  };
  const Case cases[] = {
      // total = 10 ms per byte x 4 + 20 ms
      {"total timeout", {0, 10, 20, 0, 0}, "ab", 59ms, 1ms, "ab"},
      // 30 ms of silence after a byte ends it; no limit before the first byte
      {"interval timeout", {30, 0, 0, 0, 0}, "a", 29ms, 1ms, "a"},
      // return as soon as anything is there, or after the constant
      {"first bytes or constant", {MAXDWORD, MAXDWORD, 40, 0, 0}, "", 39ms, 1ms, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dev->SetCommTimeouts(c.timeouts));
    PendingOp read(4);
    ASSERT_EQ(dev->ReadFile(read.buffer.data(), 4, read.ov).kind, IoStart::Pending);
    if (!c.arrives.empty()) {
      // Once the arrival event is out, the device has taken the bytes at this very time.
      EventWait arrival(*dev);
      plug->InjectReceived(c.arrives);
      ASSERT_NE(WaitFor(arrival, EV_RXCHAR), 0u);
    }
    Run(c.notYet);
    EXPECT_FALSE(read.Done(kShortMs));
    Run(c.then);
    ASSERT_TRUE(read.Done(test::kTestWaitMs));
    uint32_t n = 0;
    EXPECT_TRUE(dev->GetOverlappedResult(read.ov, n, false));
    EXPECT_EQ(read.buffer.substr(0, n), c.result);
  }
  ASSERT_TRUE(dev->SetCommTimeouts({MAXDWORD, MAXDWORD, 40, 0, 0}));
  PendingOp read(4);
  ASSERT_EQ(dev->ReadFile(read.buffer.data(), 4, read.ov).kind, IoStart::Pending);
  plug->InjectReceived("z");
  EXPECT_TRUE(read.Done(test::kTestWaitMs)) << "the first byte ends the wait";
  uint32_t n = 0;
  EXPECT_TRUE(dev->GetOverlappedResult(read.ov, n, false));
  EXPECT_EQ(n, 1u);
}

TEST_F(LoopbackTest, TimeoutsTooLongForTheClockMeanNoTimeout) {
  ASSERT_TRUE(dev->SetCommTimeouts({0, MAXDWORD - 1, MAXDWORD - 1, 0, 0}));
  // MAXDWORD ms a byte over four million bytes: far past what a clock can add.
  PendingOp read(4'000'000);
  ASSERT_EQ(dev->ReadFile(read.buffer.data(), 4'000'000, read.ov).kind, IoStart::Pending);
  Run(24h);
  EXPECT_FALSE(read.Done(kShortMs));
  ASSERT_TRUE(dev->PurgeComm(PURGE_RXABORT));
  uint32_t n = 0;
  EXPECT_EQ(dev->GetOverlappedResult(read.ov, n, true).error, ECANCELED);
}

TEST_F(LoopbackTest, AWriteTimeoutCoversTheWholeTransferAndAbandonsTheRest) {
  struct Case {
    const char* name;
    bool ctsOn;
    std::string text;
    CommTimeouts timeouts;
    Clock::Duration deadline;
  };
  const Case cases[] = {
      // The engine's defaults: 100 ms a byte + 1000 ms.
      {"CTS off: nothing goes and the write gives up", false, "k", {MAXDWORD, 0, 0, 100, 1000}, 1100ms},
      {"a line too slow for the timeout", true, std::string(100, 's'), {MAXDWORD, 0, 0, 0, 10}, 10ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<ManualClock>();
    auto loop = LoopbackPlug::Create(line);
    Dcb flow = test::Line(9600);
    flow.fOutxCtsFlow = 1;  // the plug's CTS follows RTS
    flow.fRtsControl = c.ctsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    auto port = Open(*loop->Endpoint(), flow);
    ASSERT_TRUE(port->SetCommTimeouts(c.timeouts));
    PendingOp write(0);
    ASSERT_EQ(port->WriteFile(c.text.data(), static_cast<uint32_t>(c.text.size()), write.ov).kind, IoStart::Pending);
    line->Advance(c.deadline - 1ms);
    EXPECT_FALSE(write.Done(kShortMs)) << "the driver took the bytes, the line did not";
    line->Advance(1ms);
    ASSERT_TRUE(write.Done(test::kTestWaitMs));
    uint32_t n = 0;
    EXPECT_TRUE(port->GetOverlappedResult(write.ov, n, false)) << "a timed-out write is no error";
    EXPECT_LT(n, c.text.size());

    // What the write reported is what the line carries, then and later: the rest never goes.
    ASSERT_TRUE(port->EscapeCommFunction(SETRTS));
    line->Advance(1s);
    loop->CatchUp();
    EXPECT_EQ(loop->Sent(), c.text.substr(0, n));
  }
}

TEST_F(LoopbackTest, AWriteQueuedBehindOneThatTimesOutGoesOutWhole) {
  ASSERT_TRUE(dev->SetCommTimeouts({MAXDWORD, 0, 0, 0, 10}));
  const std::string first(40, 'a'), second(20, 'b');
  PendingOp one(0), two(0);
  ASSERT_EQ(dev->WriteFile(first.data(), 40, one.ov).kind, IoStart::Pending);
  ASSERT_TRUE(dev->SetCommTimeouts(ReturnAtOnce()));  // the second write has no timeout
  ASSERT_EQ(dev->WriteFile(second.data(), 20, two.ov).kind, IoStart::Pending);
  Run(10ms);
  ASSERT_TRUE(one.Done(test::kTestWaitMs));
  uint32_t n = 0;
  ASSERT_TRUE(dev->GetOverlappedResult(one.ov, n, false));
  ASSERT_LT(n, 40u);
  // The second write is fed again once the first has given up, on the device's own thread and
  // maybe only after this point: time moves in steps until it is out, as a real clock would.
  ASSERT_TRUE(RunUntilDone(two, 100, 20ms, 50));
  uint32_t m = 0;
  EXPECT_TRUE(dev->GetOverlappedResult(two.ov, m, false));
  EXPECT_EQ(m, 20u);
  plug->CatchUp();
  EXPECT_EQ(plug->Sent(), first.substr(0, n) + second);
}

// A read or a write queued behind another has its whole timeout from the moment it is served,
// not from the moment it was queued.
TEST_F(LoopbackTest, TimeoutsRunFromTheHeadOfTheQueue) {
  ASSERT_TRUE(dev->SetCommTimeouts({0, 0, 50, 0, 0}));
  PendingOp first(4), second(4);
  ASSERT_EQ(dev->ReadFile(first.buffer.data(), 4, first.ov).kind, IoStart::Pending);
  ASSERT_EQ(dev->ReadFile(second.buffer.data(), 4, second.ov).kind, IoStart::Pending);
  Run(50ms);
  ASSERT_TRUE(first.Done(test::kTestWaitMs));
  EXPECT_FALSE(second.Done(kShortMs)) << "the second read's time began when the first ended";
  Run(49ms);
  EXPECT_FALSE(second.Done(kShortMs));
  Run(1ms);
  EXPECT_TRUE(second.Done(test::kTestWaitMs));

  // At 9600 baud the first write is through in about 66 ms (its last 17 characters still in the
  // transmitter), the second about 62 ms after that: each within 80 ms of being served, the
  // second not within 80 ms of being queued.
  ASSERT_TRUE(dev->SetCommTimeouts({MAXDWORD, 0, 0, 0, 80}));
  const std::string one(80, 'a'), two(60, 'b');
  PendingOp write1(0), write2(0);
  ASSERT_EQ(dev->WriteFile(one.data(), 80, write1.ov).kind, IoStart::Pending);
  ASSERT_EQ(dev->WriteFile(two.data(), 60, write2.ov).kind, IoStart::Pending);
  ASSERT_TRUE(RunUntilDone(write2, 60, 5ms, 20));
  uint32_t n = 0;
  ASSERT_TRUE(write1.Done(0));
  EXPECT_TRUE(dev->GetOverlappedResult(write1.ov, n, false));
  EXPECT_EQ(n, 80u);
  EXPECT_TRUE(dev->GetOverlappedResult(write2.ov, n, false));
  EXPECT_EQ(n, 60u) << "the second write gave up before its time";
  Run(100ms);  // the last characters leave the transmitter's FIFO
  plug->CatchUp();
  EXPECT_EQ(plug->Sent(), one + two);
}

TEST_F(LoopbackTest, BytesReportedWrittenReachTheLineThoughThePortClosesRightAfter) {
  ASSERT_TRUE(dev->SetCommState(test::Line(300)));
  const std::string text = "0123456789";
  ASSERT_EQ(WriteAll(*dev, text).transferred, text.size());
  // A port's close: pending I/O aborted, then the monitor's purge of both queues, then the device.
  ASSERT_TRUE(dev->PurgeComm(PURGE_TXABORT | PURGE_RXABORT));
  ASSERT_TRUE(dev->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR));
  dev.reset();
  EXPECT_EQ(plug->Sent(), text);
  ASSERT_EQ(plug->SentLog().size(), text.size());
  EXPECT_EQ(plug->SentLog().back().at - plug->SentLog().front().at, plug->CharacterTime(0) * 9)
      << "at the line rate";
}

// Input flow control with a small queue: 90 bytes in leave less room than XoffLim.
class HeldInputTest : public LoopbackTest {
 protected:
  void HoldInput(Dcb dcb) {
    dcb.XonLim = 10;
    dcb.XoffLim = 20;
    ASSERT_TRUE(dev->SetupComm(100, 100));
    ASSERT_TRUE(dev->SetCommState(dcb));
    const uint32_t before = InQueue(*dev);
    EventWait wait(*dev);
    plug->InjectReceived(std::string(90, 'i'));
    while (InQueue(*dev) < before + 90) ASSERT_NE(WaitFor(wait, EV_RXCHAR), 0u);
    Run(plug->CharacterTime(0));
    plug->CatchUp();
  }
};

TEST_F(HeldInputTest, PurgingTheInputLetsTheFarEndGo) {
  Dcb xonXoff = test::Line(9600);
  xonXoff.fInX = 1;
  HoldInput(xonXoff);
  ASSERT_EQ(plug->Sent(), "\x13");
  ASSERT_TRUE(dev->PurgeComm(PURGE_RXCLEAR));
  Run(plug->CharacterTime(0));
  plug->CatchUp();
  EXPECT_EQ(plug->Sent(), "\x13\x11");

  Dcb rtsHandshake = test::Line(9600);
  rtsHandshake.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(dev->SetCommState(rtsHandshake));
  ASSERT_TRUE(plug->Rts());
  HoldInput(rtsHandshake);
  ASSERT_FALSE(plug->Rts());
  ASSERT_TRUE(dev->PurgeComm(PURGE_RXCLEAR));
  EXPECT_TRUE(plug->Rts());
}

TEST_F(HeldInputTest, OurXoffStopsOurOwnOutputUnlessToldToContinue) {
  for (uint8_t carryOn : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "fTXContinueOnXoff " << int{carryOn});
    plug = LoopbackPlug::Create(clock);
    dev = Open(*plug->Endpoint(), test::Line(9600));
    Dcb dcb = test::Line(9600);
    dcb.fInX = 1;
    dcb.fTXContinueOnXoff = carryOn;
    HoldInput(dcb);
    ASSERT_EQ(plug->Sent(), "\x13");
    PendingOp write(0);
    ASSERT_NE(dev->WriteFile("w", 1, write.ov).kind, IoStart::Failed);
    Run(1s);
    plug->CatchUp();
    EXPECT_EQ(plug->Sent(), carryOn ? "\x13w" : "\x13");
    ASSERT_TRUE(dev->PurgeComm(PURGE_TXABORT));
  }
}

TEST_F(LoopbackTest, TransmitEmptyComesAfterTheLastCharactersTime) {
  ASSERT_TRUE(dev->SetCommMask(EV_TXEMPTY));
  EventWait wait(*dev);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);
  ASSERT_TRUE(WriteAll(*dev, "AB").completed);
  const Clock::Duration two = plug->CharacterTime(0) * 2;

  Run(two - 1us);
  uint32_t mask = 0;
  int error = 0;
  EXPECT_FALSE(wait.Wait(kShortMs, mask, error)) << "the second character is still on the line";
  Run(1us);
  ASSERT_TRUE(wait.Wait(test::kTestWaitMs, mask, error));
  EXPECT_EQ(mask, static_cast<uint32_t>(EV_TXEMPTY));
  ASSERT_EQ(plug->SentLog().size(), 2u);
  EXPECT_EQ(plug->SentLog()[1].at - plug->SentLog()[0].at, plug->CharacterTime(0));
}

// A file send waits for one of each per character: two waits would be two round trips.
TEST_F(LoopbackTest, TheEchoAndTheTransmitEmptyOfOneMomentEndOneWait) {
  ASSERT_TRUE(dev->SetCommMask(EV_RXCHAR | EV_TXEMPTY));
  EventWait wait(*dev);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);
  ASSERT_TRUE(WriteAll(*dev, "x").completed);
  Run(plug->CharacterTime(0));
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_RXCHAR | EV_TXEMPTY));
  EXPECT_EQ(ReadUpTo(*dev, 10).data, "x");
}

// A write on an idle line is fed by the calling thread; one queued behind a write the driver
// could not take whole still waits its turn.
TEST_F(LoopbackTest, AWriteBehindOneNotYetFedWholeKeepsItsPlace) {
  const std::string first(sim::kSimBufferSize + 100, 'a');
  PendingOp one(0), two(0);
  ASSERT_EQ(dev->WriteFile(first.data(), static_cast<uint32_t>(first.size()), one.ov).kind, IoStart::Pending);
  ASSERT_EQ(dev->WriteFile("b", 1, two.ov).kind, IoStart::Pending);
  // The rest of the first write is fed as the line takes it: time moves in steps, as it does.
  ASSERT_TRUE(RunUntilDone(two, 500, 100ms, 20));
  uint32_t n = 0;
  EXPECT_TRUE(dev->GetOverlappedResult(two.ov, n, false));
  EXPECT_EQ(n, 1u);
  ASSERT_TRUE(one.Done(0));
  EXPECT_TRUE(dev->GetOverlappedResult(one.ov, n, false));
  EXPECT_EQ(n, first.size());
  plug->CatchUp();
  EXPECT_EQ(plug->Sent(), first + "b");
}

TEST(SimRealTime, PacesTheLineOnTheSteadyClockWithoutOutsideWakeups) {
  auto plug = LoopbackPlug::Create();
  auto dev = Open(*plug->Endpoint(), test::Line(115200));
  ASSERT_TRUE(dev->SetCommMask(EV_TXEMPTY));
  EventWait wait(*dev);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(WriteAll(*dev, std::string(100, 'r')).completed);
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_TXEMPTY));
  EXPECT_GE(std::chrono::steady_clock::now() - start, plug->CharacterTime(0) * 100);
  EXPECT_EQ(ReadUpTo(*dev, 200).data, std::string(100, 'r'));
}

TEST(SimCharacterTime, CountsStartDataParityAndStopBits) {
  auto plug = LoopbackPlug::Create(std::make_shared<ManualClock>());
  auto dev = plug->Endpoint()->Open().device;
  struct Case {
    uint8_t bytes, parity, stop;
    uint32_t baud;
    std::chrono::nanoseconds expected;
  };
  for (Case c : {Case{8, NOPARITY, ONESTOPBIT, 1000, 10ms}, Case{7, EVENPARITY, TWOSTOPBITS, 1000, 11ms},
                 Case{5, MARKPARITY, ONE5STOPBITS, 1000, 8500us}, Case{8, NOPARITY, ONESTOPBIT, 250000, 40us}}) {
    Dcb dcb = test::Line(c.baud);
    dcb.ByteSize = c.bytes;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    ASSERT_TRUE(dev->SetCommState(dcb));
    EXPECT_EQ(plug->CharacterTime(0), c.expected);
  }
  Dcb impossible = test::Line(9600);
  impossible.StopBits = ONE5STOPBITS;  // with 8 data bits
  EXPECT_EQ(dev->SetCommState(impossible).error, EINVAL);
}

TEST(SimNullModem, EndsAreCrossed) {
  auto clock = std::make_shared<ManualClock>();
  auto pair = NullModemPair::Create(clock);
  auto a = Open(*pair->Endpoint(0));
  auto b = Open(*pair->Endpoint(1));
  ASSERT_TRUE(a && b);
  ASSERT_TRUE(a->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(a->EscapeCommFunction(SETDTR));
  EXPECT_EQ(ModemStatus(*b), MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
  EXPECT_EQ(ModemStatus(*a), 0u);

  ASSERT_TRUE(WriteAll(*a, "ping").completed);
  clock->Advance(1s);
  EXPECT_EQ(test::ReadExactly(*b, 4), "ping");
  EXPECT_EQ(ReadUpTo(*a, 10).data, "");
}

TEST(SimNullModem, CtsFlowHoldsTheTransmitterUntilTheFarEndIsReady) {
  auto clock = std::make_shared<ManualClock>();
  auto pair = NullModemPair::Create(clock);
  Dcb flow = test::Line(9600);
  flow.fOutxCtsFlow = 1;
  auto a = Open(*pair->Endpoint(0), flow);
  auto b = Open(*pair->Endpoint(1));
  auto event = Event::Create(true, false);
  Overlapped ov;
  ov.event = event.get();
  ASSERT_EQ(a->WriteFile("held", 4, ov).kind, IoStart::Pending) << "the line has taken nothing";
  clock->Advance(1s);
  pair->CatchUp();
  EXPECT_EQ(pair->Sent(0), "");
  ASSERT_TRUE(b->EscapeCommFunction(SETRTS));
  clock->Advance(1s);
  EXPECT_EQ(test::ReadExactly(*b, 4), "held");
  ASSERT_EQ(WaitForOne(*event, test::kTestWaitMs).kind, WaitOutcome::Signalled);
  uint32_t n = 0;
  EXPECT_TRUE(a->GetOverlappedResult(ov, n, false));
  EXPECT_EQ(n, 4u);
}

TEST(SimDevices, OpenIsExclusiveAndTheStandardNamesAreServed) {
  auto directory = DeviceDirectory::Standard();
  OpenResult first = directory->Open("LOOPBACK");
  ASSERT_TRUE(first.device);
  OpenResult second = directory->Open("loopback");
  EXPECT_FALSE(second.device);
  EXPECT_EQ(second.error, EBUSY);
  first.device.reset();
  EXPECT_TRUE(directory->Open("LOOPBACK").device) << "free again once closed";
  EXPECT_TRUE(directory->Open("RADIO").device);
  EXPECT_EQ(directory->SimulatedNames(), (std::vector<std::string>{"LOOPBACK", "RADIO"}));
}

class RadioTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<RadioLink> radio = RadioLink::Create(clock);
  std::unique_ptr<CommDevice> dev = Open(*radio->Endpoint(), test::Line(9600));
};

TEST_F(RadioTest, DeliversWhileKeyedAndLosesWhileUnkeyed) {
  ASSERT_TRUE(WriteAll(*dev, "lost").completed);
  clock->Advance(1s);
  radio->CatchUp();
  EXPECT_EQ(radio->Heard(), "");
  EXPECT_EQ(radio->LostWhileUnkeyed(), 4u);

  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(WriteAll(*dev, "ab").completed);
  clock->Advance(1s);
  radio->CatchUp();
  EXPECT_EQ(radio->Heard(), "ab");
  EXPECT_EQ(ReadUpTo(*dev, 10).data, "") << "the far station answers only once the modem unkeys";
}

TEST_F(RadioTest, RaisesCtsAfterItsDelayAndTheFarStationEchoesTheBurst) {
  radio->SetCtsDelay(20ms);
  radio->SetTurnaround(10ms);
  EventWait wait(*dev);
  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  clock->Advance(19ms);
  EXPECT_EQ(ModemStatus(*dev) & MS_CTS_ON, 0u);
  clock->Advance(1ms);
  EXPECT_EQ(wait.WaitMask(), static_cast<uint32_t>(EV_CTS));
  EXPECT_NE(ModemStatus(*dev) & MS_CTS_ON, 0u);

  ASSERT_TRUE(WriteAll(*dev, "hi").completed);
  clock->Advance(10ms);
  EXPECT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  ASSERT_TRUE(dev->EscapeCommFunction(CLRRTS));
  EXPECT_EQ(WaitFor(wait, EV_CTS), static_cast<uint32_t>(EV_CTS));
  clock->Advance(10ms);  // turnaround: the far station keys up and its carrier shows
  EXPECT_NE(WaitFor(wait, EV_RLSD), 0u);
  clock->Advance(1s);
  EXPECT_EQ(test::ReadExactly(*dev, 2), "hi");
  EXPECT_EQ(ModemStatus(*dev) & MS_RLSD_ON, 0u);
}

TEST_F(RadioTest, RtsToggleKeysEachBurstAndDropsAfterTheLastCharacter) {
  Dcb toggle = test::Line(9600);
  toggle.fRtsControl = RTS_CONTROL_TOGGLE;
  ASSERT_TRUE(dev->SetCommState(toggle));
  EventWait wait(*dev);
  ASSERT_TRUE(WriteAll(*dev, "xy").completed);
  EXPECT_TRUE(radio->Rts());
  clock->Advance(radio->CharacterTime(0) * 2);
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  EXPECT_FALSE(radio->Rts());
  EXPECT_EQ(radio->Heard(), "xy");
  const auto log = radio->LineLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].at - log[0].at, radio->CharacterTime(0) * 2) << "RTS held exactly for the burst";
}

// The keying's own times, kept by the device's thread on a manual clock: the bytes leave at the
// lead's end or when CTS comes, whichever is later, and RTS drops the tail after the last stop
// bit, put off by whatever is written before then.
TEST_F(RadioTest, HeldOutputLeavesAtTheLeadAndAtCts) {
  struct Case {
    std::chrono::milliseconds lead, ctsDelay;
    bool untilCts;
    std::chrono::milliseconds leaves;
  };
  const Case cases[] = {{30ms, 0ms, false, 30ms}, {0ms, 20ms, true, 20ms}, {30ms, 20ms, true, 30ms}, {10ms, 25ms, true, 25ms}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "lead " << c.lead.count() << " ms, CTS after " << c.ctsDelay.count() << " ms");
    auto line = std::make_shared<ManualClock>();
    auto link = RadioLink::Create(line);
    link->SetCtsDelay(c.ctsDelay);
    auto device = Open(*link->Endpoint(), test::Line(9600));
    ASSERT_TRUE(device);
    EventWait wait(*device);
    ASSERT_TRUE(device->EscapeCommFunction(SETRTS));
    const auto keyed = line->Now();
    ASSERT_TRUE(device->HoldOutput(c.lead, c.untilCts));
    PendingOp write(0);
    ASSERT_EQ(device->WriteFile("a", 1, write.ov).kind, IoStart::Pending);
    line->Advance(c.leaves - 1ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
    line->Advance(1ms);
    // The device's thread feeds the line at the time it was woken for, before the clock moves on.
    std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
    line->Advance(link->CharacterTime(0));
    ASSERT_TRUE(write.Done(test::kTestWaitMs));
    ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
    const auto sent = link->SentLog();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].at - link->CharacterTime(0), keyed + c.leaves);
  }
}

TEST_F(RadioTest, ReleasedOrPurgedHoldEnds) {
  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(dev->HoldOutput(10s, true));
  PendingOp first(0);
  ASSERT_EQ(dev->WriteFile("x", 1, first.ov).kind, IoStart::Pending);
  ASSERT_TRUE(dev->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR));
  ASSERT_TRUE(first.Done(test::kTestWaitMs));
  // The purge ended the hold: what is written next goes at once.
  ASSERT_TRUE(WriteAll(*dev, "y").completed);
  clock->Advance(1s);
  radio->CatchUp();
  EXPECT_EQ(radio->Heard(), "y");

  ASSERT_TRUE(dev->HoldOutput(10s, true));
  PendingOp held(0);
  ASSERT_EQ(dev->WriteFile("z", 1, held.ov).kind, IoStart::Pending);
  dev->ReleaseOutput();
  ASSERT_TRUE(held.Done(test::kTestWaitMs));
  clock->Advance(radio->CharacterTime(0));
  radio->CatchUp();
  EXPECT_EQ(radio->Heard(), "yz");
}

// A transmit-empty read late, after the next burst was written, must not be taken for that
// burst's: the device says its bytes are still on their way until their last stop bit.
TEST_F(RadioTest, TransmittingUntilTheLastStopBitOfWhatWasWritten) {
  EventWait wait(*dev);
  EXPECT_EQ(dev->Transmitting(), false);
  ASSERT_TRUE(WriteAll(*dev, "a").completed);
  EXPECT_EQ(dev->Transmitting(), true);
  clock->Advance(radio->CharacterTime(0));
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  EXPECT_EQ(dev->Transmitting(), false);
  ASSERT_TRUE(WriteAll(*dev, "bc").completed);
  clock->Advance(radio->CharacterTime(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
  EXPECT_EQ(dev->Transmitting(), true) << "one of the two still going out";
  clock->Advance(radio->CharacterTime(0));
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  EXPECT_EQ(dev->Transmitting(), false);
}

TEST_F(RadioTest, RtsDropsTheTailAfterTheLastStopBit) {
  EventWait wait(*dev);
  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(dev->SetRtsAfterDrain(50ms, false));
  ASSERT_TRUE(WriteAll(*dev, "ab").completed);
  const auto lastStop = clock->Now() + radio->CharacterTime(0) * 2;
  clock->Advance(radio->CharacterTime(0) * 2);
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  // A write in the tail keeps RTS up until its own end, and the tail runs again from there.
  clock->Advance(20ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
  ASSERT_TRUE(WriteAll(*dev, "c").completed);
  const auto secondStop = lastStop + 20ms + radio->CharacterTime(0);
  clock->Advance(radio->CharacterTime(0));
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  clock->Advance(49ms);
  std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
  EXPECT_TRUE(radio->Rts());
  clock->Advance(1ms);
  for (int i = 0; i < 500 && radio->Rts(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(radio->Rts());
  const auto log = radio->LineLog();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().at, secondStop + 50ms);
  EXPECT_EQ(radio->Heard(), "abc");
  EXPECT_FALSE(dev->CancelRtsAfterDrain()) << "made once, then nothing to take back";

  // Taken back before it is due, RTS stays.
  ASSERT_TRUE(dev->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(dev->SetRtsAfterDrain(50ms, false));
  ASSERT_TRUE(WriteAll(*dev, "d").completed);
  clock->Advance(radio->CharacterTime(0));
  ASSERT_NE(WaitFor(wait, EV_TXEMPTY), 0u);
  EXPECT_TRUE(dev->CancelRtsAfterDrain());
  clock->Advance(1s);
  std::this_thread::sleep_for(std::chrono::milliseconds(kShortMs));
  EXPECT_TRUE(radio->Rts());
}

}  // namespace
}  // namespace velmora::platform
