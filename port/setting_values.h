#pragma once
// The port's settings as plain values: what the owned setting objects hold and what the
// device-configuration builders read. Defaults are those of a newly made port.

#include <cstdint>

#include "port/com_types.h"

namespace velmora::port {

struct ParityValues {
  TParityBits Bits = prNone;
  bool Check = false;    // the driver checks parity of received bytes
  bool Replace = false;  // with Check: bytes received with a parity error become ReplaceChar
  char ReplaceChar = 0;
  bool operator==(const ParityValues&) const = default;
};

struct FlowControlValues {
  bool OutCTSFlow = false;
  bool OutDSRFlow = false;
  TDTRFlowControl ControlDTR = dtrDisable;
  TRTSFlowControl ControlRTS = rtsDisable;
  bool XonXoffOut = false;
  bool XonXoffIn = false;
  bool DSRSensitivity = false;
  bool TxContinueOnXoff = false;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  bool operator==(const FlowControlValues&) const = default;
};

// Milliseconds; -1 stands for the device's largest value.
struct TimeoutValues {
  int32_t ReadInterval = -1;
  int32_t ReadTotalMultiplier = 0;
  int32_t ReadTotalConstant = 0;
  int32_t WriteTotalMultiplier = 100;
  int32_t WriteTotalConstant = 1000;
  bool operator==(const TimeoutValues&) const = default;
};

struct BufferValues {
  int32_t InputSize = 1024;
  int32_t OutputSize = 1024;
  bool operator==(const BufferValues&) const = default;
};

// Everything the device-control block is built from.
struct LineValues {
  TBaudRate BaudRate = br9600;
  int32_t CustomBaudRate = 9600;
  TDataBits DataBits = dbEight;
  TStopBits StopBits = sbOneStopBit;
  bool DiscardNull = false;
  char EventChar = 0;
  ParityValues Parity;
  FlowControlValues FlowControl;
  int32_t InputSize = 1024;  // the flow-control limits are a quarter of it
  bool operator==(const LineValues&) const = default;
};

}  // namespace velmora::port
