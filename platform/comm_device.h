#pragma once
// The serial-device interface the engine is written against.
//
// One `CommDevice` is one open serial device. Its calls have the shape of the Win32
// communications API (SetupComm, SetCommState, WaitCommEvent, overlapped ReadFile/WriteFile,
// ClearCommError, PurgeComm, ...), so a Windows backend forwards them one for one and the
// Linux backends give them the same meaning in user space.
//
// Threads: any thread may call any member; calls are serialised inside the device. A started
// operation writes its result into its `Overlapped` and then signals the overlapped's event;
// the buffer and the `Overlapped` must stay alive until the operation has completed (a purge
// with the abort flags, or destroying the device, completes every pending operation).
//
// Errors: every call returns the system's error number of a failure. After the device is lost
// (unplugged, far end gone) pending and later operations fail with one error and nothing spins.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/comm_types.h"
#include "platform/event.h"

namespace velmora::platform {

// The record of one overlapped operation. `event` is the caller's; the device resets it when
// the operation starts and sets it when the operation completes. A fresh record reports a
// finished transfer of 0 bytes.
struct Overlapped {
  Event* event = nullptr;

  // Written by the device; read through CommDevice::GetOverlappedResult.
  std::atomic<int> status{0};  // 0 done, kStatusPending, or the system's error number
  std::atomic<uint32_t> transferred{0};

  static constexpr int kStatusPending = -1;
};

// When received bytes came in, taken by the device's I/O thread as it read them from the line:
// the bytes from `position` of everything the device's reads ever delivered (counted from the
// open) arrived at `time` of the device's clock (the steady clock in service).
struct ArrivalTime {
  uint64_t position = 0;
  std::chrono::steady_clock::time_point time{};
};

class CommDevice {
 public:
  virtual ~CommDevice() = default;  // closes the device; pending operations complete aborted

  virtual Status SetupComm(uint32_t inQueue, uint32_t outQueue) = 0;
  virtual Status SetCommState(const Dcb& dcb) = 0;
  virtual Status SetCommTimeouts(const CommTimeouts& timeouts) = 0;
  virtual Status SetCommMask(uint32_t mask) = 0;

  // `mask` receives the events that ended the wait; it is written before the event is set.
  virtual IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) = 0;
  virtual IoStart ReadFile(void* buffer, uint32_t count, Overlapped& ov) = 0;
  virtual IoStart WriteFile(const void* buffer, uint32_t count, Overlapped& ov) = 0;
  // Without `wait`, a pending operation fails with the platform's "incomplete" number.
  virtual Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) = 0;

  virtual Status ClearCommError(uint32_t& errors, ComStat* stat) = 0;
  virtual Status GetCommModemStatus(uint32_t& status) = 0;
  virtual Status EscapeCommFunction(uint32_t function) = 0;
  virtual Status PurgeComm(uint32_t flags) = 0;

  // Beside the calls above, which it leaves as they are: moves the arrival times of bytes that
  // reads delivered since the last call into `out` (appended, in position order; every read's
  // first byte has one) and returns the count of bytes delivered so far, so that a reader that
  // knows how many bytes its last read got knows where they start. The oldest times are
  // dropped when nobody takes them for long. A device that keeps no times returns 0 and
  // appends nothing.
  virtual uint64_t TakeArrivalTimes(std::vector<ArrivalTime>& /*out*/) { return 0; }
  // How the driver answered the request for low latency at the open.
  virtual LowLatencyAnswer LowLatency() { return LowLatencyAnswer::NotOffered; }

  // A radio's keying timed on the device's own thread, beside the Win32 shape: a window busy
  // painting would keep its milliseconds late. Each returns false where the device cannot, and
  // the caller then keeps the time itself.
  //
  // Written bytes wait `lead` from RTS's last change (the keying) and, with `untilCts`, until
  // CTS is on, then go at once; the wait does not count against the write time-outs. The hold
  // ends by itself, by ReleaseOutput, or by a purge that aborts the writes.
  virtual bool HoldOutput(std::chrono::nanoseconds /*lead*/, bool /*untilCts*/) { return false; }
  virtual void ReleaseOutput() {}
  // RTS set to `level` `tail` after the transmitter has emptied of what is on its way or
  // written from now on; bytes written before then put it off to their own end. Once.
  virtual bool SetRtsAfterDrain(std::chrono::nanoseconds /*tail*/, bool /*level*/) { return false; }
  // Takes back the change armed above: true if it had not been made yet (RTS is as it was).
  virtual bool CancelRtsAfterDrain() { return false; }
  // Whether written bytes are still on their way (waiting, or the transmitter not yet empty);
  // nothing where the device cannot tell. The transmit-empty event of one burst may be read
  // only after the next was written: the transmitter is not empty then.
  virtual std::optional<bool> Transmitting() { return std::nullopt; }
};

// The outcome of opening a device: the device, or the system's error number with a sentence
// that says what the operator can do about it (for example that the user is not in the group
// that owns the device).
struct OpenResult {
  std::unique_ptr<CommDevice> device;
  int error = 0;
  std::string detail;
};

}  // namespace velmora::platform
