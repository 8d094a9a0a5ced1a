#include "port/com_thread.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "platform/comm_device.h"
#include "port/ecomport.h"
#include "port/error_display.h"
#include "port/synchronizer.h"

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
  if (!event) throw EComPort(kErrOpen, error);
  return event;
}

}  // namespace

struct TComThread::Shared : std::enable_shared_from_this<TComThread::Shared> {
  MonitoredPort* port;
  platform::CommDevice* device;
  std::shared_ptr<Synchronizer> sync;
  TSyncMethod syncMethod;  // cannot change while the port is open
  TComEvents watched;
  std::unique_ptr<platform::Event> stop = NewEvent(false);
  std::unique_ptr<platform::Event> ended = NewEvent(false);
  std::unique_ptr<platform::Event> overlappedEvent = NewEvent(true);
  // The wait in progress: started by the monitor, or by the owning thread after a delivery.
  platform::Overlapped ov;
  uint32_t mask = 0;
  std::atomic<bool> abandoned{false};
  // Set on the owning thread while it runs a handed-over batch's handlers.
  std::atomic<bool> delivering{false};
  // What the owning thread tells the monitor when it wakes it without an event.
  std::atomic<bool> deliveryFailed{false};
  std::atomic<int> rearmError{0};
  TComEvents pendingEvents;
  // The monitor's body and every delivery handed to the owning thread and not yet run to its
  // end: the last of them clears the mask and purges the queues, so a batch handed over before
  // a close still finds its data in the device.
  std::atomic<int> holders{1};
  std::atomic<bool> exited{false};
  // Made while memory is there: shown when the thread is short of it.
  std::string outOfMemoryMessage;

  bool Stopped() const { return stop->IsSet(); }
  void Body() noexcept;
  void Execute();
  // Runs `call`; false when it raised, with the exception's message in `failure`.
  template <typename Call>
  bool Attempt(Call call, std::string& failure);
  // After a delivery raised: the system's number when the device no longer answers, else 0.
  int LostError();
  void DeliverEvents();
  void DeliverAndWaitAgain();
  void FireEvents();
  void SendEventMessages();
  void HandOverLostDevice(int error);
  void ReportOnce(const std::string& message);
  void LetGo();
  void Exit();
};

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

std::optional<TComEvent> EventOfBit(uint32_t bit) {
  for (const EventBit& e : kFireOrder)
    if (e.mask == bit) return e.event;
  return std::nullopt;
}

TComThread::TComThread(const MonitorSetup& setup) : shared_(std::make_shared<Shared>()) {
  Shared& s = *shared_;
  s.port = setup.port;
  s.device = setup.device;
  s.sync = setup.sync;
  s.syncMethod = setup.syncMethod;
  s.watched = setup.watched;
  // "Порт <name>: не хватило памяти для событий порта, и порт больше не сообщает о них; закройте и
  // откройте его снова", in the display's code page.
  s.outOfMemoryMessage =
      "\xcf\xee\xf0\xf2 " + setup.portName +
      ": \xed\xe5 \xf5\xe2\xe0\xf2\xe8\xeb\xee \xef\xe0\xec\xff\xf2\xe8 \xe4\xeb\xff "
      "\xf1\xee\xe1\xfb\xf2\xe8\xe9 \xef\xee\xf0\xf2\xe0, \xe8 \xef\xee\xf0\xf2 "
      "\xe1\xee\xeb\xfc\xf8\xe5 \xed\xe5 \xf1\xee\xee\xe1\xf9\xe0\xe5\xf2 \xee \xed\xe8\xf5; "
      "\xe7\xe0\xea\xf0\xee\xe9\xf2\xe5 \xe8 \xee\xf2\xea\xf0\xee\xe9\xf2\xe5 \xe5\xe3\xee "
      "\xf1\xed\xee\xe2\xe0";
  // The result is not examined: a device that refuses the mask fails the first wait instead.
  (void)s.device->SetCommMask(EventsToMask(s.watched));
  try {
    thread_ = std::thread([shared = shared_, priority = setup.priority] {
      ApplyPriority(priority);
      shared->Body();
    });
  } catch (const std::system_error& e) {
    (void)s.device->SetCommMask(0);
    throw EComPort(kErrOpen, e.code().value());
  }
}

