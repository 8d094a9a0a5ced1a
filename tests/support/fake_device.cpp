#include "tests/support/fake_device.h"

#include <cerrno>
#include <deque>
#include <map>
#include <mutex>

#include "platform/event.h"
#include "platform/overlapped.h"

namespace velmora::test {

using platform::IoStart;
using platform::Overlapped;
using platform::Status;

struct FakeDevice::State {
  struct Failure {
    int error = 0;
    int remaining = 0;  // 0: every call
  };

  mutable std::mutex mutex;
  std::vector<DeviceCall> calls;
  std::map<std::string, Failure> failures;
  bool open = false;
  std::deque<uint32_t> masks;
  uint32_t errorWord = 0;
  uint32_t inQueue = 0;
  uint32_t modemStatus = 0;
  int waitsStarted = 0;
  Overlapped* pendingWait = nullptr;
  uint32_t* pendingMask = nullptr;

  // Records the call; returns the error it is told to fail with, or 0. Under the lock.
  int RecordLocked(DeviceCall call) {
    int error = 0;
    auto it = failures.find(call.name);
    if (it != failures.end()) {
      error = it->second.error;
      if (it->second.remaining > 0 && --it->second.remaining == 0) failures.erase(it);
    }
    calls.push_back(std::move(call));
    return error;
  }
  int Record(DeviceCall call) {
    std::lock_guard lock(mutex);
    return RecordLocked(std::move(call));
  }
  void EndPendingWaitLocked(uint32_t mask, int status) {
    if (!pendingWait) return;
    *pendingMask = mask;
    platform::CompleteOverlapped(*pendingWait, 0, status);
    pendingWait = nullptr;
    pendingMask = nullptr;
  }
};

namespace {

Status Result(int error) { return error ? Status::Failed(error) : Status::Ok(); }

IoStart CompleteAtOnce(Overlapped& ov, uint32_t transferred) {
  platform::StartOverlapped(ov);
  platform::CompleteOverlapped(ov, transferred, 0);
  return {IoStart::Completed, transferred, 0};
}

class OpenFakeDevice : public platform::CommDevice {
 public:
  explicit OpenFakeDevice(std::shared_ptr<FakeDevice::State> state) : s_(std::move(state)) {}

  ~OpenFakeDevice() override {
    std::lock_guard lock(s_->mutex);
    s_->EndPendingWaitLocked(0, ECANCELED);
    s_->RecordLocked({"Close", {}, {}, {}});
    s_->open = false;
  }

  Status SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    return Result(s_->Record({"SetupComm", {inQueue, outQueue}, {}, {}}));
  }
  Status SetCommState(const platform::Dcb& dcb) override { return Result(s_->Record({"SetCommState", {}, dcb, {}})); }
  Status SetCommTimeouts(const platform::CommTimeouts& timeouts) override {
    return Result(s_->Record({"SetCommTimeouts", {}, {}, timeouts}));
  }
  Status SetCommMask(uint32_t mask) override {
    std::lock_guard lock(s_->mutex);
    if (int error = s_->RecordLocked({"SetCommMask", {mask}, {}, {}})) return Status::Failed(error);
    // As on Windows: a new mask ends the wait in progress with no events.
    s_->EndPendingWaitLocked(0, 0);
    return Status::Ok();
  }

  IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) override {
    std::lock_guard lock(s_->mutex);
    if (int error = s_->RecordLocked({"WaitCommEvent", {}, {}, {}})) return {IoStart::Failed, 0, error};
    ++s_->waitsStarted;
    platform::StartOverlapped(ov);
    if (!s_->masks.empty()) {
      *mask = s_->masks.front();
      s_->masks.pop_front();
      platform::CompleteOverlapped(ov, 0, 0);
      return {IoStart::Completed, 0, 0};
    }
    *mask = 0;
    s_->pendingWait = &ov;
    s_->pendingMask = mask;
    return {IoStart::Pending, 0, 0};
  }
  IoStart ReadFile(void*, uint32_t count, Overlapped& ov) override {
    if (int error = s_->Record({"ReadFile", {count}, {}, {}})) return {IoStart::Failed, 0, error};
    return CompleteAtOnce(ov, 0);
  }
  IoStart WriteFile(const void*, uint32_t count, Overlapped& ov) override {
    if (int error = s_->Record({"WriteFile", {count}, {}, {}})) return {IoStart::Failed, 0, error};
    return CompleteAtOnce(ov, count);
  }
  Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) override {
    if (int error = s_->Record({"GetOverlappedResult", {wait ? 1u : 0u}, {}, {}})) return Status::Failed(error);
    return platform::OverlappedResult(ov, transferred, wait);
  }

  Status ClearCommError(uint32_t& errors, platform::ComStat* stat) override {
    std::lock_guard lock(s_->mutex);
    errors = 0;
    if (stat) *stat = {};
    if (int error = s_->RecordLocked({"ClearCommError", {}, {}, {}})) return Status::Failed(error);
    errors = s_->errorWord;
    s_->errorWord = 0;
    if (stat) stat->cbInQue = s_->inQueue;
    return Status::Ok();
  }
  Status GetCommModemStatus(uint32_t& status) override {
    std::lock_guard lock(s_->mutex);
    if (int error = s_->RecordLocked({"GetCommModemStatus", {}, {}, {}})) return Status::Failed(error);
    status = s_->modemStatus;
    return Status::Ok();
  }
  Status EscapeCommFunction(uint32_t function) override {
    return Result(s_->Record({"EscapeCommFunction", {function}, {}, {}}));
  }
  Status PurgeComm(uint32_t flags) override {
    std::lock_guard lock(s_->mutex);
    if (int error = s_->RecordLocked({"PurgeComm", {flags}, {}, {}})) return Status::Failed(error);
    if (flags & (platform::PURGE_TXABORT | platform::PURGE_RXABORT)) s_->EndPendingWaitLocked(0, ECANCELED);
    return Status::Ok();
  }

 private:
  std::shared_ptr<FakeDevice::State> s_;
};

}  // namespace

FakeDevice::FakeDevice() : state_(std::make_shared<State>()) {}
FakeDevice::~FakeDevice() = default;

platform::OpenResult FakeDevice::Open() {
  std::lock_guard lock(state_->mutex);
  if (int error = state_->RecordLocked({"Open", {}, {}, {}})) return {nullptr, error, "told to fail"};
  if (state_->open) return {nullptr, EBUSY, "already open"};
  state_->open = true;
  return {std::make_unique<OpenFakeDevice>(state_), 0, {}};
}

std::vector<DeviceCall> FakeDevice::Calls() const {
  std::lock_guard lock(state_->mutex);
  return state_->calls;
}

std::vector<std::string> FakeDevice::CallNames() const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> names;
  for (const DeviceCall& c : state_->calls) names.push_back(c.name);
  return names;
}

void FakeDevice::ClearCalls() {
  std::lock_guard lock(state_->mutex);
  state_->calls.clear();
}

void FakeDevice::Fail(const std::string& call, int error, int times) {
  std::lock_guard lock(state_->mutex);
  state_->failures[call] = {error, times};
}

void FakeDevice::ClearFailures() {
  std::lock_guard lock(state_->mutex);
  state_->failures.clear();
}

void FakeDevice::QueueEvents(uint32_t mask) {
  std::lock_guard lock(state_->mutex);
  if (state_->pendingWait)
    state_->EndPendingWaitLocked(mask, 0);
  else
    state_->masks.push_back(mask);
}

void FakeDevice::SetErrorWord(uint32_t errors) {
  std::lock_guard lock(state_->mutex);
  state_->errorWord = errors;
}

void FakeDevice::SetInputQueue(uint32_t count) {
  std::lock_guard lock(state_->mutex);
  state_->inQueue = count;
}

void FakeDevice::SetModemStatus(uint32_t status) {
  std::lock_guard lock(state_->mutex);
  state_->modemStatus = status;
}

bool FakeDevice::IsOpen() const {
  std::lock_guard lock(state_->mutex);
  return state_->open;
}

int FakeDevice::WaitsStarted() const {
  std::lock_guard lock(state_->mutex);
  return state_->waitsStarted;
}

std::optional<platform::Dcb> FakeDevice::LastDcb() const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it)
    if (it->name == "SetCommState") return it->dcb;
  return std::nullopt;
}

std::optional<platform::CommTimeouts> FakeDevice::LastTimeouts() const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->calls.rbegin(); it != state_->calls.rend(); ++it)
    if (it->name == "SetCommTimeouts") return it->timeouts;
  return std::nullopt;
}

}  // namespace velmora::test
