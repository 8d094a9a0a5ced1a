#pragma once
// TComThread: the monitor thread of an open port.
//
// It sets the device's event mask once, from the port's Events, then sleeps in one wait on its
// stop event and the overlapped event of a WaitCommEvent, and hands each completed batch of
// events to the port by the port's SyncMethod: on the owning thread through the port's
// synchroniser (smThreadSync waits for the handlers; smWindowSync is let go as each event's
// handler starts), or directly on this thread (smNone). The handlers run in a fixed order.
//
// The thread never polls. It ends when told to stop, when a delivery raises (the message goes
// once to the application's error display), or when its wait fails (the device is gone): then it
// hands out what is still queued and asks the owning thread to release the port — never by
// spinning on a wait that keeps failing. On its way out it clears the event mask and discards
// both queues.
//
// Made and destroyed on the owning thread; destruction returns once the thread has ended and
// keeps serving the port's synchroniser meanwhile.

#include <cstdint>
#include <memory>
#include <thread>

#include "platform/event.h"
#include "port/com_types.h"

namespace velmora::port {

class TCustomComPort;

// The Win32 event mask bit of each line event, and back; bits outside the table are dropped.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// The message the window delivery mode sends per event; wParam is the event's mask bit.
inline constexpr uint32_t WM_PORT_EVENT = 0x0401;

class TComThread {
 public:
  explicit TComThread(TCustomComPort& port);
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  void SignalStop();
  TComEvents PendingEvents() const { return pendingEvents_; }

 private:
  void Execute();
  void DeliverEvents();
  void FireEvents();
  void SendEventMessages();
  bool DeliverGuarded();  // false when the delivery raised (reported)
  void HandOverLostDevice(int error);
  void ReportOnce(const std::string& message);

  TCustomComPort& ownerPort_;
  const TComEvents watched_;
  std::unique_ptr<platform::Event> stopEvent_;
  std::unique_ptr<platform::Event> ended_;
  TComEvents pendingEvents_;
  std::thread thread_;
};

}  // namespace velmora::port
