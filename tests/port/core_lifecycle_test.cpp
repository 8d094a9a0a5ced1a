#include "port/com_port.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/comm_types.h"
#include "port/ecomport.h"
#include "tests/port/core_fixture.h"
#include "tests/support/com_error_expect.h"
#include "tests/support/temp_folder.h"

namespace velmora::port {
namespace {

using Names = std::vector<std::string>;

const Names kOpenWithLines{"on:BeforeOpen", "Open", "SetupComm", "SetCommState", "SetCommTimeouts", "on:AfterOpen",
                           "GetCommModemStatus", "on:CTS=1", "GetCommModemStatus", "on:DSR=0",
                           "GetCommModemStatus", "on:RLSD=1"};
const Names kClose{"on:CTS=0", "on:DSR=0", "on:RLSD=0", "on:BeforeClose", "PurgeComm", "Close", "on:AfterClose"};

class LifecycleTest : public ::testing::Test {
 protected:
  test::RecordedPort rec;
  TComPort& port = rec.port;
  test::Timeline timeline{rec.port, *rec.device};
};

TEST_F(LifecycleTest, OpenAndCloseCallHandlersAndDeviceInOrder) {
  rec.device->SetModemStatus(platform::MS_CTS_ON | platform::MS_RLSD_ON | platform::MS_RING_ON);
  port.OpenPort();
  EXPECT_EQ(timeline.Take(), kOpenWithLines);
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.Handle(), nullptr);
  const std::vector<velmora::test::DeviceCall> calls = rec.device->Calls();
  EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{1024, 1024}));
  EXPECT_EQ(calls[3].timeouts, (platform::CommTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000}));

  port.ClosePort();
  EXPECT_EQ(timeline.Take(), kClose);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), nullptr);
  EXPECT_EQ(rec.device->Calls()[rec.device->Calls().size() - 2].args,
            std::vector<uint32_t>{platform::PURGE_TXABORT | platform::PURGE_RXABORT});
}

TEST_F(LifecycleTest, OpenWhenOpenAndCloseWhenClosedDoNothing) {
  port.ClosePort();
  EXPECT_EQ(timeline.Take(), Names{});
  port.OpenPort();
  timeline.Take();
  port.OpenPort();
  EXPECT_EQ(timeline.Take(), Names{});
}

TEST_F(LifecycleTest, WithoutEventsThePortOpensUnmonitoredAndStillReportsTheLines) {
  ASSERT_TRUE(port.Events().Empty());
  port.OpenPort();
  EXPECT_FALSE(port.ThreadCreated());
  Names opened = timeline.Take();
  EXPECT_EQ(opened.front(), "on:BeforeOpen");
  EXPECT_EQ(opened.back(), "on:RLSD=0");
  port.ClosePort();
  EXPECT_EQ(timeline.Take(), kClose);
}

TEST(StandardDirectoryTest, APortWithoutADirectoryOpensTheSimulatedDevicesByName) {
  TComPort port("ComPort1");
  EXPECT_EQ(port.Directory(), nullptr);
  port.SetPort("loopback");
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_NE(port.Directory(), nullptr);
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
}

TEST_F(LifecycleTest, MissingOrBusyDeviceRaisesOneWithTheSystemNumberAndLeavesThePortClosed) {
  // Held open by someone else: the directory refuses a second open.
  platform::OpenResult holder = rec.device->Open();
  ASSERT_NE(holder.device, nullptr);
  rec.device->ClearCalls();
  timeline.Take();
  const struct {
    const char* name;
    std::string port;
    int error;
  } cases[] = {{"busy", test::kRecordingName, EBUSY},
               {"missing", "NO_SUCH_PORT_HERE", ENOENT},
               {"a bare name out of /dev", "../tmp/x", EINVAL},
               {"a bare name with a folder", "serial/by-id", EINVAL},
               {"not a character device", "/tmp", ENOTTY},
               {"a character device but no terminal", "/dev/null", ENOTTY}};
  for (const auto& c : cases) {
    port.SetPort(c.port);
    try {
      port.OpenPort();
      ADD_FAILURE() << c.name << ": no error";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), kErrOpen) << c.name;
      EXPECT_EQ(e.WinErrorCode(), c.error) << c.name;
      EXPECT_EQ(std::string(e.what()), "Unable to open com port (win error code: " + std::to_string(c.error) + ")");
      if (c.error == EBUSY) {
        EXPECT_EQ(e.Detail(), "already open");
      }
    }
    EXPECT_FALSE(port.Connected()) << c.name;
    EXPECT_EQ(port.Handle(), nullptr) << c.name;
    Names seen = timeline.Take();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "on:BeforeOpen") << c.name;
    for (const std::string& s : seen) EXPECT_TRUE(s == "on:BeforeOpen" || s == "Open") << c.name << ": " << s;
  }
}

