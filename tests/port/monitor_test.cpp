// The event monitor, the dispatch and the data path of the port.
#include "port/com_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/sim/sim_devices.h"
#include "port/com_port.h"
#include "port/ecomport.h"
#include "port/error_display.h"
#include "tests/support/fake_device.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"

namespace velmora::port {
namespace {

using namespace std::chrono_literals;
using platform::EV_BREAK;
using platform::EV_CTS;
using platform::EV_DSR;
using platform::EV_ERR;
using platform::EV_RING;
using platform::EV_RLSD;
using platform::EV_RX80FULL;
using platform::EV_RXCHAR;
using platform::EV_RXFLAG;
using platform::EV_TXEMPTY;

// A thread-safe record of handler calls and of what reached the error display.
class Journal {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }
  size_t Count(const std::string& entry) const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(entries_.begin(), entries_.end(), entry));
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    entries_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

class MonitorTest : public ::testing::Test {
 protected:
  MonitorTest() {
    directory->Add("SCRIPT", scripted);
    directory->Add("LOOP", loopback->Endpoint());
    port.SetDeviceDirectory(directory);
    previousDisplay = SetErrorDisplay([this](const std::string& m) { shown.Add(m); });
    AttachAllHandlers();
  }
  ~MonitorTest() override {
    if (port.Connected()) {
      try {
        port.ClosePort();
      } catch (...) {
      }
    }
    SetErrorDisplay(previousDisplay);
  }

  void AttachAllHandlers() {
    auto note = [this](const char* name) { return [this, name](TCustomComPort&) { calls.Add(name); }; };
    auto signal = [this](const char* name) {
      return [this, name](TCustomComPort&, bool on) { calls.Add(std::string(name) + (on ? "+" : "-")); };
    };
    port.OnRxChar = [this](TCustomComPort&, int count) {
      calls.Add("RxChar");
      if (onRxChar) onRxChar(count);
    };
    port.OnError = [this](TCustomComPort&, TComErrors errors) {
      calls.Add("Error");
      std::lock_guard lock(errorsMutex);
      errorsSeen = errorsSeen | errors;
    };
    port.OnTxEmpty = note("TxEmpty");
    port.OnBreak = note("Break");
    port.OnRing = note("Ring");
    port.OnRxFlag = note("RxFlag");
    port.OnRx80Full = note("Rx80Full");
    port.OnCTSChange = signal("CTS");
    port.OnDSRChange = signal("DSR");
    port.OnRLSDChange = signal("RLSD");
  }

  // Stands in for the GUI's event loop: runs deliveries until `done` or the time is up.
  bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      platform::WaitForOne(port.Sync().Pending(), 10);
      port.Sync().Drain();
    }
    return true;
  }

  TComErrors ErrorsSeen() {
    std::lock_guard lock(errorsMutex);
    return errorsSeen;
  }

  std::shared_ptr<test::FakeDevice> scripted = std::make_shared<test::FakeDevice>();
  std::shared_ptr<platform::sim::LoopbackPlug> loopback = platform::sim::LoopbackPlug::Create();
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  Journal calls;
  Journal shown;
  std::mutex errorsMutex;
  TComErrors errorsSeen;
  std::function<void(int)> onRxChar;
  ErrorDisplay previousDisplay;
  TComPort port{"ComPort1"};
};

constexpr uint32_t kAllMaskBits =
    EV_RXCHAR | EV_RXFLAG | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK | EV_ERR | EV_RING | EV_RX80FULL;

TEST(EventMask, TranslatesByTheTableAndDropsOtherBits) {
  EXPECT_EQ(EventsToMask(kAllComEvents), kAllMaskBits);
  EXPECT_EQ(MaskToEvents(kAllMaskBits | platform::EV_PERR), kAllComEvents);
  EXPECT_EQ(EventsToMask({evRxChar, evRx80Full}), EV_RXCHAR | EV_RX80FULL);
  EXPECT_EQ(MaskToEvents(EV_RLSD), TComEvents({evRLSD}));
}