TComThread::~TComThread() {
  if (!thread_.joinable()) return;  // abandoned
  SignalStop();
  // Keep running the deliveries the thread queued for this thread, or it could never end.
  shared_->sync->WaitServing(*shared_->ended);
  thread_.join();
  // A batch the thread handed over and nobody has run yet is delivered before the port closes,
  // then the queues go. A delivery still running further up this thread's stack (a handler that
  // closes its port in the window mode) cannot be waited for: the purge is made here all the same.
  shared_->sync->Drain();
  shared_->Exit();
}

void TComThread::SignalStop() {
  shared_->stop->Set();
  std::this_thread::yield();
}

bool TComThread::CanBeAwaitedHere() const {
  if (thread_.get_id() == std::this_thread::get_id()) return false;
  if (shared_->syncMethod != smThreadSync) return true;
  return !shared_->delivering && !shared_->sync->ServingBlockedSender();
}

void TComThread::Abandon() {
  // The thread is parked (in the delivery's send, or it is this thread): what it would do on its
  // way out is done here, so it need not touch the device again.
  shared_->abandoned = true;
  shared_->exited = true;
  (void)shared_->device->SetCommMask(0);
  (void)shared_->device->PurgeComm(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR);
  SignalStop();
  thread_.detach();
}

void TComThread::Shared::Body() noexcept {
  try {
    Execute();
  } catch (...) {
    // Only a failed allocation gets here: a batch that could not be handed over, a message
    // that could not be queued. The monitor ends as after a failed delivery; the operator is
    // told once, if even that can be queued.
    if (!Stopped()) {
      try {
        sync->Post([message = outOfMemoryMessage] { ShowError(message); });
      } catch (...) {
      }
    }
  }
  LetGo();
  ended->Set();
}

void TComThread::Shared::LetGo() {
  if (holders.fetch_sub(1) == 1) Exit();
}

void TComThread::Shared::Exit() {
  // A monitor let go may outlive its port and device.
  if (abandoned || exited.exchange(true)) return;
  (void)device->SetCommMask(0);
  (void)device->PurgeComm(platform::PURGE_TXCLEAR | platform::PURGE_RXCLEAR);
}

void TComThread::Shared::Execute() {
  ov.event = overlappedEvent.get();
  platform::Event* waitList[] = {stop.get(), overlappedEvent.get()};
  // Whether the owning thread starts the next wait, after the handlers of the batch it was
  // handed: the monitor then sleeps until that wait ends rather than being woken to start it.
  bool handedOver = false;

  for (;;) {
    if (!handedOver) {
      platform::IoStart start = device->WaitCommEvent(&mask, ov);
      if (start.kind == platform::IoStart::Failed) {
        // A wait that cannot even start will not start next time either: the device is gone.
        HandOverLostDevice(start.error);
        break;
      }
    }
    handedOver = false;
    platform::WaitOutcome r = platform::WaitForAny(waitList, platform::kInfinite);
    if (r.kind != platform::WaitOutcome::Signalled || r.index != 1) break;
    if (deliveryFailed) break;  // reported by the owning thread
    if (const int error = rearmError.exchange(0); error != 0) {
      HandOverLostDevice(error);
      break;
    }
    uint32_t transferred = 0;
    platform::Status result = device->GetOverlappedResult(ov, transferred, false);
    if (!result) {
      // An aborted wait (a purge, a new mask) on a healthy device only loses its events.
      if (result.error == ECANCELED) continue;
      HandOverLostDevice(result.error);
      break;
    }
    pendingEvents = MaskToEvents(mask);
    if (syncMethod == smThreadSync) {
      // Nobody sets the event again until the owning thread starts the next wait.
      overlappedEvent->Reset();
      // Held before the hand-over: the owning thread may run the batch before Post returns.
      holders.fetch_add(1);
      try {
        sync->Post([self = shared_from_this()] { self->DeliverAndWaitAgain(); });
      } catch (...) {
        holders.fetch_sub(1);
        throw;
      }
      handedOver = true;
      continue;
    }
    std::string failure;
    const bool delivered = Attempt([this] { DeliverEvents(); }, failure);
    if (Stopped()) break;
    if (!delivered) {
      // A handler that met the device's loss first (an echo, the next character of a file)
      // raised because of it: then the device is let go as on a failed wait.
      if (const int error = LostError(); error != 0) {
        HandOverLostDevice(error);
      } else {
        ReportOnce(failure);
      }
      break;
    }
  }
}

