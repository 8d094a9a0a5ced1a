#pragma once
// The setting objects a port owns: parity, flow control, timeouts, queue sizes.
//
// Each object keeps a back reference to its port. A setter compares first: an unchanged value
// does nothing; a changed one is stored and handed to the port's re-apply operation for its
// group (line settings, timeouts or buffer sizes), which reaches the device only while the
// port is open and no settings update is in progress, and raises the port's EComPort when the
// device refuses. An object made without a port (a dialog's working copy) only stores.
// `Assign` copies every field of another object at once, without the per-field rules, and
// re-applies once even if nothing changed.
//
// Not thread-safe: used on the thread that owns the port.

#include <cstdint>

#include "port/com_types.h"
#include "port/setting_values.h"

namespace velmora::port {

// The port a setting object belongs to, as the object sees it: the re-apply of each group.
class PortSettingsOwner {
 public:
  virtual void ApplyLineSettings() = 0;
  virtual void ApplyTimeoutSettings() = 0;
  virtual void ApplyBufferSizes() = 0;

 protected:
  ~PortSettingsOwner() = default;
};

class TComParity {
 public:
  explicit TComParity(PortSettingsOwner* owner = nullptr) : owner_(owner) {}
  TComParity(const TComParity&) = delete;
  TComParity& operator=(const TComParity&) = delete;

  PortSettingsOwner* Owner() const { return owner_; }
  const ParityValues& Values() const { return values_; }
  void Assign(const TComParity& source);

  TParityBits Bits() const { return values_.Bits; }
  bool Check() const { return values_.Check; }
  bool Replace() const { return values_.Replace; }
  char ReplaceChar() const { return values_.ReplaceChar; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

 private:
  void Changed();
  PortSettingsOwner* owner_;
  ParityValues values_;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(PortSettingsOwner* owner = nullptr) : owner_(owner) {}
  TComFlowControl(const TComFlowControl&) = delete;
  TComFlowControl& operator=(const TComFlowControl&) = delete;

  PortSettingsOwner* Owner() const { return owner_; }
  const FlowControlValues& Values() const { return values_; }
  void Assign(const TComFlowControl& source);

  bool OutCTSFlow() const { return values_.OutCTSFlow; }
  bool OutDSRFlow() const { return values_.OutDSRFlow; }
  TDTRFlowControl ControlDTR() const { return values_.ControlDTR; }
  TRTSFlowControl ControlRTS() const { return values_.ControlRTS; }
  bool XonXoffOut() const { return values_.XonXoffOut; }
  bool XonXoffIn() const { return values_.XonXoffIn; }
  bool DSRSensitivity() const { return values_.DSRSensitivity; }
  bool TxContinueOnXoff() const { return values_.TxContinueOnXoff; }
  char XonChar() const { return values_.XonChar; }
  char XoffChar() const { return values_.XoffChar; }
  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);

  // The composite view, computed from ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut.
  TFlowControl FlowControl() const;
  // fcHardware, fcSoftware, fcNone set those four fields; fcCustom changes nothing. Re-applies
  // the line settings in every case, also when nothing changed.
  void SetFlowControl(TFlowControl value);

 private:
  void Changed();
  PortSettingsOwner* owner_;
  FlowControlValues values_;
};

class TComTimeouts {
 public:
  explicit TComTimeouts(PortSettingsOwner* owner = nullptr) : owner_(owner) {}
  TComTimeouts(const TComTimeouts&) = delete;
  TComTimeouts& operator=(const TComTimeouts&) = delete;

  PortSettingsOwner* Owner() const { return owner_; }
  const TimeoutValues& Values() const { return values_; }
  void Assign(const TComTimeouts& source);

  int32_t ReadInterval() const { return values_.ReadInterval; }
  int32_t ReadTotalMultiplier() const { return values_.ReadTotalMultiplier; }
  int32_t ReadTotalConstant() const { return values_.ReadTotalConstant; }
  int32_t WriteTotalMultiplier() const { return values_.WriteTotalMultiplier; }
  int32_t WriteTotalConstant() const { return values_.WriteTotalConstant; }
  void SetReadInterval(int32_t value);
  void SetReadTotalMultiplier(int32_t value);
  void SetReadTotalConstant(int32_t value);
  void SetWriteTotalMultiplier(int32_t value);
  void SetWriteTotalConstant(int32_t value);

 private:
  void Set(int32_t TimeoutValues::*field, int32_t value);
  PortSettingsOwner* owner_;
  TimeoutValues values_;
};

class TComBuffer {
 public:
  explicit TComBuffer(PortSettingsOwner* owner = nullptr) : owner_(owner) {}
  TComBuffer(const TComBuffer&) = delete;
  TComBuffer& operator=(const TComBuffer&) = delete;

  PortSettingsOwner* Owner() const { return owner_; }
  const BufferValues& Values() const { return values_; }
  void Assign(const TComBuffer& source);  // sizes copied as they are, odd ones too

  int32_t InputSize() const { return values_.InputSize; }
  int32_t OutputSize() const { return values_.OutputSize; }
  // A positive odd size is stored one lower (1025 becomes 1024); zero and negatives as given.
  void SetInputSize(int32_t value);
  void SetOutputSize(int32_t value);

 private:
  void Set(int32_t BufferValues::*field, int32_t value);
  PortSettingsOwner* owner_;
  BufferValues values_;
};

}  // namespace velmora::port