TEST_F(MonitorTest, OneBatchOfEveryEventRunsTheHandlersInTheFixedOrderInEveryDeliveryMode) {
  const std::vector<std::string> fixedOrder = {"Error", "RxChar", "TxEmpty", "Break", "Ring", "CTS+",
                                               "DSR+",  "RxFlag", "RLSD+",   "Rx80Full"};
  for (TSyncMethod method : {smThreadSync, smWindowSync, smNone}) {
    SCOPED_TRACE(static_cast<int>(method));
    port.SetPort("SCRIPT");
    port.SetSyncMethod(method);
    scripted->SetModemStatus(platform::MS_CTS_ON | platform::MS_DSR_ON | platform::MS_RLSD_ON);
    scripted->SetInputQueue(3);
    port.OpenPort();
    calls.Clear();

    scripted->SetErrorWord(platform::CE_FRAME);
    scripted->QueueEvents(kAllMaskBits);
    EXPECT_TRUE(Serve([&] { return calls.Entries().size() >= fixedOrder.size(); }));
    EXPECT_EQ(calls.Entries(), fixedOrder);
    port.ClosePort();
  }
}

// The owning thread starts the next wait itself once the handlers are done: events raised while
// a handler runs wait for it and come as the next batch, never into the middle of this one.
TEST_F(MonitorTest, InThreadDeliveryTheNextWaitStartsOnlyOnceTheHandlersHaveRun) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  calls.Clear();
  int waitsDuringHandler = -1;
  port.OnTxEmpty = [&](TCustomComPort&) {
    calls.Add("TxEmpty");
    waitsDuringHandler = scripted->WaitsStarted();
    scripted->QueueEvents(EV_BREAK | EV_RING);
    std::this_thread::sleep_for(20ms);  // room for a monitor that would go on meanwhile
    calls.Add("TxEmpty ends");
  };
  ASSERT_TRUE(Serve([&] { return scripted->WaitsStarted() == 1; }));
  scripted->QueueEvents(EV_TXEMPTY);
  EXPECT_TRUE(Serve([&] { return calls.Count("Ring") == 1; }));
  EXPECT_EQ(waitsDuringHandler, 1);
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"TxEmpty", "TxEmpty ends", "Break", "Ring"}));
}

TEST_F(MonitorTest, NothingIsCalledForAnEmptyQueueOrAnEmptyErrorSet) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  calls.Clear();
  scripted->SetInputQueue(0);
  scripted->SetErrorWord(0);
  scripted->QueueEvents(EV_RXCHAR | EV_ERR | EV_TXEMPTY);
  EXPECT_TRUE(Serve([&] { return calls.Count("TxEmpty") == 1; }));
  EXPECT_EQ(calls.Entries(), std::vector<std::string>{"TxEmpty"});
}

TEST_F(MonitorTest, OnlyTheWatchedEventsAreRaisedButOpenAndCloseStillReportTheLines) {
  port.SetPort("LOOP");
  port.SetEvents({evRxChar});
  port.OpenPort();
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"CTS-", "DSR-", "RLSD-"}));
  calls.Clear();

  port.SetRTSState(true);  // the plug turns it into CTS: not watched
  port.SetDTRState(true);
  loopback->InjectReceived("x");
  EXPECT_TRUE(Serve([&] { return calls.Count("RxChar") == 1; }));
  std::string text;
  EXPECT_EQ(port.ReadText(text, 10), 1);
  EXPECT_EQ(text, "x");
  EXPECT_EQ(calls.Entries(), std::vector<std::string>{"RxChar"});

  calls.Clear();
  port.ClosePort();
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"CTS-", "DSR-", "RLSD-"}));
}

TEST_F(MonitorTest, OpeningReportsTheLinesAsTheyStand) {
  scripted->SetModemStatus(platform::MS_CTS_ON | platform::MS_RLSD_ON);
  port.SetPort("SCRIPT");
  port.OpenPort();
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"CTS+", "DSR-", "RLSD+"}));
}

