#pragma once
// A device for tests that records every call the engine makes, in order, with its arguments,
// and fails any named call with a chosen system error number.
//
// `RecordingDevice` is what a test puts into a platform::DeviceDirectory under a port name;
// each Open() makes a `RecordingCommDevice` that writes into the same record, so the record
// outlives the device the port owns and closes. The record also holds "Open" (each attempt)
// and "Close" (the device destroyed). A second open while one is open fails with EBUSY.
//
// Behaviour beyond recording is the least the engine needs: the configuration calls succeed,
// GetCommModemStatus returns the status set by the test, ClearCommError reports nothing
// queued, reads complete at once with 0 bytes, writes complete at once in full, and an event
// wait stays pending until a purge with an abort flag or the device's end completes it with
// ECANCELED.
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

class RecordingDevice : public platform::NamedDevice {
 public:
  RecordingDevice();
  ~RecordingDevice() override;

  platform::OpenResult Open() override;

  std::vector<DeviceCall> Calls() const;
  std::vector<std::string> CallNames() const;  // just the names, for order checks
  void ClearCalls();

  // The call named `call` ("Open", "SetCommState", ...) fails with `error` for its next
  // `times` calls, or for every call from now on when `times` is 0.
  void Fail(const std::string& call, int error, int times = 0);
  void ClearFailures();

  void SetModemStatus(uint32_t status);  // MS_* bits
  bool IsOpen() const;
  // The block of the most recent SetCommState / SetCommTimeouts, if one came.
  std::optional<platform::Dcb> LastDcb() const;
  std::optional<platform::CommTimeouts> LastTimeouts() const;

  struct State;  // shared with the devices it opened

 private:
  std::shared_ptr<State> state_;
};

}  // namespace velmora::test