TEST_F(LifecycleTest, RefusedSettingsDuringOpenCloseTheHandleAndARetryStartsOver) {
  const struct {
    const char* call;
    int errorNumber;
    Names expected;
  } cases[] = {
      {"SetupComm", kErrSetupComm, {"on:BeforeOpen", "Open", "SetupComm", "Close"}},
      {"SetCommState", kErrSetState, {"on:BeforeOpen", "Open", "SetupComm", "SetCommState", "Close"}},
      {"SetCommTimeouts", kErrSetTimeouts,
       {"on:BeforeOpen", "Open", "SetupComm", "SetCommState", "SetCommTimeouts", "Close"}},
  };
  for (const auto& c : cases) {
    rec.device->Fail(c.call, EINVAL);
    try {
      port.OpenPort();
      ADD_FAILURE() << c.call << ": no error";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), c.errorNumber) << c.call;
      EXPECT_EQ(e.WinErrorCode(), EINVAL) << c.call;
    }
    EXPECT_EQ(timeline.Take(), c.expected) << c.call;
    EXPECT_FALSE(port.Connected()) << c.call;
    EXPECT_EQ(port.Handle(), nullptr) << c.call;
    EXPECT_FALSE(rec.device->IsOpen()) << c.call;
    rec.device->ClearFailures();
  }
  rec.device->SetModemStatus(platform::MS_CTS_ON | platform::MS_RLSD_ON);
  port.OpenPort();
  EXPECT_EQ(timeline.Take(), kOpenWithLines);
}

TEST_F(LifecycleTest, RefusedPurgeLeavesThePortOpenAfterTheBeforeCloseReports) {
  port.OpenPort();
  timeline.Take();
  rec.device->Fail("PurgeComm", EIO, 1);
  try {
    port.ClosePort();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrPurge);
    EXPECT_EQ(e.WinErrorCode(), EIO);
  }
  EXPECT_EQ(timeline.Take(), (Names{"on:CTS=0", "on:DSR=0", "on:RLSD=0", "on:BeforeClose", "PurgeComm"}));
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(rec.device->IsOpen());
  port.ClosePort();
  EXPECT_EQ(timeline.Take(), kClose);
}

TEST(PortDestructionTest, ClosesAnOpenPort) {
  auto device = std::make_shared<test::FakeDevice>();
  Names handlers;
  {
    test::RecordedPort rec;
    device = rec.device;
    rec.port.OnAfterClose = [&](TCustomComPort&) { handlers.push_back("AfterClose"); };
    rec.port.OpenPort();
  }
  EXPECT_FALSE(device->IsOpen());
  EXPECT_EQ(handlers, Names{"AfterClose"});
}

TEST(PortDestructionTest, AFailedCloseIsShownAndTheDeviceReleasedAllTheSame) {
  test::ErrorDisplayRecorder display;
  auto device = std::make_shared<test::FakeDevice>();
  {
    test::RecordedPort rec;
    device = rec.device;
    rec.port.OpenPort();
    device->Fail("PurgeComm", EIO);
  }
  EXPECT_FALSE(device->IsOpen());
  EXPECT_EQ(display.Messages(), Names{"PurgeComm function failed (win error code: " + std::to_string(EIO) + ")"});
}

TEST(SystemDeviceTest, AFileThatIsNoDeviceIsNeverOpened) {
  velmora::test::TempFolder folder;
  const std::filesystem::path file = folder / "not-a-port";
  velmora::test::WriteFileBytes(file, "keep");
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, file.c_str(), IN_OPEN), 0);
  TComPort port("ComPort1");
  port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
  port.SetPort(file.string());
  velmora::test::ExpectComError([&] { port.OpenPort(); }, kErrOpen, ENOTTY);
  char event[256];
  EXPECT_LT(::read(watch, event, sizeof event), 0) << "the file was opened";
  ::close(watch);
}