TEST_F(MonitorTest, LineErrorsReachTheHandlerAsASetAndAreReadOnce) {
  port.SetPort("LOOP");
  port.OpenPort();
  loopback->InjectFrameError('f');
  loopback->InjectOverrun();
  EXPECT_TRUE(Serve([&] { return ErrorsSeen() == TComErrors({erFrame, erOverrun}); }));
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{});
}

TEST_F(MonitorTest, ParityErrorsAreReportedOnlyWhileChecked) {
  port.SetPort("LOOP");
  port.Parity().SetBits(prEven);
  port.OpenPort();
  loopback->InjectParityError('p');
  EXPECT_TRUE(Serve([&] { return calls.Count("RxChar") == 1; }));
  EXPECT_EQ(calls.Count("Error"), 0u);

  port.Parity().SetCheck(true);
  std::string text;
  (void)port.ReadText(text, 10);
  loopback->InjectParityError('q');
  EXPECT_TRUE(Serve([&] { return ErrorsSeen().Has(erRxParity); }));
}

TEST_F(MonitorTest, AHandlerErrorEndsTheThreadOnceAndIsShownButThePortStaysUsable) {
  for (TSyncMethod method : {smThreadSync, smNone}) {
    SCOPED_TRACE(static_cast<int>(method));
    shown.Clear();
    port.SetPort("SCRIPT");
    port.SetSyncMethod(method);
    port.OnTxEmpty = [](TCustomComPort&) { throw EComPort(kErrWriteFile, EIO); };
    port.OpenPort();
    scripted->QueueEvents(EV_TXEMPTY);
    EXPECT_TRUE(Serve([&] { return !shown.Entries().empty(); }));
    EXPECT_EQ(shown.Entries(),
              std::vector<std::string>{"WriteFile function failed (win error code: " + std::to_string(EIO) + ")"});
    const int waits = scripted->WaitsStarted();
    scripted->QueueEvents(EV_TXEMPTY);  // nobody waits any more
    Serve([] { return false; }, 50ms);
    EXPECT_EQ(scripted->WaitsStarted(), waits);
    EXPECT_TRUE(port.Connected());
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
  }
}

TEST_F(MonitorTest, InWindowDeliveryAHandlerErrorIsShownAndMonitoringGoesOn) {
  port.SetPort("SCRIPT");
  port.SetSyncMethod(smWindowSync);
  port.OnTxEmpty = [](TCustomComPort&) { throw EComPort(kErrWriteFile, EIO); };
  port.OpenPort();
  scripted->QueueEvents(EV_TXEMPTY);
  scripted->QueueEvents(EV_BREAK);
  EXPECT_TRUE(Serve([&] { return calls.Count("Break") == 1; }));
  EXPECT_EQ(shown.Entries().size(), 1u);
}

TEST_F(MonitorTest, PortMessagesAfterCloseOrWithUnknownEventsDoNothing) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  calls.Clear();
  port.HandlePortMessage(WM_PORT_EVENT, 0x0200);
  port.HandlePortMessage(WM_PORT_EVENT + 1, EV_TXEMPTY);
  EXPECT_TRUE(calls.Entries().empty());
  port.HandlePortMessage(WM_PORT_EVENT, EV_TXEMPTY);
  EXPECT_EQ(calls.Entries(), std::vector<std::string>{"TxEmpty"});
  port.ClosePort();
  calls.Clear();
  port.HandlePortMessage(WM_PORT_EVENT, EV_TXEMPTY);
  EXPECT_TRUE(calls.Entries().empty());
}

TEST_F(MonitorTest, AWaitThatCannotStartReleasesThePortWithOneReport) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  scripted->Fail("WaitCommEvent", EIO);
  scripted->QueueEvents(EV_TXEMPTY);  // the wait in progress ends; the next cannot start
  EXPECT_TRUE(Serve([&] { return !shown.Entries().empty(); }));
  Serve([] { return false; }, 100ms);
  EXPECT_EQ(shown.Entries(),
            std::vector<std::string>{"Устройство SCRIPT пропало (отключено, или закрыт его дальний конец); "
                                     "порт закрыт: WaitForEvent method failed (win error code: " +
                                     std::to_string(EIO) + ")"});
  EXPECT_FALSE(port.Connected());
  scripted->ClearFailures();
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
}

