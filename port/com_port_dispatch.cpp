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

void TCustomComPort::ProcessEvent(TComEvent event) {
  switch (event) {
    case evRxChar: ProcessRxChar(); break;
    case evRxFlag: ProcessRxFlag(); break;
    case evTxEmpty: ProcessTxEmpty(); break;
    case evCTS: ProcessCTSChange(); break;
    case evDSR: ProcessDSRChange(); break;
    case evRLSD: ProcessRLSDChange(); break;
    case evBreak: ProcessBreak(); break;
    case evError: ProcessError(); break;
    case evRing: ProcessRing(); break;
    case evRx80Full: ProcessRx80Full(); break;
  }
}

void TCustomComPort::HandlePortMessage(uint32_t message, uint32_t wParam) {
  if (message != WM_PORT_EVENT || !connected_) return;
  const std::optional<TComEvent> event = EventOfBit(wParam);
  if (!event) return;
  try {
    ProcessEvent(*event);
  } catch (...) {
    ShowCurrentException();
  }
}

void TCustomComPort::StartMonitor() {
  thread_ = std::make_unique<TComThread>(MonitorSetup{
      this, Handle(), SharedSync(), SyncMethod(), Events(), MonitorPriority(), Port()});
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