void TComThread::Shared::DeliverAndWaitAgain() {
  struct Release {
    Shared& shared;
    ~Release() { shared.LetGo(); }
  } release{*this};
  // A batch handed over before a close still reaches the handlers, as a close runs what is
  // queued; only a monitor let go means the port may be gone.
  if (abandoned) return;
  delivering = true;
  std::string failure;
  const bool delivered = Attempt([this] { FireEvents(); }, failure);
  delivering = false;
  if (abandoned || Stopped()) return;
  if (!delivered) {
    // A handler that met the device's loss first raised because of it: the monitor lets the
    // device go as on a failed wait, rather than ending with the port held.
    if (const int error = LostError(); error != 0) {
      rearmError = error;
    } else {
      ReportOnce(failure);
      deliveryFailed = true;
    }
    overlappedEvent->Set();
    return;
  }
  platform::IoStart start = device->WaitCommEvent(&mask, ov);
  if (start.kind == platform::IoStart::Failed) {
    rearmError = start.error != 0 ? start.error : EIO;
    overlappedEvent->Set();
  }
}

template <typename Call>
bool TComThread::Shared::Attempt(Call call, std::string& failure) {
  try {
    call();
    return true;
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown error in a port event handler";
  }
  return false;
}

int TComThread::Shared::LostError() {
  uint32_t lines = 0;
  const platform::Status status = device->GetCommModemStatus(lines);
  return status ? 0 : (status.error != 0 ? status.error : EIO);
}

void TComThread::Shared::HandOverLostDevice(int error) {
  if (Stopped()) return;  // closing anyway
  // What arrived before the loss is still in the device's queue: hand it out first. A handler
  // that raises now met the loss itself; the loss is what is reported, and the device goes
  // all the same.
  if (watched.Has(evRxChar)) {
    pendingEvents = TComEvents{evRxChar};
    std::string ignored;
    (void)Attempt([this] { DeliverEvents(); }, ignored);
    if (Stopped()) return;
  }
  // The owning thread releases the port; a close that comes first stops this monitor, and the
  // release then does nothing.
  sync->Post([self = shared_from_this(), error] {
    if (!self->Stopped()) self->port->ReleaseLostDevice(error);
  });
}

void TComThread::Shared::ReportOnce(const std::string& message) {
  if (Stopped()) return;
  // Shown on the owning thread, where the display lives; the monitor ends right after.
  sync->Post([message] { ShowError(message); });
}

void TComThread::Shared::DeliverEvents() {
  switch (syncMethod) {
    case smThreadSync:
      sync->Send([this] { FireEvents(); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      FireEvents();
      break;
  }
}

void TComThread::Shared::FireEvents() {
  for (const EventBit& e : kFireOrder) {
    if (!pendingEvents.Has(e.event)) continue;
    // A handler that closed or destroyed the port let this monitor go: the rest of the batch
    // has no port to go to.
    if (abandoned) return;
    port->ProcessEvent(e.event);
  }
}

void TComThread::Shared::SendEventMessages() {
  for (const EventBit& e : kFireOrder) {
    if (!pendingEvents.Has(e.event)) continue;
    if (Stopped()) return;  // the port waits for this thread's end, serving what is queued
    // The handler replies at once, so this thread goes on while the handler runs; the purge
    // on the way out waits for the handler's end, or it would empty the queue under its read.
    holders.fetch_add(1);
    try {
      sync->Send(
          [self = shared_from_this(), bit = e.mask] {
            struct Release {
              Shared& shared;
              ~Release() { shared.LetGo(); }
            } release{*self};
            self->port->HandlePortMessage(WM_PORT_EVENT, bit);
          },
          Synchronizer::ReleaseWhen::Started);
    } catch (...) {
      holders.fetch_sub(1);  // never queued
      throw;
    }
  }
}

}  // namespace velmora::port