TEST_F(MonitorTest, ClosingWhileADeliveryWaitsLetsItFinishFirstButTheLastLineReportIsOff) {
  scripted->SetModemStatus(platform::MS_CTS_ON | platform::MS_DSR_ON | platform::MS_RLSD_ON);
  port.SetPort("SCRIPT");
  port.OpenPort();
  calls.Clear();
  scripted->QueueEvents(EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD);
  // The monitor now waits for this thread to run the delivery; closing must serve it, and the
  // lines it would report stay off once the close has said so.
  ASSERT_EQ(platform::WaitForOne(port.Sync().Pending(), 5000).kind, platform::WaitOutcome::Signalled);
  port.ClosePort();
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"CTS-", "DSR-", "RLSD-", "TxEmpty"}));
}

TEST_F(MonitorTest, ALineErrorClearedByAReadIsKeptForTheNextDelivery) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  // A framing error arrives while a handler reads: the read's own queue query clears it on the
  // device.
  scripted->SetErrorWord(platform::CE_FRAME);
  std::string text;
  (void)port.ReadText(text, 1);
  scripted->QueueEvents(EV_ERR);
  EXPECT_TRUE(Serve([&] { return calls.Count("Error") == 1; }));
  EXPECT_EQ(ErrorsSeen(), TComErrors{erFrame});
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{}) << "reported once";
}

TEST_F(MonitorTest, AfterPurgeAllTheMonitorGoesOn) {
  port.SetPort("SCRIPT");
  port.OpenPort();
  ASSERT_TRUE(Serve([&] { return scripted->WaitsStarted() == 1; }));
  port.PurgeAll();  // aborts the monitor's wait
  EXPECT_TRUE(Serve([&] { return scripted->WaitsStarted() == 2; })) << "the monitor did not wait again";
  scripted->SetInputQueue(5);
  scripted->QueueEvents(EV_RXCHAR);
  EXPECT_TRUE(Serve([&] { return calls.Count("RxChar") == 1; }));
  EXPECT_TRUE(shown.Entries().empty());
  EXPECT_TRUE(port.Connected());
}

TEST_F(MonitorTest, LoweringTheInputSizeOnAnOpenPortKeepsWhatIsQueued) {
  port.SetPort("LOOP");
  port.Buffer().SetInputSize(8192);
  port.OpenPort();
  std::string sent(3000, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13);
  loopback->InjectReceived(sent);
  ASSERT_TRUE(Serve([&] { return port.InputQueueCount() == 3000; }));
  port.Buffer().SetInputSize(512);
  EXPECT_EQ(port.InputQueueCount(), 3000);
  std::string text;
  EXPECT_EQ(port.ReadText(text, 4000), 3000);
  EXPECT_TRUE(text == sent) << "the queued bytes differ";
}

TEST_F(MonitorTest, BlockingTextOperationsOnTheLoopback) {
  port.SetPort("LOOP");
  port.OpenPort();
  EXPECT_EQ(port.WriteText(""), 0);
  std::string text = "junk";
  EXPECT_EQ(port.ReadText(text, 0), 0);
  EXPECT_EQ(text, "");
  EXPECT_EQ(port.ReadText(text, 100), 0) << "nothing queued: returns at once";

  EXPECT_EQ(port.WriteText("hello"), 5);
  EXPECT_TRUE(Serve([&] { return port.InputQueueCount() == 5; }));
  EXPECT_EQ(port.ReadText(text, 100), 5);
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(loopback->Sent(), "hello");
}

