#include "port/com_port.h"

#include <algorithm>
#include <cerrno>
#include <exception>

#include "port/com_thread.h"
#include "port/device_config.h"
#include "port/ecomport.h"
#include "port/error_display.h"

namespace velmora::port {

TCustomComPort::TCustomComPort(std::string name)
    : name_(std::move(name)) {}

TCustomComPort::~TCustomComPort() { CloseOnDestruction(); }

void TCustomComPort::ClearHandlers() {
  OnRxChar = nullptr;
  OnRxBuf = nullptr;
  OnTxEmpty = nullptr;
  OnBreak = nullptr;
  OnRing = nullptr;
  OnCTSChange = nullptr;
  OnDSRChange = nullptr;
  OnRLSDChange = nullptr;
  OnError = nullptr;
  OnRxFlag = nullptr;
  OnAfterOpen = nullptr;
  OnAfterClose = nullptr;
  OnBeforeOpen = nullptr;
  OnBeforeClose = nullptr;
  OnRx80Full = nullptr;
  OnDeviceLost = nullptr;
}

void TCustomComPort::CloseOnDestruction() noexcept {
  // Observers may remove themselves while they are told.
  const std::vector<TPortObserver*> observers = std::move(observers_);
  observers_.clear();
  for (TPortObserver* observer : observers) observer->PortDestroying(*this);
  // Destruction cannot raise: a close that fails still releases the device, and the error
  // goes where the operator sees it.
  try {
    ClosePort();
  } catch (...) {
    try {
      ShowCurrentException();
    } catch (...) {
      // A display that fails has nowhere to report to; the device is released below.
    }
  }
  ReleaseAfterFailedClose();
}

void TCustomComPort::ReleaseAfterFailedClose() noexcept {
  if (threadCreated_) StopMonitor();
  threadCreated_ = false;
  handle_.reset();
  connected_ = false;
}

void TCustomComPort::FreeNotification(TPortObserver* observer) {
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void TCustomComPort::RemoveFreeNotification(TPortObserver* observer) {
  std::erase(observers_, observer);
}

void TCustomComPort::SetDeviceDirectory(std::shared_ptr<platform::DeviceDirectory> directory) {
  directory_ = std::move(directory);
}

// --- settings -----------------------------------------------------------------------------

template <typename T>
void TCustomComPort::SetLineField(T& field, T value) {
  if (field == value) return;
  field = value;
  ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (port_ == value) return;
  port_ = value;
  // While loading, Connected is only a recorded wish: FinishLoading opens the new name.
  if (connected_ && !loading_ && !designMode_) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetBaudRate(TBaudRate value) { SetLineField(baudRate_, value); }
void TCustomComPort::SetCustomBaudRate(int32_t value) { SetLineField(customBaudRate_, value); }
void TCustomComPort::SetDataBits(TDataBits value) { SetLineField(dataBits_, value); }
void TCustomComPort::SetStopBits(TStopBits value) { SetLineField(stopBits_, value); }
void TCustomComPort::SetDiscardNull(bool value) { SetLineField(discardNull_, value); }
void TCustomComPort::SetEventChar(char value) { SetLineField(eventChar_, value); }

void TCustomComPort::SetParity(const TComParity& value) { parity_.Assign(value); }
void TCustomComPort::SetFlowControl(const TComFlowControl& value) { flowControl_.Assign(value); }
void TCustomComPort::SetTimeouts(const TComTimeouts& value) { timeouts_.Assign(value); }
void TCustomComPort::SetBuffer(const TComBuffer& value) { buffer_.Assign(value); }

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (syncMethod_ == value) return;
  // The monitor thread reads it for every batch it delivers.
  if (connected_) throw EComPort(kErrConnected);
  syncMethod_ = value;
}

void TCustomComPort::SetConnected(bool value) {
  if (connected_ == value) return;
  if (loading_ || designMode_) {
    connected_ = value;
    return;
  }
  if (value)
    OpenPort();
  else
    ClosePort();
}

LineValues TCustomComPort::CurrentLineValues() const {
  LineValues line;
  line.BaudRate = baudRate_;
  line.CustomBaudRate = customBaudRate_;
  line.DataBits = dataBits_;
  line.StopBits = stopBits_;
  line.DiscardNull = discardNull_;
  line.EventChar = eventChar_;
  line.Parity = parity_.Values();
  line.FlowControl = flowControl_.Values();
  line.InputSize = buffer_.InputSize();
  return line;
}

// --- lifecycle ----------------------------------------------------------------------------

void TCustomComPort::OpenPort() {
  if (connected_ || designMode_) return;
  EmitBeforeOpen();
  CreateDeviceHandle();
  keptErrorWord_ = 0;  // nothing of an earlier session
  connected_ = true;  // the apply operations act only on a connected port
  try {
    ApplyAllSettings();
  } catch (...) {
    CloseDeviceHandle();
    connected_ = false;
    throw;
  }
  if (events_.Empty()) {
    threadCreated_ = false;
  } else {
    try {
      StartMonitor();
    } catch (...) {
      CloseDeviceHandle();
      connected_ = false;
      throw;
    }
  }
  EmitAfterOpen();
  ReportSignals(true);
}

void TCustomComPort::ClosePort() {
  // A handler that closes again while this close serves a delivery: the first close finishes.
  if (!connected_ || designMode_ || closing_) return;
  closing_ = true;
  try {
    ReportSignals(false);
    EmitBeforeClose();
    PurgeAll();
  } catch (...) {
    closing_ = false;
    throw;
  }
  if (threadCreated_) {
    StopMonitor();
    threadCreated_ = false;
  }
  CloseDeviceHandle();
  connected_ = false;
  closing_ = false;
  EmitAfterClose();
}

namespace {

// The failures of a wait that mean the device itself went away rather than a refused call.
bool DeviceIsGone(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == ENOENT || error == EPIPE ||
         error == ESHUTDOWN;
}

// Runs one notice of the release; an error of it is shown and the release goes on.
template <typename Notice>
void RunNotice(Notice notice) {
  try {
    notice();
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace

void TCustomComPort::ReleaseLostDevice(int error) {
  if (!connected_ || closing_) return;
  // The operator's sentence, in the system's encoding like every Detail.
  const EComPort reason(
      kErrWaitFailed, error,
      DeviceIsGone(error)
          ? "Устройство " + port_ + " пропало (отключено, или закрыт его дальний конец); порт закрыт"
          : "Устройство " + port_ + " перестало отвечать; порт закрыт");
  closing_ = true;
  RunNotice([this] { ReportSignals(false); });
  // The monitor's body has ended, so this wait is short; its device leaves with it.
  StopMonitor();
  threadCreated_ = false;
  RunNotice([this] { CloseDeviceHandle(); });
  handle_.reset();
  connected_ = false;
  closing_ = false;
  RunNotice([this] { EmitAfterClose(); });
  // A caller that handles the loss tells its operator in its own way (a console without a box
  // over its window); for any other the display is the only one who can.
  const bool handled = static_cast<bool>(OnDeviceLost);
  RunNotice([&] { EmitDeviceLost(reason); });
  if (!handled) ShowError(reason.Detail() + ": " + reason.what());
}

void TCustomComPort::BeginSettingsUpdate() { ++updateCount_; }

void TCustomComPort::EndSettingsUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) ApplyAllSettings();
}

void TCustomComPort::FinishLoading() {
  // On a port that is not loading, Connected is the real state: nothing to finish.
  if (!loading_) return;
  loading_ = false;
  if (!connected_ || designMode_) return;
  // Recorded as connected while loading; open now that every other setting is in.
  connected_ = false;
  try {
    OpenPort();
  } catch (...) {
    ShowCurrentException();
  }
}

bool TCustomComPort::CanApply() const { return connected_ && updateCount_ == 0 && !loading_ && !designMode_; }

platform::CommDevice& TCustomComPort::DeviceOr(int errorNumber) const {
  if (!handle_) throw EComPort(errorNumber, EBADF);
  return *handle_;
}

void TCustomComPort::CreateDeviceHandle() {
  // Made on first use: the standard directory starts simulated devices a test never needs.
  if (!directory_) directory_ = platform::DeviceDirectory::Standard();
  platform::OpenResult opened = directory_->Open(port_);
  if (!opened.device) throw EComPort(kErrOpen, opened.error, std::move(opened.detail));
  handle_ = std::move(opened.device);
}

void TCustomComPort::CloseDeviceHandle() { handle_.reset(); }

void TCustomComPort::ApplyAllSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  platform::Status status = DeviceOr(kErrSetState).SetCommState(BuildDcb(CurrentLineValues()));
  if (!status) throw EComPort(kErrSetState, status.error);
}

void TCustomComPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  platform::Status status = DeviceOr(kErrSetTimeouts).SetCommTimeouts(BuildCommTimeouts(timeouts_.Values()));
  if (!status) throw EComPort(kErrSetTimeouts, status.error);
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  // Negative sizes pass as the device reads them (very large) and are refused there.
  platform::Status status = DeviceOr(kErrSetupComm)
                                .SetupComm(static_cast<uint32_t>(buffer_.InputSize()),
                                           static_cast<uint32_t>(buffer_.OutputSize()));
  if (!status) throw EComPort(kErrSetupComm, status.error);
}

// --- emitters -----------------------------------------------------------------------------

void TCustomComPort::EmitAfterClose() {
  if (OnAfterClose) OnAfterClose(*this);
}
void TCustomComPort::EmitAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(*this);
}
void TCustomComPort::EmitBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(*this);
}
void TCustomComPort::EmitBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(*this);
}
void TCustomComPort::EmitRxChar(int count) {
  if (OnRxChar) OnRxChar(*this, count);
}
void TCustomComPort::EmitRxBuf(const void* buffer, int count) {
  if (OnRxBuf) OnRxBuf(*this, buffer, count);
}
void TCustomComPort::EmitTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(*this);
}
void TCustomComPort::EmitBreak() {
  if (OnBreak) OnBreak(*this);
}
void TCustomComPort::EmitRing() {
  if (OnRing) OnRing(*this);
}
void TCustomComPort::EmitRxFlag() {
  if (OnRxFlag) OnRxFlag(*this);
}
void TCustomComPort::EmitCTSChange(bool on) {
  if (OnCTSChange) OnCTSChange(*this, on);
}
void TCustomComPort::EmitDSRChange(bool on) {
  if (OnDSRChange) OnDSRChange(*this, on);
}
void TCustomComPort::EmitError(TComErrors errors) {
  if (OnError) OnError(*this, errors);
}
void TCustomComPort::EmitRLSDChange(bool on) {
  if (OnRLSDChange) OnRLSDChange(*this, on);
}
void TCustomComPort::EmitRx80Full() {
  if (OnRx80Full) OnRx80Full(*this);
}
void TCustomComPort::EmitDeviceLost(const EComPort& reason) {
  if (OnDeviceLost) OnDeviceLost(*this, reason);
}

}  // namespace velmora::port
