#pragma once
// The engine's fake device: it records every call the engine makes, in order, with its
// arguments, fails any named call with a chosen system error number, and completes event waits
// with masks the test scripts.
//
// `FakeDevice` is what a test puts into a platform::DeviceDirectory under a port name; each
// Open() makes a device that writes into the same record, so the record outlives the device the
// port owns and closes. The record also holds "Open" (each attempt) and "Close" (the device
// destroyed). A second open while one is open fails with EBUSY.
//
// Behaviour beyond recording is the least the engine needs: the configuration calls succeed;
// ClearCommError reports the error word the test set (once: the call clears it) and the input
// queue count the test set; GetCommModemStatus returns the status the test set; reads complete
// at once with 0 bytes, writes at once in full. Each event wait takes the next scripted mask and
// completes at once; with none left it stays pending until a scripted mask comes, a new mask
// (completes with 0), a purge with an abort flag or the device's end (ECANCELED).
//
// Threads: every member may be called from any thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/comm_device.h"
#include "platform/device_directory.h"

namespace velmora::test {

struct DeviceCall {
  std::string name;                       // the CommDevice member, or "Open" / "Close"
  std::vector<uint32_t> args;             // its integer arguments, in order
  platform::Dcb dcb{};                    // with SetCommState
  platform::CommTimeouts timeouts{};      // with SetCommTimeouts
};

class FakeDevice : public platform::NamedDevice {
 public:
  FakeDevice();
  ~FakeDevice() override;

  platform::OpenResult Open() override;

  std::vector<DeviceCall> Calls() const;
  std::vector<std::string> CallNames() const;  // just the names, for order checks
  void ClearCalls();

  // The call named `call` ("Open", "SetCommState", "WaitCommEvent", ...) fails with `error` for
  // its next `times` calls, or for every call from now on when `times` is 0.
  void Fail(const std::string& call, int error, int times = 0);
  void ClearFailures();

  // Scripted state.
  void QueueEvents(uint32_t mask);       // EV_* bits of one completed wait
  void SetErrorWord(uint32_t errors);    // CE_* bits, reported and cleared by ClearCommError
  void SetInputQueue(uint32_t count);    // stays until changed
  void SetModemStatus(uint32_t status);  // MS_* bits

  bool IsOpen() const;
  int WaitsStarted() const;
  // The block of the most recent SetCommState / SetCommTimeouts, if one came.
  std::optional<platform::Dcb> LastDcb() const;
  std::optional<platform::CommTimeouts> LastTimeouts() const;

  struct State;  // shared with the devices it opened

 private:
  std::shared_ptr<State> state_;
};

}  // namespace velmora::test