TEST_F(MonitorTest, OperationsOnAClosedPortRaiseTheirErrors) {
  struct Case {
    const char* name;
    std::function<void()> call;
    int error;
  };
  std::string text;
  const Case cases[] = {
      {"WriteText", [&] { port.WriteText("x"); }, kErrWriteFile},
      {"ReadText", [&] { port.ReadText(text, 1); }, kErrReadFile},
      {"InputQueueCount", [&] { port.InputQueueCount(); }, kErrClearComm},
      {"LineSignals", [&] { port.LineSignals(); }, kErrModemStatus},
      {"SetRTSState", [&] { port.SetRTSState(true); }, kErrEscapeComm},
      {"PurgeAll", [&] { port.PurgeAll(); }, kErrPurge},
      {"StartWrite without a record", [&] { port.StartWrite("x", 1, nullptr); }, kErrInvalidAsync},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.call();
      ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), c.error);
    }
  }
  EXPECT_EQ(port.WriteText(""), 0) << "an empty write reaches no device";
}

TEST(PortOperation, AFreshRecordCompletesAtOnceWithNothing) {
  PPortOperation operation = NewPortOperation();
  TComPort port;
  EXPECT_EQ(port.WaitForCompletion(operation.get()), 0);
  EXPECT_FALSE(operation->Kind.has_value());
  operation->Kind = opWrite;
  EXPECT_EQ(OperationErrorCode(*operation), kErrWriteFile);
  operation->Kind = opRead;
  EXPECT_EQ(OperationErrorCode(*operation), kErrReadFile);
  FreePortOperation(operation);
  EXPECT_EQ(operation, nullptr);
}

// On a real kernel tty: the far end is a pseudo-terminal master.
class PtyMonitorTest : public MonitorTest {
 protected:
  test::PtyPair pty;
  void SetUp() override {
    port.SetPort(pty.SlavePath());
    port.OpenPort();
  }
};

TEST_F(PtyMonitorTest, BytesFromTheFarEndArriveIntactThroughTheHandler) {
  std::string received;
  onRxChar = [&](int count) {
    std::string chunk;
    EXPECT_GT(count, 0);
    port.ReadText(chunk, count);
    received += chunk;
  };
  std::string sent(3 << 20, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  std::thread writer([&] { pty.Write(sent); });
  const bool all = Serve([&] { return received.size() >= sent.size(); }, 60s);
  writer.join();
  EXPECT_TRUE(all) << received.size() << " of " << sent.size();
  EXPECT_TRUE(received == sent) << "the bytes differ";
}

TEST_F(PtyMonitorTest, TextOperationsOnAKernelTty) {
  EXPECT_EQ(port.WriteText(""), 0);
  EXPECT_EQ(pty.Read(1, 100), "") << "an empty write sends nothing";
  EXPECT_EQ(port.WriteText(std::string("\xFF\x00z", 3)), 3);
  EXPECT_EQ(pty.Read(3), std::string("\xFF\x00z", 3));

  pty.Write("abc");
  EXPECT_TRUE(Serve([&] { return port.InputQueueCount() == 3; }));
  std::string text;
  EXPECT_EQ(port.ReadText(text, 1000), 3) << "returns at once with what is queued";
  EXPECT_EQ(text, "abc");
}

TEST_F(PtyMonitorTest, ClosingWhileBytesKeepArrivingNeitherHangsNorCutsAHandlerShort) {
  std::atomic<bool> inside{false};
  std::atomic<int> finished{0}, started{0};
  onRxChar = [&](int count) {
    inside = true;
    ++started;
    std::string chunk;
    port.ReadText(chunk, count);
    std::this_thread::sleep_for(1ms);
    ++finished;
    inside = false;
  };
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    while (!stop) {
      try {
        pty.Write(std::string(512, 'k'));
      } catch (...) {
        return;
      }
      std::this_thread::sleep_for(1ms);
    }
  });
  Serve([&] { return started >= 5; });
  port.ClosePort();
  stop = true;
  writer.join();
  EXPECT_FALSE(inside);
  EXPECT_EQ(started.load(), finished.load());
  EXPECT_FALSE(port.Connected());
}

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator{}));
}

