#include "tests/support/recording_device.h"

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/event.h"
#include "platform/overlapped.h"

namespace velmora::test {

struct RecordingDevice::State {
  struct Failure {
    int error = 0;
    int remaining = 0;  // 0: every call
  };

  mutable std::mutex mutex;
  std::vector<DeviceCall> calls;
  std::map<std::string, Failure> failures;
  uint32_t modemStatus = 0;
  bool open = false;

  // Records the call; returns the error it is told to fail with, or 0.
  int Record(DeviceCall call) {
    std::lock_guard lock(mutex);
    int error = 0;
    auto it = failures.find(call.name);
    if (it != failures.end()) {
      error = it->second.error;
      if (it->second.remaining > 0 && --it->second.remaining == 0) failures.erase(it);
    }
    calls.push_back(std::move(call));
    return error;
  }
};

namespace {

using platform::IoStart;
using platform::Overlapped;
using platform::Status;

void Complete(Overlapped& ov, int status, uint32_t transferred) {
  platform::StartOverlapped(ov);
  platform::CompleteOverlapped(ov, transferred, status);
}

class RecordingCommDevice : public platform::CommDevice {
 public:
  explicit RecordingCommDevice(std::shared_ptr<RecordingDevice::State> state) : state_(std::move(state)) {}

  ~RecordingCommDevice() override {
    CompletePendingWait();
    state_->Record({"Close", {}, {}, {}});
    std::lock_guard lock(state_->mutex);
    state_->open = false;
  }

  Status SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    return Result(state_->Record({"SetupComm", {inQueue, outQueue}, {}, {}}));
  }
  Status SetCommState(const platform::Dcb& dcb) override {
    return Result(state_->Record({"SetCommState", {}, dcb, {}}));
  }
  Status SetCommTimeouts(const platform::CommTimeouts& timeouts) override {
    return Result(state_->Record({"SetCommTimeouts", {}, {}, timeouts}));
  }
  Status SetCommMask(uint32_t mask) override { return Result(state_->Record({"SetCommMask", {mask}, {}, {}})); }

  IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) override {
    if (int error = state_->Record({"WaitCommEvent", {}, {}, {}})) return {IoStart::Failed, 0, error};
    if (mask) *mask = 0;
    std::lock_guard lock(waitMutex_);
    platform::StartOverlapped(ov);
    pendingWait_ = &ov;
    return {IoStart::Pending, 0, 0};
  }
  IoStart ReadFile(void*, uint32_t count, Overlapped& ov) override {
    if (int error = state_->Record({"ReadFile", {count}, {}, {}})) return {IoStart::Failed, 0, error};
    Complete(ov, 0, 0);
    return {IoStart::Completed, 0, 0};
  }
  IoStart WriteFile(const void*, uint32_t count, Overlapped& ov) override {
    if (int error = state_->Record({"WriteFile", {count}, {}, {}})) return {IoStart::Failed, 0, error};
    Complete(ov, 0, count);
    return {IoStart::Completed, count, 0};
  }
  Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) override {
    if (int error = state_->Record({"GetOverlappedResult", {wait ? 1u : 0u}, {}, {}})) return Status::Failed(error);
    return platform::OverlappedResult(ov, transferred, wait);
  }

  Status ClearCommError(uint32_t& errors, platform::ComStat* stat) override {
    errors = 0;
    if (stat) *stat = {};
    return Result(state_->Record({"ClearCommError", {}, {}, {}}));
  }
  Status GetCommModemStatus(uint32_t& status) override {
    if (int error = state_->Record({"GetCommModemStatus", {}, {}, {}})) return Status::Failed(error);
    std::lock_guard lock(state_->mutex);
    status = state_->modemStatus;
    return Status::Ok();
  }
  Status EscapeCommFunction(uint32_t function) override {
    return Result(state_->Record({"EscapeCommFunction", {function}, {}, {}}));
  }
  Status PurgeComm(uint32_t flags) override {
    if (int error = state_->Record({"PurgeComm", {flags}, {}, {}})) return Status::Failed(error);
    if (flags & (platform::PURGE_TXABORT | platform::PURGE_RXABORT)) CompletePendingWait();
    return Status::Ok();
  }

 private:
  static Status Result(int error) { return error ? Status::Failed(error) : Status::Ok(); }

  void CompletePendingWait() {
    std::lock_guard lock(waitMutex_);
    if (pendingWait_) Complete(*pendingWait_, ECANCELED, 0);
    pendingWait_ = nullptr;
  }

  std::shared_ptr<RecordingDevice::State> state_;
  std::mutex waitMutex_;
  Overlapped* pendingWait_ = nullptr;
};

}  // namespace

RecordingDevice::RecordingDevice() : state_(std::make_shared<State>()) {}
RecordingDevice::~RecordingDevice() = default;

platform::OpenResult RecordingDevice::Open() {
  if (int error = state_->Record({"Open", {}, {}, {}})) return {nullptr, error, "told to fail"};
  std::lock_guard lock(state_->mutex);
  if (state_->open) return {nullptr, EBUSY, "already open"};
  state_->open = true;
  return {std::make_unique<RecordingCommDevice>(state_), 0, {}};
}

std::vector<DeviceCall> RecordingDevice::Calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
}

std::vector<std::string> RecordingDevice::CallNames() const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> names;
  for (const DeviceCall& c : state_->calls) names.push_back(c.name);
  return names;
}

void RecordingDevice::ClearCalls() {
  std::lock_guard lock(state_->mutex);
  state_->calls.clear();
}

void RecordingDevice::Fail(const std::string& call, int error, int times) {
  std::lock_guard lock(state_->mutex);
  state_->failures[call] = {error, times};
}

void RecordingDevice::ClearFailures() {
  std::lock_guard lock(state_->mutex);
  state_->failures.clear();
}

void RecordingDevice::SetModemStatus(uint32_t status) {
  std::lock_guard lock(state_->mutex);
  state_->modemStatus = status;
}

bool RecordingDevice::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

std::optional<platform::Dcb> RecordingDevice::LastDcb() const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it)
    if (it->name == "SetCommState") return it->dcb;
  return std::nullopt;
}

std::optional<platform::CommTimeouts> RecordingDevice::LastTimeouts() const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it)
    if (it->name == "SetCommTimeouts") return it->timeouts;
  return std::nullopt;
}

}  // namespace velmora::test