// A subclass that overrides close operations closes in its own destructor, while its overrides
// still exist.
class ClosingOnDestructionPort : public TComPort {
 public:
  explicit ClosingOnDestructionPort(Names& log) : TComPort("ComPort1"), log_(log) {}
  ~ClosingOnDestructionPort() override { CloseOnDestruction(); }
  void CloseDeviceHandle() override {
    log_.push_back("CloseDeviceHandle");
    TComPort::CloseDeviceHandle();
  }
  void EmitAfterClose() override { log_.push_back("EmitAfterClose"); }

 private:
  Names& log_;
};

TEST(PortDestructionTest, TheMostDerivedCloseOperationsRun) {
  test::RecordedPort rec;
  Names log;
  {
    ClosingOnDestructionPort port(log);
    port.SetDeviceDirectory(rec.directory);
    port.SetPort(test::kRecordingName);
    port.OpenPort();
  }
  EXPECT_EQ(log, (Names{"CloseDeviceHandle", "EmitAfterClose"}));
  EXPECT_FALSE(rec.device->IsOpen());
}

// Every caller goes through the virtual entry: a subclass sees each step.
class TracingPort : public TComPort {
 public:
  using TComPort::TComPort;
  Names steps;
  void CreateDeviceHandle() override {
    steps.push_back("CreateDeviceHandle");
    TComPort::CreateDeviceHandle();
  }
  void CloseDeviceHandle() override {
    steps.push_back("CloseDeviceHandle");
    TComPort::CloseDeviceHandle();
  }
  void ApplyAllSettings() override {
    steps.push_back("ApplyAllSettings");
    TComPort::ApplyAllSettings();
  }
  void ApplyLineSettings() override {
    steps.push_back("ApplyLineSettings");
    TComPort::ApplyLineSettings();
  }
  void ApplyTimeoutSettings() override {
    steps.push_back("ApplyTimeoutSettings");
    TComPort::ApplyTimeoutSettings();
  }
  void ApplyBufferSizes() override {
    steps.push_back("ApplyBufferSizes");
    TComPort::ApplyBufferSizes();
  }
  void EmitBeforeOpen() override { steps.push_back("EmitBeforeOpen"); }
  void EmitAfterOpen() override { steps.push_back("EmitAfterOpen"); }
  void EmitBeforeClose() override { steps.push_back("EmitBeforeClose"); }
  void EmitAfterClose() override { steps.push_back("EmitAfterClose"); }
  void EmitCTSChange(bool) override { steps.push_back("EmitCTSChange"); }
  void EmitDSRChange(bool) override { steps.push_back("EmitDSRChange"); }
  void EmitRLSDChange(bool) override { steps.push_back("EmitRLSDChange"); }
};

TEST(VirtualEntryTest, OpenSettersBracketAndCloseReachTheOverrides) {
  auto device = std::make_shared<test::FakeDevice>();
  auto directory = std::make_shared<platform::DeviceDirectory>();
  directory->Add("REC", device);
  TracingPort port("ComPort1");
  port.SetDeviceDirectory(directory);
  port.SetPort("REC");
  port.SetEvents({});
  port.OpenPort();
  port.SetBaudRate(br300);
  port.Parity().SetCheck(true);
  port.Timeouts().SetReadInterval(0);
  port.Buffer().SetInputSize(64);
  port.BeginSettingsUpdate();
  port.EndSettingsUpdate();
  port.ClosePort();
  EXPECT_EQ(port.steps,
            (Names{"EmitBeforeOpen", "CreateDeviceHandle", "ApplyAllSettings", "ApplyBufferSizes",
                   "ApplyLineSettings", "ApplyTimeoutSettings", "EmitAfterOpen", "EmitCTSChange", "EmitDSRChange",
                   "EmitRLSDChange", "ApplyLineSettings", "ApplyLineSettings", "ApplyTimeoutSettings",
                   "ApplyBufferSizes", "ApplyAllSettings", "ApplyBufferSizes", "ApplyLineSettings",
                   "ApplyTimeoutSettings", "EmitCTSChange", "EmitDSRChange", "EmitRLSDChange", "EmitBeforeClose",
                   "CloseDeviceHandle", "EmitAfterClose"}));
}

