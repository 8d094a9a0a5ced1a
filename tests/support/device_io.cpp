#include "tests/support/device_io.h"

#include <stdexcept>

namespace velmora::test {

using namespace platform;

namespace {

std::unique_ptr<Event> NewEvent() {
  auto e = Event::Create(true, true);
  if (!e) throw std::runtime_error("no event");
  return e;
}

IoOutcome Finish(CommDevice& device, Overlapped& ov, IoStart start, uint32_t timeoutMs) {
  IoOutcome out;
  if (start.kind == IoStart::Failed) {
    out.completed = true;
    out.error = start.error;
    return out;
  }
  if (WaitForOne(*ov.event, timeoutMs).kind != WaitOutcome::Signalled) {
    // Abort it so the record can go; the caller sees the timeout.
    (void)device.PurgeComm(PURGE_TXABORT | PURGE_RXABORT);
    WaitForOne(*ov.event, kInfinite);
    return out;
  }
  out.completed = true;
  Status s = device.GetOverlappedResult(ov, out.transferred, false);
  out.error = s.error;
  return out;
}

}  // namespace

IoOutcome WriteAll(CommDevice& device, const std::string& bytes, uint32_t timeoutMs) {
  auto event = NewEvent();
  Overlapped ov;
  ov.event = event.get();
  return Finish(device, ov, device.WriteFile(bytes.data(), static_cast<uint32_t>(bytes.size()), ov), timeoutMs);
}

IoOutcome ReadUpTo(CommDevice& device, uint32_t count, uint32_t timeoutMs) {
  auto event = NewEvent();
  Overlapped ov;
  ov.event = event.get();
  std::string buffer(count, '\0');
  IoOutcome out = Finish(device, ov, device.ReadFile(buffer.data(), count, ov), timeoutMs);
  buffer.resize(out.transferred);
  out.data = std::move(buffer);
  return out;
}

std::string ReadExactly(CommDevice& device, size_t count, uint32_t timeoutMs) {
  std::string got;
  EventWait wait(device);
  while (got.size() < count) {
    IoOutcome r = ReadUpTo(device, static_cast<uint32_t>(count - got.size()), timeoutMs);
    if (!r.completed || r.error) break;
    got += r.data;
    if (got.size() < count && r.transferred == 0 && wait.WaitMask(timeoutMs) == 0) break;
  }
  return got;
}

EventWait::EventWait(CommDevice& device) : device_(device), event_(NewEvent()) { ov_.event = event_.get(); }

EventWait::~EventWait() {
  if (started_) {
    (void)device_.SetCommMask(0);
    WaitForOne(*event_, kTestWaitMs);
  }
}

IoStart EventWait::Start() {
  IoStart s = device_.WaitCommEvent(&mask_, ov_);
  started_ = s.kind != IoStart::Failed;
  return s;
}

bool EventWait::Wait(uint32_t timeoutMs, uint32_t& mask, int& error) {
  if (!started_ || WaitForOne(*event_, timeoutMs).kind != WaitOutcome::Signalled) return false;
  started_ = false;
  uint32_t n = 0;
  error = device_.GetOverlappedResult(ov_, n, false).error;
  mask = mask_;
  return true;
}

uint32_t EventWait::WaitMask(uint32_t timeoutMs) {
  if (!started_ && Start().kind == IoStart::Failed) return 0;
  uint32_t mask = 0;
  int error = 0;
  if (!Wait(timeoutMs, mask, error) || error) return 0;
  return mask;
}

uint32_t ErrorWord(CommDevice& device, ComStat* stat) {
  uint32_t errors = 0;
  if (!device.ClearCommError(errors, stat)) throw std::runtime_error("ClearCommError failed");
  return errors;
}

uint32_t InQueue(CommDevice& device) {
  ComStat stat;
  ErrorWord(device, &stat);
  return stat.cbInQue;
}

uint32_t ModemStatus(CommDevice& device) {
  uint32_t status = 0;
  if (!device.GetCommModemStatus(status)) throw std::runtime_error("GetCommModemStatus failed");
  return status;
}

}  // namespace velmora::test
