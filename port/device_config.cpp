#include "port/device_config.h"

namespace velmora::port {

uint32_t BaudRateValue(TBaudRate rate, int32_t custom) {
  static constexpr uint32_t kRates[] = {0,     110,   300,   600,   1200,   2400,   4800,   9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  static_assert(sizeof kRates / sizeof kRates[0] == br256000 + 1);
  if (rate == brCustom || rate > br256000) return static_cast<uint32_t>(custom);
  return kRates[rate];
}

platform::Dcb BuildDcb(const LineValues& line) {
  const ParityValues& parity = line.Parity;
  const FlowControlValues& flow = line.FlowControl;
  // Replacement is a part of parity checking: without Check the device never replaces.
  const bool errorChar = parity.Check && parity.Replace;
  const auto limit = static_cast<uint16_t>(line.InputSize / 4);

  platform::Dcb dcb;
  dcb.DCBlength = 28;
  dcb.BaudRate = BaudRateValue(line.BaudRate, line.CustomBaudRate);
  dcb.fBinary = 1;
  dcb.fParity = parity.Check;
  dcb.fOutxCtsFlow = flow.OutCTSFlow;
  dcb.fOutxDsrFlow = flow.OutDSRFlow;
  dcb.fDtrControl = static_cast<uint8_t>(flow.ControlDTR);
  dcb.fDsrSensitivity = flow.DSRSensitivity;
  dcb.fTXContinueOnXoff = flow.TxContinueOnXoff;
  dcb.fOutX = flow.XonXoffOut;
  dcb.fInX = flow.XonXoffIn;
  dcb.fErrorChar = errorChar;
  dcb.fNull = line.DiscardNull;
  dcb.fRtsControl = static_cast<uint8_t>(flow.ControlRTS);
  dcb.fAbortOnError = 0;
  dcb.fDummy2 = 0;
  dcb.wReserved = 0;
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.ByteSize = static_cast<uint8_t>(5 + line.DataBits);
  dcb.Parity = static_cast<uint8_t>(parity.Bits);
  dcb.StopBits = static_cast<uint8_t>(line.StopBits);
  dcb.XonChar = flow.XonChar;
  dcb.XoffChar = flow.XoffChar;
  dcb.ErrorChar = errorChar ? parity.ReplaceChar : char{0};
  dcb.EofChar = 0;
  dcb.EvtChar = line.EventChar;
  dcb.wReserved1 = 0;
  return dcb;
}

uint32_t TimeoutToDevice(int32_t value) {
  return value == -1 ? platform::MAXDWORD : static_cast<uint32_t>(value);
}

platform::CommTimeouts BuildCommTimeouts(const TimeoutValues& timeouts) {
  platform::CommTimeouts block;
  block.ReadIntervalTimeout = TimeoutToDevice(timeouts.ReadInterval);
  block.ReadTotalTimeoutMultiplier = TimeoutToDevice(timeouts.ReadTotalMultiplier);
  block.ReadTotalTimeoutConstant = TimeoutToDevice(timeouts.ReadTotalConstant);
  block.WriteTotalTimeoutMultiplier = TimeoutToDevice(timeouts.WriteTotalMultiplier);
  block.WriteTotalTimeoutConstant = TimeoutToDevice(timeouts.WriteTotalConstant);
  return block;
}

TFlowControl CompositeFlowControl(const FlowControlValues& flow) {
  const bool anyXonXoff = flow.XonXoffIn || flow.XonXoffOut;
  if (flow.ControlRTS == rtsHandshake && flow.OutCTSFlow && !anyXonXoff) return fcHardware;
  if (flow.ControlRTS == rtsDisable && !flow.OutCTSFlow && flow.XonXoffIn && flow.XonXoffOut)
    return fcSoftware;
  if (flow.ControlRTS == rtsDisable && !flow.OutCTSFlow && !anyXonXoff) return fcNone;
  return fcCustom;
}

void StoreCompositeFlowControl(FlowControlValues& flow, TFlowControl composite) {
  if (composite != fcHardware && composite != fcSoftware && composite != fcNone) return;
  flow.ControlRTS = rtsDisable;
  flow.OutCTSFlow = false;
  flow.XonXoffIn = false;
  flow.XonXoffOut = false;
  if (composite == fcHardware) {
    flow.ControlRTS = rtsHandshake;
    flow.OutCTSFlow = true;
  } else if (composite == fcSoftware) {
    flow.XonXoffIn = true;
    flow.XonXoffOut = true;
  }
}

}  // namespace velmora::port
