#include "tests/port/scripted_device.h"

#include <cerrno>

#include "platform/overlapped.h"

namespace velmora::test {

using namespace platform;

struct ScriptedDevice::State {
  std::mutex mutex;
  bool open = false;
  std::deque<uint32_t> masks;
  uint32_t errors = 0;
  uint32_t inQueue = 0;
  uint32_t modem = 0;
  int failWaits = 0;
  int waitsStarted = 0;
  Overlapped* pending = nullptr;
  uint32_t* pendingMask = nullptr;

  void CompleteLocked(Overlapped& ov, int status) { CompleteOverlapped(ov, 0, status); }
  void EndPendingLocked(int status) {
    if (!pending) return;
    *pendingMask = 0;
    CompleteLocked(*pending, status);
    pending = nullptr;
  }
};

namespace {

class Device final : public CommDevice {
 public:
  explicit Device(std::shared_ptr<ScriptedDevice::State> s) : s_(std::move(s)) {}
  ~Device() override {
    std::lock_guard lock(s_->mutex);
    s_->EndPendingLocked(ECANCELED);
    s_->open = false;
  }
  Status SetupComm(uint32_t, uint32_t) override { return {}; }
  Status SetCommState(const Dcb&) override { return {}; }
  Status SetCommTimeouts(const CommTimeouts&) override { return {}; }
  Status SetCommMask(uint32_t) override {
    std::lock_guard lock(s_->mutex);
    s_->EndPendingLocked(0);
    return {};
  }
  IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) override {
    std::lock_guard lock(s_->mutex);
    if (s_->failWaits) return {IoStart::Failed, 0, s_->failWaits};
    ++s_->waitsStarted;
    StartOverlapped(ov);
    if (!s_->masks.empty()) {
      *mask = s_->masks.front();
      s_->masks.pop_front();
      s_->CompleteLocked(ov, 0);
      return {IoStart::Completed, 0, 0};
    }
    s_->pending = &ov;
    s_->pendingMask = mask;
    return {IoStart::Pending, 0, 0};
  }
  IoStart ReadFile(void*, uint32_t, Overlapped& ov) override { return Done(ov, 0); }
  IoStart WriteFile(const void*, uint32_t count, Overlapped& ov) override { return Done(ov, count); }
  Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) override {
    return OverlappedResult(ov, transferred, wait);
  }
  Status ClearCommError(uint32_t& errors, ComStat* stat) override {
    std::lock_guard lock(s_->mutex);
    errors = s_->errors;
    s_->errors = 0;
    if (stat) *stat = {s_->inQueue, 0};
    return {};
  }
  Status GetCommModemStatus(uint32_t& status) override {
    std::lock_guard lock(s_->mutex);
    status = s_->modem;
    return {};
  }
  Status EscapeCommFunction(uint32_t) override { return {}; }
  Status PurgeComm(uint32_t flags) override {
    std::lock_guard lock(s_->mutex);
    if (flags & (PURGE_RXABORT | PURGE_TXABORT)) s_->EndPendingLocked(ECANCELED);
    return {};
  }

 private:
  IoStart Done(Overlapped& ov, uint32_t count) {
    StartOverlapped(ov);
    CompleteOverlapped(ov, count, 0);
    return {IoStart::Completed, count, 0};
  }
  std::shared_ptr<ScriptedDevice::State> s_;
};

}  // namespace

ScriptedDevice::ScriptedDevice() : state_(std::make_shared<State>()) {}

OpenResult ScriptedDevice::Open() {
  std::lock_guard lock(state_->mutex);
  if (state_->open) return {nullptr, EBUSY, {}};
  state_->open = true;
  return {std::make_unique<Device>(state_), 0, {}};
}

void ScriptedDevice::QueueEvents(uint32_t mask) {
  std::lock_guard lock(state_->mutex);
  if (state_->pending) {
    *state_->pendingMask = mask;
    state_->CompleteLocked(*state_->pending, 0);
    state_->pending = nullptr;
  } else {
    state_->masks.push_back(mask);
  }
}

void ScriptedDevice::SetErrorWord(uint32_t errors) {
  std::lock_guard lock(state_->mutex);
  state_->errors = errors;
}

void ScriptedDevice::SetInputQueue(uint32_t count) {
  std::lock_guard lock(state_->mutex);
  state_->inQueue = count;
}

void ScriptedDevice::SetModemStatus(uint32_t status) {
  std::lock_guard lock(state_->mutex);
  state_->modem = status;
}

void ScriptedDevice::FailWaitsWith(int error) {
  std::lock_guard lock(state_->mutex);
  state_->failWaits = error;
}

int ScriptedDevice::WaitsStarted() const {
  std::lock_guard lock(state_->mutex);
  return state_->waitsStarted;
}

}  // namespace velmora::test
