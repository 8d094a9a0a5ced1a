#pragma once
// TComThread: the monitor thread of an open port.
//
// It sets the device's event mask once, from the port's Events, then sleeps in one wait on its
// stop event and the overlapped event of a WaitCommEvent, and hands each completed batch of
// events to the port by the port's SyncMethod: on the owning thread through the port's
// synchroniser (smThreadSync; smWindowSync is let go as each event's handler starts), or
// directly on this thread (smNone). The handlers run in a fixed order.
//
// In smThreadSync the owning thread, once the batch's handlers have run, starts the next wait
// itself, so no event of the next batch is reported before the handlers of this one end, and
// the monitor sleeps from one batch to the next instead of waking only to start waiting again
// (at a line rate that is a wake-up of two threads per received chunk saved).
//
// The thread never polls. It ends when told to stop, when a delivery raises (the message goes
// once to the application's error display), or when its wait fails (the device is gone): then it
// hands out what is still queued and asks the owning thread to release the port — never by
// spinning on a wait that keeps failing. A delivery that raises on a device that no longer
// answers (a handler's echo met the loss before the wait did) counts as the device gone, not as a
// handler's error: the port is released all the same, and the handler's message is not shown.
// The event mask is cleared and both queues discarded once the thread has ended and the
// handlers of every batch it handed over have returned, so what arrived just before a close or
// a port change still reaches them.
//
// Stopping. Made and destroyed on the owning thread; destruction returns once the thread has
// ended, keeps serving the port's synchroniser meanwhile, and delivers a batch handed over but not
// yet run, with its data. A handler may close (or destroy) the port from inside a delivery, where the batch's
// remaining handlers and the next wait must not go on (smThreadSync), or where that wait could
// never end: it is the thread itself (smNone). `Abandon` is for those
// cases: it clears the mask and discards the queues itself, tells the thread to stop and lets it
// go; once the delivery has unwound the thread ends without touching the port or the device
// again, so both may be closed and destroyed at once. Once stopped, the thread calls no handler.
//
// Errors: construction raises EComPort kErrOpen with the system's number when the system gives no
// event or no thread (a process short of descriptors); nothing in the thread's body can end the
// process: short of memory for a hand-over, the thread ends as after a failed delivery and says
// so once, in Russian, when even that can be queued.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "port/com_types.h"

namespace velmora::platform {
class CommDevice;
}

namespace velmora::port {

class Synchronizer;

// The Win32 event mask bit of each line event, and back; bits outside the table are dropped.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);
// The line event whose mask bit `bit` is; none for another value (several bits, or none).
std::optional<TComEvent> EventOfBit(uint32_t bit);

// The message the window delivery mode sends per event; wParam is the event's mask bit.
inline constexpr uint32_t WM_PORT_EVENT = 0x0401;

// What the monitor needs of the port it watches: the port implements it, the monitor knows the
// port by nothing else.
class MonitoredPort {
 public:
  // The dispatcher of one line event: gathers its argument from the device, calls the emitter.
  virtual void ProcessEvent(TComEvent event) = 0;
  // The window delivery mode's message handler.
  virtual void HandlePortMessage(uint32_t message, uint32_t wParam) = 0;
  // On the owning thread, once the monitor found the device gone (`error`).
  virtual void ReleaseLostDevice(int error) = 0;

 protected:
  ~MonitoredPort() = default;
};

// The port's state a monitor starts from; none of it can change while the port is open.
struct MonitorSetup {
  MonitoredPort* port = nullptr;
  platform::CommDevice* device = nullptr;
  std::shared_ptr<Synchronizer> sync;
  TSyncMethod syncMethod = smThreadSync;
  TComEvents watched;
  TThreadPriority priority = tpNormal;
  std::string portName;  // the device's name, for the operator's messages
};

class TComThread {
 public:
  explicit TComThread(const MonitorSetup& setup);
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  void SignalStop();
  // Whether the calling thread can wait here for the thread's end: not when it is the monitor
  // itself, nor when it runs a delivery the monitor waits for.
  bool CanBeAwaitedHere() const;
  // Stops the thread without waiting for it (see the header comment).
  void Abandon();

  struct Shared;  // what the thread's body uses; outlives this object while the thread runs

 private:
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace velmora::port
