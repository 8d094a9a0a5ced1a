#include "port/com_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "port/ecomport.h"
#include "tests/port/core_fixture.h"

namespace velmora::port {
namespace {

using Names = std::vector<std::string>;

TEST(PortDefaultsTest, ANewPortHoldsTheDefaultsAndIsClosed) {
  TComPort port("ComPort1");
  EXPECT_EQ(port.Name(), "ComPort1");
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Values(), ParityValues{});
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), kAllComEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.MonitorPriority(), tpNormal);
  EXPECT_EQ(port.StoredGroups(), TComSettingGroups{sgLine});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Handle(), nullptr);
  EXPECT_EQ(port.UpdateCount(), 0);
  EXPECT_FALSE(port.OnRxChar);
  EXPECT_FALSE(port.OnAfterOpen);
  EXPECT_EQ(port.Parity().Owner(), &port);
  EXPECT_EQ(port.FlowControl().Owner(), &port);
  EXPECT_EQ(port.Timeouts().Owner(), &port);
  EXPECT_EQ(port.Buffer().Owner(), &port);
}

// Whoever goes before its port empties the slots; nothing it captured may stay behind.
TEST(PortDefaultsTest, ClearHandlersReleasesEverySlot) {
  TComPort port("ComPort1");
  auto token = std::make_shared<int>(0);
  const auto notify = [token](TCustomComPort&) {};
  const auto signal = [token](TCustomComPort&, bool) {};
  port.OnRxChar = [token](TCustomComPort&, int) {};
  port.OnRxBuf = [token](TCustomComPort&, const void*, int) {};
  port.OnTxEmpty = notify;
  port.OnBreak = notify;
  port.OnRing = notify;
  port.OnCTSChange = signal;
  port.OnDSRChange = signal;
  port.OnRLSDChange = signal;
  port.OnError = [token](TCustomComPort&, TComErrors) {};
  port.OnRxFlag = notify;
  port.OnAfterOpen = notify;
  port.OnAfterClose = notify;
  port.OnBeforeOpen = notify;
  port.OnBeforeClose = notify;
  port.OnRx80Full = notify;
  port.OnDeviceLost = [token](TCustomComPort&, const EComPort&) {};
  ASSERT_EQ(token.use_count(), 3 + 16);

  port.ClearHandlers();
  EXPECT_EQ(token.use_count(), 3);  // the test's own and the two kept lambdas
}

// An open port on the recording device, its opening calls already cleared.
class OpenPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rec.port.OpenPort();
    ASSERT_TRUE(rec.port.Connected());
    rec.device->ClearCalls();
  }
  Names Calls() const { return rec.device->CallNames(); }

  test::RecordedPort rec;
  TComPort& port = rec.port;
};

struct SetterCase {
  const char* name;
  std::function<void(TComPort&)> change;
  Names expected;
};

// The row's name, where a failure or the test list shows the parameter.
void PrintTo(const SetterCase& row, std::ostream* os) { *os << row.name; }

const Names kLine{"SetCommState"};
const Names kTimeouts{"SetCommTimeouts"};
const Names kBuffer{"SetupComm"};

class SetterOnOpenPort : public OpenPortTest, public ::testing::WithParamInterface<SetterCase> {};

TEST_P(SetterOnOpenPort, AChangedValueReappliesItsGroupOnly) {
  GetParam().change(port);
  EXPECT_EQ(Calls(), GetParam().expected);
  EXPECT_TRUE(port.Connected());
}