bool HoldsDescriptorOf(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == path) return true;
  }
  return false;
}

TEST_F(MonitorTest, ALostDeviceReleasesThePortOnceAndItOpensAgain) {
  test::PtyPair pty;
  const size_t descriptorsBefore = OpenDescriptors();
  port.SetPort(pty.SlavePath());
  port.OnAfterClose = [this](TCustomComPort&) { calls.Add("AfterClose"); };
  std::string reason;
  std::string detail;
  port.OnDeviceLost = [&](TCustomComPort& sender, const EComPort& e) {
    calls.Add("DeviceLost");
    reason = e.what();
    detail = e.Detail();
    EXPECT_FALSE(sender.Connected());
    EXPECT_EQ(e.ErrorNumber(), kErrWaitFailed);
  };
  port.OpenPort();
  calls.Clear();

  pty.CloseMaster();
  pty.CloseSlaveKeeper();
  EXPECT_TRUE(Serve([&] { return calls.Count("DeviceLost") == 1; }));
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(calls.Entries(), (std::vector<std::string>{"CTS-", "DSR-", "RLSD-", "AfterClose", "DeviceLost"}));
  EXPECT_EQ(reason, "WaitForEvent method failed (win error code: " + std::to_string(EIO) + ")");
  EXPECT_NE(detail.find("Устройство " + pty.SlavePath() + " пропало"), std::string::npos) << detail;
  // The handler tells the operator; the display stays out of it.
  EXPECT_TRUE(shown.Entries().empty());
  // The pair's two descriptors are gone too.
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore - 2) << "the lost device's descriptor is still held";

  const auto before = test::ProcessCpuTime();
  Serve([] { return false; }, 1s);
  EXPECT_LT(test::ProcessCpuTime() - before, 100ms) << "something spins after the device went away";
  EXPECT_EQ(calls.Count("DeviceLost"), 1u);
  port.ClosePort();  // nothing left to close
  EXPECT_TRUE(shown.Entries().empty());

  // The adapter is back (here: a new far end): the same port opens it and bytes flow.
  test::PtyPair back;
  port.SetPort(back.SlavePath());
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  back.Write("hi");
  EXPECT_TRUE(Serve([&] { return port.InputQueueCount() == 2; }));
  EXPECT_EQ(port.WriteText("ok"), 2);
  EXPECT_EQ(back.Read(2), "ok");
}

TEST_F(MonitorTest, BytesThatArrivedBeforeTheLossAreHandedOutFirst) {
  test::PtyPair pty;
  port.SetPort(pty.SlavePath());
  std::string received;
  onRxChar = [&](int count) {
    // The first handler leaves most bytes queued; no new arrival announces them again.
    std::string chunk;
    port.ReadText(chunk, received.empty() ? 4 : count);
    received += chunk;
  };
  port.OpenPort();
  // Held deliveries: the bytes and the loss both happen while nobody serves the port.
  pty.Write("last words");
  std::this_thread::sleep_for(50ms);
  pty.CloseMaster();
  pty.CloseSlaveKeeper();
  EXPECT_TRUE(Serve([&] { return !shown.Entries().empty(); }));
  EXPECT_EQ(received, "last words");
  EXPECT_FALSE(port.Connected());
}

