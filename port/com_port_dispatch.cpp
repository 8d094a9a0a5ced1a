// The port's event dispatch: a dispatcher per line event gathers its argument from the device
// and calls the emitter; the line-state reports after open and before close; the window
// delivery mode's message handler.
#include "port/com_port.h"
#include "port/com_thread.h"
#include "port/error_display.h"

namespace velmora::port {

void TCustomComPort::ProcessRxChar() {
  const int count = InputQueueCount();
  // An earlier handler of the same batch may already have taken the bytes.
  if (count > 0) EmitRxChar(count);
}

void TCustomComPort::ProcessError() {
  const TComErrors errors = ReadLineErrors();
  if (!errors.Empty()) EmitError(errors);
}

// Once a close has reported the lines off, a delivery still queued must not turn them on again.
void TCustomComPort::ProcessCTSChange() {
  if (!closing_) EmitCTSChange(LineSignals().Has(lsCTS));
}
void TCustomComPort::ProcessDSRChange() {
  if (!closing_) EmitDSRChange(LineSignals().Has(lsDSR));
}
void TCustomComPort::ProcessRLSDChange() {
  if (!closing_) EmitRLSDChange(LineSignals().Has(lsRLSD));
}
void TCustomComPort::ProcessTxEmpty() { EmitTxEmpty(); }
void TCustomComPort::ProcessBreak() { EmitBreak(); }
void TCustomComPort::ProcessRing() { EmitRing(); }
void TCustomComPort::ProcessRxFlag() { EmitRxFlag(); }
void TCustomComPort::ProcessRx80Full() { EmitRx80Full(); }

void TCustomComPort::ReportSignals(bool current) {
  if (current) {
    ProcessCTSChange();
    ProcessDSRChange();
    ProcessRLSDChange();
    return;
  }
  EmitCTSChange(false);
  EmitDSRChange(false);
  EmitRLSDChange(false);
}

void TCustomComPort::HandlePortMessage(uint32_t message, uint32_t wParam) {
  if (message != WM_PORT_EVENT || !connected_) return;
  try {
    switch (wParam) {
      case platform::EV_RXCHAR: ProcessRxChar(); break;
      case platform::EV_RXFLAG: ProcessRxFlag(); break;
      case platform::EV_TXEMPTY: ProcessTxEmpty(); break;
      case platform::EV_CTS: ProcessCTSChange(); break;
      case platform::EV_DSR: ProcessDSRChange(); break;
      case platform::EV_RLSD: ProcessRLSDChange(); break;
      case platform::EV_BREAK: ProcessBreak(); break;
      case platform::EV_ERR: ProcessError(); break;
      case platform::EV_RING: ProcessRing(); break;
      case platform::EV_RX80FULL: ProcessRx80Full(); break;
      default: break;
    }
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomComPort::StartMonitor() {
  thread_ = std::make_unique<TComThread>(*this);
  threadCreated_ = true;
}

void TCustomComPort::StopMonitor() {
  std::unique_ptr<TComThread> monitor = std::move(thread_);
  if (!monitor) return;
  // From inside a delivery the monitor cannot end before this call returns: let it go instead.
  if (monitor->CanBeAwaitedHere())
    monitor.reset();
  else
    monitor->Abandon();
}

}  // namespace velmora::port