const SetterCase kSetterCases[] = {
    {"BaudRate", [](TComPort& p) { p.SetBaudRate(br19200); }, kLine},
    {"CustomBaudRate", [](TComPort& p) { p.SetCustomBaudRate(1000); }, kLine},
    {"DataBits", [](TComPort& p) { p.SetDataBits(dbSeven); }, kLine},
    {"StopBits", [](TComPort& p) { p.SetStopBits(sbTwoStopBits); }, kLine},
    {"DiscardNull", [](TComPort& p) { p.SetDiscardNull(true); }, kLine},
    {"EventChar", [](TComPort& p) { p.SetEventChar('\n'); }, kLine},
    {"ParityBits", [](TComPort& p) { p.Parity().SetBits(prEven); }, kLine},
    {"ParityCheck", [](TComPort& p) { p.Parity().SetCheck(true); }, kLine},
    {"ParityReplace", [](TComPort& p) { p.Parity().SetReplace(true); }, kLine},
    {"ParityReplaceChar", [](TComPort& p) { p.Parity().SetReplaceChar('?'); }, kLine},
    {"OutCTSFlow", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); }, kLine},
    {"OutDSRFlow", [](TComPort& p) { p.FlowControl().SetOutDSRFlow(true); }, kLine},
    {"ControlDTR", [](TComPort& p) { p.FlowControl().SetControlDTR(dtrEnable); }, kLine},
    {"ControlRTS", [](TComPort& p) { p.FlowControl().SetControlRTS(rtsToggle); }, kLine},
    {"XonXoffOut", [](TComPort& p) { p.FlowControl().SetXonXoffOut(true); }, kLine},
    {"XonXoffIn", [](TComPort& p) { p.FlowControl().SetXonXoffIn(true); }, kLine},
    {"DSRSensitivity", [](TComPort& p) { p.FlowControl().SetDSRSensitivity(true); }, kLine},
    {"TxContinueOnXoff", [](TComPort& p) { p.FlowControl().SetTxContinueOnXoff(true); }, kLine},
    {"XonChar", [](TComPort& p) { p.FlowControl().SetXonChar('Q'); }, kLine},
    {"XoffChar", [](TComPort& p) { p.FlowControl().SetXoffChar('S'); }, kLine},
    {"CompositeHardware", [](TComPort& p) { p.FlowControl().SetFlowControl(fcHardware); }, kLine},
    {"CompositeCustomStillReapplies", [](TComPort& p) { p.FlowControl().SetFlowControl(fcCustom); }, kLine},
    {"CompositeSameStillReapplies", [](TComPort& p) { p.FlowControl().SetFlowControl(fcNone); }, kLine},
    {"ReadInterval", [](TComPort& p) { p.Timeouts().SetReadInterval(10); }, kTimeouts},
    {"ReadTotalMultiplier", [](TComPort& p) { p.Timeouts().SetReadTotalMultiplier(1); }, kTimeouts},
    {"ReadTotalConstant", [](TComPort& p) { p.Timeouts().SetReadTotalConstant(1); }, kTimeouts},
    {"WriteTotalMultiplier", [](TComPort& p) { p.Timeouts().SetWriteTotalMultiplier(1); }, kTimeouts},
    {"WriteTotalConstant", [](TComPort& p) { p.Timeouts().SetWriteTotalConstant(1); }, kTimeouts},
    {"InputSize", [](TComPort& p) { p.Buffer().SetInputSize(4096); }, kBuffer},
    {"OutputSize", [](TComPort& p) { p.Buffer().SetOutputSize(4096); }, kBuffer},
    {"WholeParityEvenIfEqual", [](TComPort& p) { p.SetParity(TComParity{}); }, kLine},
    {"WholeFlowControlEvenIfEqual", [](TComPort& p) { p.SetFlowControl(TComFlowControl{}); }, kLine},
    {"WholeTimeoutsEvenIfEqual", [](TComPort& p) { p.SetTimeouts(TComTimeouts{}); }, kTimeouts},
    {"WholeBufferEvenIfEqual", [](TComPort& p) { p.SetBuffer(TComBuffer{}); }, kBuffer},
    {"EventsStoredOnly", [](TComPort& p) { p.SetEvents(TComEvents{evRxChar}); }, {}},
    {"MonitorPriorityStoredOnly", [](TComPort& p) { p.SetMonitorPriority(tpHighest); }, {}},
    {"StoredGroupsStoredOnly", [](TComPort& p) { p.SetStoredGroups(TComSettingGroups{sgLine, sgBuffer}); }, {}},
};