// The loss is usually met first by a handler that touches the device (an echo, the next
// character of a file): its error must not leave the dead device held by a port that still
// claims to be connected.
TEST_F(MonitorTest, AHandlerThatMeetsTheLossFirstStillReleasesTheDevice) {
  for (TSyncMethod method : {smThreadSync, smNone, smWindowSync}) {
    SCOPED_TRACE(static_cast<int>(method));
    shown.Clear();
    test::PtyPair pty;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(method);
    std::atomic<int> lost{0};
    std::string reason;
    port.OnDeviceLost = [&](TCustomComPort&, const EComPort& e) {
      reason = e.Detail();
      ++lost;
    };
    // The far end goes before the echo does, so the echo raises. This thread takes it away: a
    // handler on the monitor waits for that.
    const std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> read{false}, farEndGone{false};
    const auto takeFarEndAway = [&] {
      pty.CloseMaster();
      pty.CloseSlaveKeeper();
      farEndGone = true;
    };
    onRxChar = [&](int count) {
      std::string chunk;
      port.ReadText(chunk, count);
      if (std::this_thread::get_id() == owner) {
        takeFarEndAway();
      } else {
        read = true;
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (!farEndGone && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
      }
      port.WriteText(chunk);
    };
    port.OpenPort();
    pty.Write("ping");
    EXPECT_TRUE(Serve([&] {
      if (read && !farEndGone) takeFarEndAway();
      return lost == 1;
    }));
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(HoldsDescriptorOf(pty.SlavePath())) << "the lost device's descriptor is still held";
    if (method != smWindowSync) {
      // The window mode shows a handler's error as it happens; the others report the loss alone,
      // to the handler that tells the operator.
      EXPECT_TRUE(shown.Entries().empty()) << shown.Entries()[0];
      EXPECT_NE(reason.find(pty.SlavePath()), std::string::npos) << reason;
    }
    Serve([] { return false; }, 50ms);
    EXPECT_EQ(lost.load(), 1);
    port.OnDeviceLost = nullptr;
  }
}

// The last hand-out of a lost device's bytes raises too (the handler echoes them): the port is
// released all the same.
TEST_F(MonitorTest, AHandlerThatRaisesOnTheLastHandOutStillReleasesThePort) {
  for (TSyncMethod method : {smThreadSync, smNone}) {
    SCOPED_TRACE(static_cast<int>(method));
    shown.Clear();
    scripted->ClearFailures();
    scripted->SetInputQueue(0);
    port.SetPort("SCRIPT");
    port.SetSyncMethod(method);
    std::atomic<int> lost{0};
    std::string reason;
    port.OnDeviceLost = [&](TCustomComPort&, const EComPort& e) {
      reason = e.Detail();
      ++lost;
    };
    onRxChar = [](int) { throw EComPort(kErrWriteFile, EIO); };
    port.OpenPort();
    ASSERT_TRUE(Serve([&] { return scripted->WaitsStarted() >= 1; }));
    scripted->Fail("WaitCommEvent", EIO);
    scripted->SetInputQueue(3);
    scripted->QueueEvents(EV_TXEMPTY);  // the wait in progress ends; the next cannot start
    EXPECT_TRUE(Serve([&] { return lost == 1; }));
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(shown.Entries().empty()) << shown.Entries()[0];
    EXPECT_NE(reason.find("SCRIPT"), std::string::npos) << reason;
    port.OnDeviceLost = nullptr;
    onRxChar = nullptr;
  }
}

// A batch handed over just before a close reaches its handlers with its data: what arrived in
// the last moment before a close, a port change or the program's exit is shown and captured.
TEST_F(MonitorTest, BytesHandedOverJustBeforeACloseReachTheHandlerWhole) {
  for (TSyncMethod method : {smThreadSync, smWindowSync}) {
    SCOPED_TRACE(static_cast<int>(method));
    test::PtyPair pty;
    port.SetPort(pty.SlavePath());
    port.SetSyncMethod(method);
    std::string received;
    onRxChar = [&](int count) {
      // Slower than the monitor's way out: a purge made meanwhile would take the bytes.
      std::this_thread::sleep_for(50ms);
      std::string chunk;
      port.ReadText(chunk, count);
      received += chunk;
    };
    port.OpenPort();
    pty.Write("last words");
    // Handed over and not yet run; every byte is in.
    ASSERT_EQ(platform::WaitForOne(port.Sync().Pending(), 5000).kind, platform::WaitOutcome::Signalled);
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (port.InputQueueCount() < 10 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    port.ClosePort();
    EXPECT_EQ(received, "last words");
    onRxChar = nullptr;
  }
}

}  // namespace
}  // namespace velmora::port
