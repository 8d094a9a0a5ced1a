#include "port/device_config.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <ostream>

#include "tests/port/core_fixture.h"


namespace velmora::port {
namespace {

using platform::Dcb;

// What a port with every default hands to the device.
Dcb DefaultDcb() {
  Dcb d;
  d.DCBlength = 28;
  d.BaudRate = 9600;
  d.fBinary = 1;
  d.XonLim = 256;
  d.XoffLim = 256;
  d.ByteSize = 8;
  d.Parity = platform::NOPARITY;
  d.StopBits = platform::ONESTOPBIT;
  d.XonChar = 0x11;
  d.XoffChar = 0x13;
  return d;
}

struct DcbCase {
  const char* name;
  std::function<void(LineValues&)> settings;
  std::function<void(Dcb&)> expected;  // changes from DefaultDcb()
};

// The row's name, where a failure or the test list shows the parameter.
void PrintTo(const DcbCase& row, std::ostream* os) { *os << row.name; }

class DcbTable : public ::testing::TestWithParam<DcbCase> {};

// The same settings made through the port's setters.
void Configure(TCustomComPort& port, const LineValues& l) {
  port.SetBaudRate(l.BaudRate);
  port.SetCustomBaudRate(l.CustomBaudRate);
  port.SetDataBits(l.DataBits);
  port.SetStopBits(l.StopBits);
  port.SetDiscardNull(l.DiscardNull);
  port.SetEventChar(l.EventChar);
  port.Parity().SetBits(l.Parity.Bits);
  port.Parity().SetCheck(l.Parity.Check);
  port.Parity().SetReplace(l.Parity.Replace);
  port.Parity().SetReplaceChar(l.Parity.ReplaceChar);
  TComFlowControl& f = port.FlowControl();
  f.SetOutCTSFlow(l.FlowControl.OutCTSFlow);
  f.SetOutDSRFlow(l.FlowControl.OutDSRFlow);
  f.SetControlDTR(l.FlowControl.ControlDTR);
  f.SetControlRTS(l.FlowControl.ControlRTS);
  f.SetXonXoffOut(l.FlowControl.XonXoffOut);
  f.SetXonXoffIn(l.FlowControl.XonXoffIn);
  f.SetDSRSensitivity(l.FlowControl.DSRSensitivity);
  f.SetTxContinueOnXoff(l.FlowControl.TxContinueOnXoff);
  f.SetXonChar(l.FlowControl.XonChar);
  f.SetXoffChar(l.FlowControl.XoffChar);
  port.Buffer().SetInputSize(l.InputSize);
}

TEST_P(DcbTable, EveryFieldComesFromTheSettings) {
  LineValues line;
  GetParam().settings(line);
  Dcb expected = DefaultDcb();
  GetParam().expected(expected);
  EXPECT_EQ(BuildDcb(line), expected);

  // What an opening port hands to the device is that block, and only that one.
  test::RecordedPort rec;
  Configure(rec.port, line);
  ASSERT_EQ(rec.port.CurrentLineValues(), line);
  rec.port.OpenPort();
  int states = 0;
  for (const auto& call : rec.device->Calls())
    if (call.name == "SetCommState") ++states;
  EXPECT_EQ(states, 1);
  ASSERT_TRUE(rec.device->LastDcb());
  EXPECT_EQ(*rec.device->LastDcb(), expected);
}

// Start from a non-zero field so that a builder that leaves a field alone is caught.
const DcbCase kDcbCases[] = {
    {"Defaults", [](LineValues&) {}, [](Dcb&) {}},
    {"CustomRateUsedWithBrCustom", [](LineValues& l) { l.BaudRate = brCustom; l.CustomBaudRate = 31250; },
     [](Dcb& d) { d.BaudRate = 31250; }},
    {"CustomRateIgnoredOtherwise", [](LineValues& l) { l.BaudRate = br19200; l.CustomBaudRate = 31250; },
     [](Dcb& d) { d.BaudRate = 19200; }},
    {"FiveDataBits", [](LineValues& l) { l.DataBits = dbFive; }, [](Dcb& d) { d.ByteSize = 5; }},
    {"SixDataBits", [](LineValues& l) { l.DataBits = dbSix; }, [](Dcb& d) { d.ByteSize = 6; }},
    {"SevenDataBits", [](LineValues& l) { l.DataBits = dbSeven; }, [](Dcb& d) { d.ByteSize = 7; }},
    {"OneAndHalfStopBits", [](LineValues& l) { l.StopBits = sbOne5StopBits; }, [](Dcb& d) { d.StopBits = 1; }},
    {"TwoStopBits", [](LineValues& l) { l.StopBits = sbTwoStopBits; }, [](Dcb& d) { d.StopBits = 2; }},
    {"OddParity", [](LineValues& l) { l.Parity.Bits = prOdd; }, [](Dcb& d) { d.Parity = 1; }},
    {"EvenParityUnchecked", [](LineValues& l) { l.Parity.Bits = prEven; }, [](Dcb& d) { d.Parity = 2; }},
    {"MarkParity", [](LineValues& l) { l.Parity.Bits = prMark; }, [](Dcb& d) { d.Parity = 3; }},
    {"SpaceParityChecked", [](LineValues& l) { l.Parity.Bits = prSpace; l.Parity.Check = true; },
     [](Dcb& d) { d.Parity = 4; d.fParity = 1; }},
    {"CheckAndReplaceSetTheErrorCharacter",
     [](LineValues& l) { l.Parity.Check = true; l.Parity.Replace = true; l.Parity.ReplaceChar = '?'; },
     [](Dcb& d) { d.fParity = 1; d.fErrorChar = 1; d.ErrorChar = '?'; }},
    {"ReplaceWithoutCheckHasNoEffect", [](LineValues& l) { l.Parity.Replace = true; l.Parity.ReplaceChar = '?'; },
     [](Dcb&) {}},
    {"CheckWithoutReplaceLeavesErrorCharZero", [](LineValues& l) { l.Parity.Check = true; l.Parity.ReplaceChar = '?'; },
     [](Dcb& d) { d.fParity = 1; }},
    {"DtrEnable", [](LineValues& l) { l.FlowControl.ControlDTR = dtrEnable; }, [](Dcb& d) { d.fDtrControl = 1; }},
    {"DtrHandshake", [](LineValues& l) { l.FlowControl.ControlDTR = dtrHandshake; }, [](Dcb& d) { d.fDtrControl = 2; }},
    {"RtsEnable", [](LineValues& l) { l.FlowControl.ControlRTS = rtsEnable; }, [](Dcb& d) { d.fRtsControl = 1; }},
    {"RtsHandshake", [](LineValues& l) { l.FlowControl.ControlRTS = rtsHandshake; }, [](Dcb& d) { d.fRtsControl = 2; }},
    {"RtsToggle", [](LineValues& l) { l.FlowControl.ControlRTS = rtsToggle; }, [](Dcb& d) { d.fRtsControl = 3; }},
    {"OutCtsFlow", [](LineValues& l) { l.FlowControl.OutCTSFlow = true; }, [](Dcb& d) { d.fOutxCtsFlow = 1; }},
    {"OutDsrFlow", [](LineValues& l) { l.FlowControl.OutDSRFlow = true; }, [](Dcb& d) { d.fOutxDsrFlow = 1; }},
    {"DsrSensitivity", [](LineValues& l) { l.FlowControl.DSRSensitivity = true; }, [](Dcb& d) { d.fDsrSensitivity = 1; }},
    {"TxContinueOnXoff", [](LineValues& l) { l.FlowControl.TxContinueOnXoff = true; },
     [](Dcb& d) { d.fTXContinueOnXoff = 1; }},
    {"XonXoffOut", [](LineValues& l) { l.FlowControl.XonXoffOut = true; }, [](Dcb& d) { d.fOutX = 1; }},
    {"XonXoffIn", [](LineValues& l) { l.FlowControl.XonXoffIn = true; }, [](Dcb& d) { d.fInX = 1; }},
    {"XonXoffCharacters", [](LineValues& l) { l.FlowControl.XonChar = 'Q'; l.FlowControl.XoffChar = 'S'; },
     [](Dcb& d) { d.XonChar = 'Q'; d.XoffChar = 'S'; }},
    {"DiscardNull", [](LineValues& l) { l.DiscardNull = true; }, [](Dcb& d) { d.fNull = 1; }},
    {"EventCharacter", [](LineValues& l) { l.EventChar = '\r'; }, [](Dcb& d) { d.EvtChar = '\r'; }},
    {"LimitsAreAQuarterOfTheInputQueue", [](LineValues& l) { l.InputSize = 4096; },
     [](Dcb& d) { d.XonLim = d.XoffLim = 1024; }},
    {"QuarterTruncates", [](LineValues& l) { l.InputSize = 1022; }, [](Dcb& d) { d.XonLim = d.XoffLim = 255; }},
    {"ZeroInputQueue", [](LineValues& l) { l.InputSize = 0; }, [](Dcb& d) { d.XonLim = d.XoffLim = 0; }},
    {"LimitKeepsTheLowSixteenBits", [](LineValues& l) { l.InputSize = 300000; },
     [](Dcb& d) { d.XonLim = d.XoffLim = static_cast<uint16_t>(75000); }},
};

INSTANTIATE_TEST_SUITE_P(Settings, DcbTable, ::testing::ValuesIn(kDcbCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(BaudRateTable, EveryRateIsTheNumberInItsNameAndIgnoresTheCustomRate) {
  const std::pair<TBaudRate, uint32_t> rates[] = {
      {br110, 110},       {br300, 300},       {br600, 600},       {br1200, 1200},     {br2400, 2400},
      {br4800, 4800},     {br9600, 9600},     {br14400, 14400},   {br19200, 19200},   {br38400, 38400},
      {br56000, 56000},   {br57600, 57600},   {br115200, 115200}, {br128000, 128000}, {br256000, 256000}};
  for (auto [rate, bps] : rates) {
    EXPECT_EQ(BaudRateValue(rate, 1000), bps) << +rate;
    LineValues line;
    line.BaudRate = rate;
    line.CustomBaudRate = 1000;
    EXPECT_EQ(BuildDcb(line).BaudRate, bps) << +rate;
  }
  EXPECT_EQ(BaudRateValue(brCustom, 1000), 1000u);
}

TEST(CommTimeoutsTest, MinusOneBecomesTheLargestValueAndOthersPassUnchanged) {
  EXPECT_EQ(TimeoutToDevice(-1), 0xFFFFFFFFu);
  EXPECT_EQ(TimeoutToDevice(0), 0u);
  EXPECT_EQ(TimeoutToDevice(-2), 0xFFFFFFFEu);
  EXPECT_EQ(TimeoutToDevice(INT32_MAX), 0x7FFFFFFFu);

  const platform::CommTimeouts defaults = BuildCommTimeouts(TimeoutValues{});
  EXPECT_EQ(defaults, (platform::CommTimeouts{0xFFFFFFFFu, 0, 0, 100, 1000}));

  // Each field into its own place.
  const platform::CommTimeouts distinct = BuildCommTimeouts(TimeoutValues{1, 2, 3, 4, -1});
  EXPECT_EQ(distinct, (platform::CommTimeouts{1, 2, 3, 4, 0xFFFFFFFFu}));
}

struct CompositeReadCase {
  const char* name;
  FlowControlValues flow;
  TFlowControl expected;
};

FlowControlValues Flow(std::function<void(FlowControlValues&)> change) {
  FlowControlValues f;
  change(f);
  return f;
}

TEST(CompositeFlowControlTest, ReadLooksAtFourFieldsOnly) {
  const CompositeReadCase cases[] = {
      {"defaults", {}, fcNone},
      {"hardware", Flow([](auto& f) { f.ControlRTS = rtsHandshake; f.OutCTSFlow = true; }), fcHardware},
      {"hardware with DSR and DTR handshake",
       Flow([](auto& f) {
         f.ControlRTS = rtsHandshake; f.OutCTSFlow = true; f.OutDSRFlow = true; f.ControlDTR = dtrHandshake;
       }),
       fcHardware},
      {"software", Flow([](auto& f) { f.XonXoffIn = true; f.XonXoffOut = true; }), fcSoftware},
      {"software one way", Flow([](auto& f) { f.XonXoffOut = true; }), fcCustom},
      {"hardware plus xon/xoff", Flow([](auto& f) { f.ControlRTS = rtsHandshake; f.OutCTSFlow = true; f.XonXoffIn = true; }),
       fcCustom},
      {"rts handshake without cts", Flow([](auto& f) { f.ControlRTS = rtsHandshake; }), fcCustom},
      {"rts enable", Flow([](auto& f) { f.ControlRTS = rtsEnable; }), fcCustom},
      {"rts toggle", Flow([](auto& f) { f.ControlRTS = rtsToggle; }), fcCustom},
      {"cts alone", Flow([](auto& f) { f.OutCTSFlow = true; }), fcCustom},
      {"none with the other fields set",
       Flow([](auto& f) {
         f.ControlDTR = dtrEnable; f.OutDSRFlow = true; f.DSRSensitivity = true; f.TxContinueOnXoff = true;
         f.XonChar = 'a'; f.XoffChar = 'b';
       }),
       fcNone},
  };
  for (const auto& c : cases) EXPECT_EQ(CompositeFlowControl(c.flow), c.expected) << c.name;
}

TEST(CompositeFlowControlTest, WriteSetsTheFourFieldsAndLeavesTheRest) {
  const FlowControlValues others = Flow([](auto& f) {
    f.ControlDTR = dtrHandshake; f.OutDSRFlow = true; f.DSRSensitivity = true; f.TxContinueOnXoff = true;
    f.XonChar = 'a'; f.XoffChar = 'b';
  });
  for (TFlowControl target : {fcHardware, fcSoftware, fcNone}) {
    // From each composite state to each one, the other fields untouched.
    for (TFlowControl from : {fcHardware, fcSoftware, fcNone}) {
      FlowControlValues f = others;
      StoreCompositeFlowControl(f, from);
      StoreCompositeFlowControl(f, target);
      EXPECT_EQ(CompositeFlowControl(f), target) << +from << "->" << +target;
      FlowControlValues rest = f;
      rest.ControlRTS = others.ControlRTS;
      rest.OutCTSFlow = others.OutCTSFlow;
      rest.XonXoffIn = others.XonXoffIn;
      rest.XonXoffOut = others.XonXoffOut;
      EXPECT_EQ(rest, others) << +from << "->" << +target;
    }
  }
  // fcNone after fcSoftware clears both XON/XOFF flags.
  FlowControlValues f = others;
  StoreCompositeFlowControl(f, fcSoftware);
  StoreCompositeFlowControl(f, fcNone);
  EXPECT_FALSE(f.XonXoffIn);
  EXPECT_FALSE(f.XonXoffOut);

  // fcCustom changes nothing.
  FlowControlValues custom = Flow([](auto& g) { g.ControlRTS = rtsToggle; g.XonXoffIn = true; });
  const FlowControlValues before = custom;
  StoreCompositeFlowControl(custom, fcCustom);
  EXPECT_EQ(custom, before);
}

}  // namespace
}  // namespace velmora::port