INSTANTIATE_TEST_SUITE_P(Setters, SetterOnOpenPort, ::testing::ValuesIn(kSetterCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(OpenPortTest, SettingTheCurrentValueReachesNothing) {
  port.SetPort(port.Port());
  port.SetConnected(true);
  port.SetSyncMethod(port.SyncMethod());
  port.SetBaudRate(port.BaudRate());
  port.SetCustomBaudRate(port.CustomBaudRate());
  port.SetDataBits(port.DataBits());
  port.SetStopBits(port.StopBits());
  port.SetDiscardNull(port.DiscardNull());
  port.SetEventChar(port.EventChar());
  port.Parity().SetBits(port.Parity().Bits());
  port.Parity().SetCheck(port.Parity().Check());
  port.Parity().SetReplace(port.Parity().Replace());
  port.Parity().SetReplaceChar(port.Parity().ReplaceChar());
  TComFlowControl& f = port.FlowControl();
  f.SetOutCTSFlow(f.OutCTSFlow());
  f.SetOutDSRFlow(f.OutDSRFlow());
  f.SetControlDTR(f.ControlDTR());
  f.SetControlRTS(f.ControlRTS());
  f.SetXonXoffOut(f.XonXoffOut());
  f.SetXonXoffIn(f.XonXoffIn());
  f.SetDSRSensitivity(f.DSRSensitivity());
  f.SetTxContinueOnXoff(f.TxContinueOnXoff());
  f.SetXonChar(f.XonChar());
  f.SetXoffChar(f.XoffChar());
  TComTimeouts& t = port.Timeouts();
  t.SetReadInterval(t.ReadInterval());
  t.SetReadTotalMultiplier(t.ReadTotalMultiplier());
  t.SetReadTotalConstant(t.ReadTotalConstant());
  t.SetWriteTotalMultiplier(t.WriteTotalMultiplier());
  t.SetWriteTotalConstant(t.WriteTotalConstant());
  port.Buffer().SetInputSize(port.Buffer().InputSize());
  port.Buffer().SetOutputSize(port.Buffer().OutputSize());
  EXPECT_EQ(Calls(), Names{});
}

TEST_F(OpenPortTest, ReappliedValuesAreTheNewOnes) {
  port.SetBaudRate(br57600);
  EXPECT_EQ(rec.device->LastDcb()->BaudRate, 57600u);
  port.Timeouts().SetReadInterval(-1);  // unchanged
  port.Timeouts().SetReadTotalConstant(-1);
  EXPECT_EQ(rec.device->LastTimeouts()->ReadTotalTimeoutConstant, 0xFFFFFFFFu);
  port.Buffer().SetOutputSize(2049);
  EXPECT_EQ(rec.device->Calls().back().args, (std::vector<uint32_t>{1024, 2048}));
}

TEST_F(OpenPortTest, InputSizeChangeLeavesTheLimitsUntilTheNextLineApply) {
  port.Buffer().SetInputSize(4096);
  EXPECT_EQ(Calls(), kBuffer);
  rec.device->ClearCalls();
  EXPECT_EQ(rec.device->LastDcb(), std::nullopt);
  port.SetBaudRate(br19200);
  EXPECT_EQ(rec.device->LastDcb()->XonLim, 1024);
  EXPECT_EQ(rec.device->LastDcb()->XoffLim, 1024);
}

TEST_F(OpenPortTest, WholeObjectAssignmentCopiesEveryFieldAndReappliesOnce) {
  TComFlowControl flow;
  flow.SetFlowControl(fcSoftware);
  flow.SetXonChar('x');
  flow.SetControlDTR(dtrHandshake);
  port.SetFlowControl(flow);
  EXPECT_EQ(port.FlowControl().Values(), flow.Values());
  EXPECT_EQ(port.FlowControl().Owner(), &port);

  TComParity parity;
  parity.SetBits(prMark);
  parity.SetCheck(true);
  parity.SetReplace(true);
  parity.SetReplaceChar('#');
  port.SetParity(parity);
  EXPECT_EQ(port.Parity().Values(), parity.Values());

  TComTimeouts timeouts;
  timeouts.SetReadInterval(5);
  timeouts.SetWriteTotalConstant(-1);
  port.SetTimeouts(timeouts);
  EXPECT_EQ(port.Timeouts().Values(), timeouts.Values());
  EXPECT_EQ(Calls(), (Names{"SetCommState", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(rec.device->LastDcb()->ErrorChar, '#');
  EXPECT_EQ(rec.device->LastDcb()->fInX, 1);
  EXPECT_EQ(rec.device->LastTimeouts()->WriteTotalTimeoutConstant, 0xFFFFFFFFu);
}

TEST(BufferSizeTest, PositiveOddSizesAreStoredOneLower) {
  const std::pair<int32_t, int32_t> cases[] = {{1025, 1024}, {1023, 1022}, {1, 0}, {0, 0}, {-3, -3}, {4096, 4096}};
  for (auto [given, stored] : cases) {
    TComPort port;
    port.Buffer().SetInputSize(given);
    port.Buffer().SetOutputSize(given);
    EXPECT_EQ(port.Buffer().InputSize(), stored) << given;
    EXPECT_EQ(port.Buffer().OutputSize(), stored) << given;
  }
}

TEST(ClosedPortTest, SettersOnlyStore) {
  test::RecordedPort rec;
  rec.port.SetBaudRate(br115200);
  rec.port.Parity().SetBits(prOdd);
  rec.port.FlowControl().SetFlowControl(fcHardware);
  rec.port.Timeouts().SetReadInterval(3);
  rec.port.Buffer().SetInputSize(2048);
  rec.port.SetParity(TComParity{});
  rec.port.SetBuffer(TComBuffer{});
  rec.port.SetPort("rec");
  rec.port.SetSyncMethod(smNone);
  EXPECT_EQ(rec.port.SyncMethod(), smNone);
  EXPECT_EQ(rec.device->CallNames(), Names{});
  EXPECT_FALSE(rec.port.Connected());
}

TEST_F(OpenPortTest, NestedUpdateBracketsApplyOnceAtTheLastEnd) {
  port.BeginSettingsUpdate();
  port.BeginSettingsUpdate();
  port.SetBaudRate(br38400);
  port.Parity().SetBits(prEven);
  port.FlowControl().SetFlowControl(fcHardware);
  port.Timeouts().SetReadInterval(20);
  port.Buffer().SetInputSize(2048);
  port.SetParity(TComParity{});
  EXPECT_EQ(port.UpdateCount(), 2);
  port.EndSettingsUpdate();
  EXPECT_EQ(Calls(), Names{});
  port.EndSettingsUpdate();
  EXPECT_EQ(Calls(), (Names{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  const platform::Dcb dcb = *rec.device->LastDcb();
  EXPECT_EQ(dcb.BaudRate, 38400u);
  EXPECT_EQ(dcb.Parity, platform::NOPARITY);  // the whole-object copy came last
  EXPECT_EQ(dcb.fRtsControl, platform::RTS_CONTROL_HANDSHAKE);
  EXPECT_EQ(dcb.XonLim, 512);
  EXPECT_EQ(rec.device->LastTimeouts()->ReadIntervalTimeout, 20u);
  // An unmatched end does nothing.
  rec.device->ClearCalls();
  port.EndSettingsUpdate();
  EXPECT_EQ(port.UpdateCount(), 0);
  EXPECT_EQ(Calls(), Names{});
}

TEST(UpdateBracketTest, EndOnAClosedPortAppliesNothing) {
  test::RecordedPort rec;
  rec.port.BeginSettingsUpdate();
  rec.port.SetBaudRate(br1200);
  rec.port.EndSettingsUpdate();
  EXPECT_EQ(rec.device->CallNames(), Names{});
}

TEST_F(OpenPortTest, RefusedReapplyRaisesAndKeepsThePortOpenWithTheNewValue) {
  const struct {
    const char* call;
    std::function<void(TComPort&)> change;
    int errorNumber;
  } cases[] = {
      {"SetCommState", [](TComPort& p) { p.SetBaudRate(br256000); }, kErrSetState},
      {"SetCommTimeouts", [](TComPort& p) { p.Timeouts().SetReadTotalConstant(7); }, kErrSetTimeouts},
      {"SetupComm", [](TComPort& p) { p.Buffer().SetInputSize(1 << 20); }, kErrSetupComm},
  };
  for (const auto& c : cases) {
    rec.device->Fail(c.call, EINVAL, 1);
    try {
      c.change(port);
      ADD_FAILURE() << c.call << " did not raise";
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), c.errorNumber) << c.call;
      EXPECT_EQ(e.WinErrorCode(), EINVAL) << c.call;
    }
    EXPECT_TRUE(port.Connected()) << c.call;
    EXPECT_NE(port.Handle(), nullptr) << c.call;
  }
  EXPECT_EQ(port.BaudRate(), br256000);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 7);
  EXPECT_EQ(port.Buffer().InputSize(), 1 << 20);
}

TEST_F(OpenPortTest, SyncMethodIsRefusedWhileConnected) {
  port.SetSyncMethod(smThreadSync);  // the current value: no error
  try {
    port.SetSyncMethod(smWindowSync);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrConnected);
    EXPECT_EQ(e.WinErrorCode(), -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
  }
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_TRUE(port.Connected());
  port.ClosePort();
  port.SetSyncMethod(smWindowSync);
  EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

TEST_F(OpenPortTest, PortDifferingOnlyInLetterCaseReopensAtOnceEvenInsideAnUpdate) {
  test::Timeline timeline(port, *rec.device);
  port.BeginSettingsUpdate();
  port.SetPort("rec");
  EXPECT_EQ(port.Port(), "rec");
  EXPECT_TRUE(port.Connected());
  // Reopened, though the settings wait for the bracket's end.
  EXPECT_EQ(timeline.Take(), (Names{"on:CTS=0", "on:DSR=0", "on:RLSD=0", "on:BeforeClose", "PurgeComm", "Close",
                                    "on:AfterClose", "on:BeforeOpen", "Open", "on:AfterOpen", "GetCommModemStatus",
                                    "on:CTS=0", "GetCommModemStatus", "on:DSR=0", "GetCommModemStatus",
                                    "on:RLSD=0"}));
  port.EndSettingsUpdate();
  EXPECT_EQ(timeline.Take(), (Names{"SetupComm", "SetCommState", "SetCommTimeouts"}));
}

TEST_F(OpenPortTest, PortChangeWhoseReopenFailsLeavesItClosedWithTheNewName) {
  rec.device->Fail("Open", ENOENT);
  try {
    port.SetPort("Rec");
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrOpen);
    EXPECT_EQ(e.WinErrorCode(), ENOENT);
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "Rec");
}

TEST(ConnectedTest, SetterOpensAndCloses) {
  test::RecordedPort rec;
  rec.port.SetConnected(true);
  EXPECT_TRUE(rec.port.Connected());
  EXPECT_TRUE(rec.device->IsOpen());
  rec.port.SetConnected(false);
  EXPECT_FALSE(rec.port.Connected());
  EXPECT_FALSE(rec.device->IsOpen());
}

TEST(LoadingTest, ConnectedRecordedWhileLoadingOpensOnceAfterwardsWithTheLoadedSettings) {
  test::RecordedPort rec;
  int opens = 0;
  rec.port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
  rec.port.BeginLoading();
  rec.port.SetConnected(true);
  EXPECT_TRUE(rec.port.Connected());  // recorded only
  rec.port.SetBaudRate(br4800);
  rec.port.SetPort("ELSEWHERE");  // a recorded wish is not an open port to reopen
  rec.port.SetPort(test::kRecordingName);
  EXPECT_EQ(rec.device->CallNames(), Names{});
  rec.port.FinishLoading();
  EXPECT_FALSE(rec.port.Loading());
  EXPECT_TRUE(rec.port.Connected());
  EXPECT_EQ(opens, 1);
  EXPECT_EQ(rec.device->LastDcb()->BaudRate, 4800u);
}

TEST(LoadingTest, AFailedOpenAfterLoadingGoesToTheErrorDisplay) {
  test::ErrorDisplayRecorder display;
  test::RecordedPort rec;
  rec.device->Fail("SetCommState", EINVAL);
  rec.port.BeginLoading();
  rec.port.SetConnected(true);
  EXPECT_NO_THROW(rec.port.FinishLoading());
  EXPECT_FALSE(rec.port.Connected());
  EXPECT_FALSE(rec.device->IsOpen());
  EXPECT_EQ(display.Messages(),
            Names{"SetCommState function failed (win error code: " + std::to_string(EINVAL) + ")"});
}

TEST(LoadingTest, FinishLoadingOutsideLoadingLeavesAnOpenPortAsItIs) {
  test::ErrorDisplayRecorder display;
  test::RecordedPort rec;
  rec.port.OpenPort();
  rec.port.FinishLoading();
  EXPECT_TRUE(rec.port.Connected());
  EXPECT_TRUE(display.Messages().empty());
  rec.port.ClosePort();
  EXPECT_FALSE(rec.device->IsOpen());
}

TEST(LoadingTest, NotConnectedAfterLoadingStaysClosed) {
  test::RecordedPort rec;
  rec.port.BeginLoading();
  rec.port.FinishLoading();
  EXPECT_FALSE(rec.port.Connected());
  EXPECT_EQ(rec.device->CallNames(), Names{});
}

TEST(DesignModeTest, NothingReachesADevice) {
  test::RecordedPort rec;
  rec.port.SetDesignMode(true);
  rec.port.SetConnected(true);
  EXPECT_TRUE(rec.port.Connected());
  rec.port.OpenPort();
  rec.port.SetBaudRate(br110);
  rec.port.ClosePort();
  rec.port.BeginLoading();
  rec.port.FinishLoading();
  rec.port.SetConnected(false);
  EXPECT_EQ(rec.device->CallNames(), Names{});
}

}  // namespace
}  // namespace velmora::port