// Every emitter: a no-op while its handler is unassigned, then the handler with the port and the
// emitter's argument.
TEST(EmitterTest, UnassignedHandlersAreSkippedAndAssignedOnesGetTheirArguments) {
  struct Row {
    std::function<void(TComPort&, Names&)> assign;
    std::function<void(TComPort&)> emit;
    std::string heard;
  };
  const auto notify = [](Names& seen, const char* name) {
    return [&seen, name](TCustomComPort& s) { seen.push_back(s.Name() + " " + name); };
  };
  const auto signal = [](Names& seen, const char* name) {
    return [&seen, name](TCustomComPort& s, bool on) { seen.push_back(s.Name() + " " + name + (on ? "=1" : "=0")); };
  };
  const std::vector<Row> rows{
      {[&](TComPort& p, Names& seen) { p.OnAfterClose = notify(seen, "AfterClose"); }, [](TComPort& p) { p.EmitAfterClose(); },
       "ComPort1 AfterClose"},
      {[&](TComPort& p, Names& seen) { p.OnAfterOpen = notify(seen, "AfterOpen"); }, [](TComPort& p) { p.EmitAfterOpen(); },
       "ComPort1 AfterOpen"},
      {[&](TComPort& p, Names& seen) { p.OnBeforeClose = notify(seen, "BeforeClose"); },
       [](TComPort& p) { p.EmitBeforeClose(); }, "ComPort1 BeforeClose"},
      {[&](TComPort& p, Names& seen) { p.OnBeforeOpen = notify(seen, "BeforeOpen"); }, [](TComPort& p) { p.EmitBeforeOpen(); },
       "ComPort1 BeforeOpen"},
      {[](TComPort& p, Names& seen) {
         p.OnRxChar = [&seen](TCustomComPort& s, int n) { seen.push_back(s.Name() + " RxChar " + std::to_string(n)); };
       },
       [](TComPort& p) { p.EmitRxChar(3); }, "ComPort1 RxChar 3"},
      {[](TComPort& p, Names& seen) {
         p.OnRxBuf = [&seen](TCustomComPort& s, const void* b, int n) {
           seen.push_back(s.Name() + " RxBuf " + std::string(static_cast<const char*>(b), static_cast<size_t>(n)));
         };
       },
       [](TComPort& p) { p.EmitRxBuf("xy", 2); }, "ComPort1 RxBuf xy"},
      {[&](TComPort& p, Names& seen) { p.OnTxEmpty = notify(seen, "TxEmpty"); }, [](TComPort& p) { p.EmitTxEmpty(); },
       "ComPort1 TxEmpty"},
      {[&](TComPort& p, Names& seen) { p.OnBreak = notify(seen, "Break"); }, [](TComPort& p) { p.EmitBreak(); },
       "ComPort1 Break"},
      {[&](TComPort& p, Names& seen) { p.OnRing = notify(seen, "Ring"); }, [](TComPort& p) { p.EmitRing(); }, "ComPort1 Ring"},
      {[&](TComPort& p, Names& seen) { p.OnRxFlag = notify(seen, "RxFlag"); }, [](TComPort& p) { p.EmitRxFlag(); },
       "ComPort1 RxFlag"},
      {[&](TComPort& p, Names& seen) { p.OnCTSChange = signal(seen, "CTS"); }, [](TComPort& p) { p.EmitCTSChange(true); },
       "ComPort1 CTS=1"},
      {[&](TComPort& p, Names& seen) { p.OnDSRChange = signal(seen, "DSR"); }, [](TComPort& p) { p.EmitDSRChange(false); },
       "ComPort1 DSR=0"},
      {[](TComPort& p, Names& seen) {
         p.OnError = [&seen](TCustomComPort& s, TComErrors e) {
           seen.push_back(s.Name() + " Error " + std::to_string(e.ToBits()));
         };
       },
       [](TComPort& p) { p.EmitError(TComErrors{erFrame, erOverrun}); }, "ComPort1 Error 5"},
      {[&](TComPort& p, Names& seen) { p.OnRLSDChange = signal(seen, "RLSD"); }, [](TComPort& p) { p.EmitRLSDChange(true); },
       "ComPort1 RLSD=1"},
      {[&](TComPort& p, Names& seen) { p.OnRx80Full = notify(seen, "Rx80Full"); }, [](TComPort& p) { p.EmitRx80Full(); },
       "ComPort1 Rx80Full"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.heard);
    TComPort port("ComPort1");
    row.emit(port);  // unassigned: nothing happens, nothing raises
    Names seen;
    row.assign(port, seen);
    row.emit(port);
    EXPECT_EQ(seen, Names{row.heard});
  }
}

}  // namespace
}  // namespace velmora::port
