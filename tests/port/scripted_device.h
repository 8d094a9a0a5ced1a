#pragma once
// A device whose event waits complete with masks the test scripts, for exact checks of the
// event dispatch: each WaitCommEvent takes the next scripted mask and completes at once; with
// none left it stays pending until a purge with an abort flag, a new mask, or the device's
// end. The error word, the input queue count and the modem status are what the test sets.

#include <deque>
#include <memory>
#include <mutex>

#include "platform/comm_device.h"
#include "platform/device_directory.h"

namespace velmora::test {

class ScriptedDevice : public platform::NamedDevice {
 public:
  ScriptedDevice();
  platform::OpenResult Open() override;

  void QueueEvents(uint32_t mask);
  void SetErrorWord(uint32_t errors);   // reported (and cleared) by the next ClearCommError
  void SetInputQueue(uint32_t count);   // stays until changed
  void SetModemStatus(uint32_t status);
  // The next event wait (and every later one) fails to start with `error`.
  void FailWaitsWith(int error);
  int WaitsStarted() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace velmora::test
