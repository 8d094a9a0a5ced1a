#include "port/com_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/comm_device.h"
#include "port/com_port.h"
#include "port/ecomport.h"
#include "port/error_display.h"

namespace velmora::port {

namespace {

struct EventBit {
  TComEvent event;
  uint32_t mask;
};

// The order in which a batch is handled: errors first, so a handler of received data already
// knows the line was damaged.
constexpr EventBit kFireOrder[] = {
    {evError, platform::EV_ERR},     {evRxChar, platform::EV_RXCHAR}, {evTxEmpty, platform::EV_TXEMPTY},
    {evBreak, platform::EV_BREAK},   {evRing, platform::EV_RING},     {evCTS, platform::EV_CTS},
    {evDSR, platform::EV_DSR},       {evRxFlag, platform::EV_RXFLAG}, {evRLSD, platform::EV_RLSD},
    {evRx80Full, platform::EV_RX80FULL},
};

// Best effort: an unprivileged process may lower its threads' priority but not raise it.
void ApplyPriority(TThreadPriority priority) {
  static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -20};
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNice[priority]);
}

std::unique_ptr<platform::Event> NewEvent(bool signalled) {
  int error = 0;
  auto event = platform::Event::Create(true, signalled, &error);
  if (!event) throw std::system_error(error, std::generic_category(), "no event for the monitor thread");
  return event;
}

}  // namespace

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (const EventBit& e : kFireOrder)
    if (events.Has(e.event)) mask |= e.mask;
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (const EventBit& e : kFireOrder)
    if (mask & e.mask) events.Include(e.event);
  return events;
}

TComThread::TComThread(TCustomComPort& port)
    : ownerPort_(port), watched_(port.Events()), stopEvent_(NewEvent(false)), ended_(NewEvent(false)) {
  // The result is not examined: a device that refuses the mask fails the first wait instead.
  (void)port.Handle()->SetCommMask(EventsToMask(port.Events()));
  thread_ = std::thread([this, priority = port.MonitorPriority()] {
    ApplyPriority(priority);
    Execute();
    ended_->Set();
  });
}

TComThread::~TComThread() {
  SignalStop();
  // Keep running the deliveries the thread queued for this thread, or it could never end.
  ownerPort_.Sync().WaitServing(*ended_);
  thread_.join();
}

void TComThread::SignalStop() {
  stopEvent_->Set();
  std::this_thread::yield();
}

void TComThread::Execute() {
  platform::CommDevice& device = *ownerPort_.Handle();
  auto overlappedEvent = NewEvent(true);
  platform::Overlapped ov;
  ov.event = overlappedEvent.get();
  uint32_t mask = 0;
  platform::Event* waitList[] = {stopEvent_.get(), overlappedEvent.get()};

  for (;;) {
    platform::IoStart start = device.WaitCommEvent(&mask, ov);
    if (start.kind == platform::IoStart::Failed) {
      // A wait that cannot even start will not start next time either: the device is gone.
      HandOverLostDevice(start.error);
      break;
    }
    platform::WaitOutcome r = platform::WaitForAny(waitList, platform::kInfinite);
    if (r.kind != platform::WaitOutcome::Signalled || r.index != 1) break;
    uint32_t transferred = 0;
    platform::Status result = device.GetOverlappedResult(ov, transferred, false);
    if (!result) {
      // An aborted wait (a purge, a new mask) on a healthy device only loses its events.
      if (result.error == ECANCELED) continue;
      HandOverLostDevice(result.error);
      break;
    }
    pendingEvents_ = MaskToEvents(mask);
    if (!DeliverGuarded()) break;
  }

  (void)device.SetCommMask(0);
  (void)device.PurgeComm(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR);
}

bool TComThread::DeliverGuarded() {
  try {
    DeliverEvents();
    return true;
  } catch (const std::exception& e) {
    ReportOnce(e.what());
  } catch (...) {
    ReportOnce("unknown error in a port event handler");
  }
  return false;
}

void TComThread::HandOverLostDevice(int error) {
  if (stopEvent_->IsSet()) return;  // closing anyway
  // What arrived before the loss is still in the device's queue: hand it out first.
  if (watched_.Has(evRxChar)) {
    pendingEvents_ = TComEvents{evRxChar};
    if (!DeliverGuarded()) return;
  }
  TCustomComPort* port = &ownerPort_;
  const TComThread* self = this;
  // The owning thread releases the port; a close that came first makes this do nothing.
  ownerPort_.Sync().Post([port, self, error] { port->ReleaseLostDevice(self, error); });
}

void TComThread::ReportOnce(const std::string& message) {
  // Shown on the owning thread, where the display lives; the monitor ends right after.
  ownerPort_.Sync().Post([message] { ShowError(message); });
}

void TComThread::DeliverEvents() {
  switch (ownerPort_.SyncMethod()) {
    case smThreadSync:
      ownerPort_.Sync().Send([this] { FireEvents(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      FireEvents();
      break;
  }
}

void TComThread::FireEvents() {
  for (const EventBit& e : kFireOrder) {
    if (!pendingEvents_.Has(e.event)) continue;
    switch (e.event) {
      case evError: ownerPort_.ProcessError(); break;
      case evRxChar: ownerPort_.ProcessRxChar(); break;
      case evTxEmpty: ownerPort_.ProcessTxEmpty(); break;
      case evBreak: ownerPort_.ProcessBreak(); break;
      case evRing: ownerPort_.ProcessRing(); break;
      case evCTS: ownerPort_.ProcessCTSChange(); break;
      case evDSR: ownerPort_.ProcessDSRChange(); break;
      case evRxFlag: ownerPort_.ProcessRxFlag(); break;
      case evRLSD: ownerPort_.ProcessRLSDChange(); break;
      case evRx80Full: ownerPort_.ProcessRx80Full(); break;
    }
  }
}

void TComThread::SendEventMessages() {
  for (const EventBit& e : kFireOrder) {
    if (!pendingEvents_.Has(e.event)) continue;
    TCustomComPort* port = &ownerPort_;
    const uint32_t bit = e.mask;
    // The handler replies at once, so this thread goes on while the handler runs.
    ownerPort_.Sync().Send([port, bit] { port->HandlePortMessage(WM_PORT_EVENT, bit); },
                           Synchronizer::ReleaseWhen::Started);
  }
}

}  // namespace velmora::port
