#include "port/com_settings.h"

#include "port/device_config.h"

namespace velmora::port {

namespace {

// Compare first: true when the value was different and is now stored.
template <typename T>
bool Store(T& field, T value) {
  if (field == value) return false;
  field = value;
  return true;
}

}  // namespace

// --- parity ---------------------------------------------------------------------------------

void TComParity::Changed() {
  if (owner_) owner_->ApplyLineSettings();
}

void TComParity::Assign(const TComParity& source) {
  values_ = source.values_;
  Changed();
}

void TComParity::SetBits(TParityBits value) {
  if (Store(values_.Bits, value)) Changed();
}
void TComParity::SetCheck(bool value) {
  if (Store(values_.Check, value)) Changed();
}
void TComParity::SetReplace(bool value) {
  if (Store(values_.Replace, value)) Changed();
}
void TComParity::SetReplaceChar(char value) {
  if (Store(values_.ReplaceChar, value)) Changed();
}

// --- flow control ---------------------------------------------------------------------------

void TComFlowControl::Changed() {
  if (owner_) owner_->ApplyLineSettings();
}

void TComFlowControl::Assign(const TComFlowControl& source) {
  values_ = source.values_;
  Changed();
}

void TComFlowControl::SetOutCTSFlow(bool value) {
  if (Store(values_.OutCTSFlow, value)) Changed();
}
void TComFlowControl::SetOutDSRFlow(bool value) {
  if (Store(values_.OutDSRFlow, value)) Changed();
}
void TComFlowControl::SetControlDTR(TDTRFlowControl value) {
  if (Store(values_.ControlDTR, value)) Changed();
}
void TComFlowControl::SetControlRTS(TRTSFlowControl value) {
  if (Store(values_.ControlRTS, value)) Changed();
}
void TComFlowControl::SetXonXoffOut(bool value) {
  if (Store(values_.XonXoffOut, value)) Changed();
}
void TComFlowControl::SetXonXoffIn(bool value) {
  if (Store(values_.XonXoffIn, value)) Changed();
}
void TComFlowControl::SetDSRSensitivity(bool value) {
  if (Store(values_.DSRSensitivity, value)) Changed();
}
void TComFlowControl::SetTxContinueOnXoff(bool value) {
  if (Store(values_.TxContinueOnXoff, value)) Changed();
}
void TComFlowControl::SetXonChar(char value) {
  if (Store(values_.XonChar, value)) Changed();
}
void TComFlowControl::SetXoffChar(char value) {
  if (Store(values_.XoffChar, value)) Changed();
}

TFlowControl TComFlowControl::FlowControl() const { return CompositeFlowControl(values_); }

void TComFlowControl::SetFlowControl(TFlowControl value) {
  StoreCompositeFlowControl(values_, value);
  Changed();
}

// --- timeouts -------------------------------------------------------------------------------

void TComTimeouts::Set(int32_t TimeoutValues::*field, int32_t value) {
  if (Store(values_.*field, value) && owner_) owner_->ApplyTimeoutSettings();
}

void TComTimeouts::Assign(const TComTimeouts& source) {
  values_ = source.values_;
  if (owner_) owner_->ApplyTimeoutSettings();
}

void TComTimeouts::SetReadInterval(int32_t value) { Set(&TimeoutValues::ReadInterval, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { Set(&TimeoutValues::ReadTotalMultiplier, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { Set(&TimeoutValues::ReadTotalConstant, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { Set(&TimeoutValues::WriteTotalMultiplier, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { Set(&TimeoutValues::WriteTotalConstant, value); }

// --- buffer ---------------------------------------------------------------------------------

void TComBuffer::Set(int32_t BufferValues::*field, int32_t value) {
  if (values_.*field == value) return;
  // Queue sizes are kept even: a positive odd size goes one lower.
  values_.*field = (value > 0 && value % 2 != 0) ? value - 1 : value;
  if (owner_) owner_->ApplyBufferSizes();
}

void TComBuffer::Assign(const TComBuffer& source) {
  values_ = source.values_;
  if (owner_) owner_->ApplyBufferSizes();
}

void TComBuffer::SetInputSize(int32_t value) { Set(&BufferValues::InputSize, value); }
void TComBuffer::SetOutputSize(int32_t value) { Set(&BufferValues::OutputSize, value); }

}  // namespace velmora::port
