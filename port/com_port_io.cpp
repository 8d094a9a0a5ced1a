// The port's data path and line control: overlapped reads and writes, the blocking text
// operations, the small device queries the event dispatch relies on, DTR and RTS.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "port/com_port.h"
#include "port/ecomport.h"

namespace velmora::port {

namespace {

constexpr std::pair<uint32_t, TLineError> kErrorBits[] = {
    {platform::CE_FRAME, erFrame}, {platform::CE_RXPARITY, erRxParity}, {platform::CE_OVERRUN, erOverrun},
    {platform::CE_BREAK, erBreak}, {platform::CE_IOE, erIO},            {platform::CE_MODE, erMode},
    {platform::CE_RXOVER, erRxOver}, {platform::CE_TXFULL, erTxFull},
};

constexpr std::pair<uint32_t, TLineSignal> kSignalBits[] = {
    {platform::MS_CTS_ON, lsCTS}, {platform::MS_DSR_ON, lsDSR}, {platform::MS_RING_ON, lsRing},
    {platform::MS_RLSD_ON, lsRLSD},
};

// The started-operation rule: done at once, or left running in the background.
int StartResult(platform::IoStart start, int errorNumber) {
  if (start.kind == platform::IoStart::Failed) throw EComPort(errorNumber, start.error);
  return start.kind == platform::IoStart::Completed ? static_cast<int>(start.transferred) : 0;
}

// A transfer whose wait failed while it was still under way would go on after its caller was
// told it failed: the device writing into a record back in the pool (and into the caller's
// buffer, maybe freed), or sending what the caller takes for unsent. It is aborted, and the
// record kept until the device has let go of it.
void EndTransfer(platform::CommDevice* device, TPortOperation& operation) {
  const std::atomic<int>& status = operation.Overlapped.status;
  if (status.load(std::memory_order_acquire) != platform::Overlapped::kStatusPending) return;
  if (device)
    (void)device->PurgeComm(operation.Kind == opWrite ? platform::PURGE_TXABORT : platform::PURGE_RXABORT);
  // An abort completes it at once or, on a device that completes on a thread of its own, soon.
  // The wait that failed may fail again: then the record is looked at each millisecond.
  while (status.load(std::memory_order_acquire) == platform::Overlapped::kStatusPending) {
    if (platform::WaitForOne(*operation.Overlapped.event, 100).kind == platform::WaitOutcome::Failed)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Runs `start` on a record of the port's pool and waits for it; the record goes back on every
// path, its transfer over. A record the system gives no event for fails as the transfer would
// (`errorNumber`).
template <typename Start>
int StartAndWait(TCustomComPort& port, TPortOperationPool& pool, int errorNumber, Start start) {
  struct Borrowed {
    TPortOperationPool& pool;
    PPortOperation operation;
    ~Borrowed() { pool.Give(std::move(operation)); }
  } borrowed{pool, nullptr};
  try {
    borrowed.operation = pool.Take();
  } catch (const std::system_error& e) {
    throw EComPort(errorNumber, e.code().value());
  }
  start(borrowed.operation.get());
  try {
    return port.WaitForCompletion(borrowed.operation.get());
  } catch (...) {
    EndTransfer(port.Handle(), *borrowed.operation);
    throw;
  }
}

}  // namespace

int TCustomComPort::InputQueueCount() {
  uint32_t errors = 0;
  platform::ComStat stat;
  platform::Status status = DeviceOr(kErrClearComm).ClearCommError(errors, &stat);
  if (!status) throw EComPort(kErrClearComm, status.error);
  // The query clears the device's error flags: what it found is kept for the next
  // ReadLineErrors, or a line error that came while a handler read would never be reported.
  if (errors != 0) keptErrorWord_.fetch_or(errors);
  return static_cast<int>(stat.cbInQue);
}

TComErrors TCustomComPort::ReadLineErrors() {
  uint32_t word = 0;
  platform::Status status = DeviceOr(kErrClearComm).ClearCommError(word, nullptr);
  if (!status) throw EComPort(kErrClearComm, status.error);
  word |= keptErrorWord_.exchange(0);
  TComErrors errors;
  for (auto [bit, error] : kErrorBits)
    if (word & bit) errors.Include(error);
  if (!parity_.Check()) errors.Exclude(erRxParity);
  return errors;
}

TLineSignals TCustomComPort::LineSignals() {
  uint32_t word = 0;
  platform::Status status = DeviceOr(kErrModemStatus).GetCommModemStatus(word);
  if (!status) throw EComPort(kErrModemStatus, status.error);
  TLineSignals signals;
  for (auto [bit, signal] : kSignalBits)
    if (word & bit) signals.Include(signal);
  return signals;
}

void TCustomComPort::SetDTRState(bool on) {
  platform::Status status = DeviceOr(kErrEscapeComm).EscapeCommFunction(on ? platform::SETDTR : platform::CLRDTR);
  if (!status) throw EComPort(kErrEscapeComm, status.error);
}

void TCustomComPort::SetRTSState(bool on) {
  platform::Status status = DeviceOr(kErrEscapeComm).EscapeCommFunction(on ? platform::SETRTS : platform::CLRRTS);
  if (!status) throw EComPort(kErrEscapeComm, status.error);
}

void TCustomComPort::PurgeAll() {
  platform::Status status = DeviceOr(kErrPurge).PurgeComm(platform::PURGE_TXABORT | platform::PURGE_RXABORT);
  if (!status) throw EComPort(kErrPurge, status.error);
}

int TCustomComPort::StartWrite(const void* buffer, int count, TPortOperation* operation) {
  if (!operation) throw EComPort(kErrInvalidAsync);
  operation->Kind = opWrite;
  // A negative count would reach the device as a huge length and read past the buffer.
  if (count < 0) throw EComPort(kErrWriteFile, EINVAL);
  platform::CommDevice& device = DeviceOr(kErrWriteFile);
  return StartResult(device.WriteFile(buffer, static_cast<uint32_t>(count), operation->Overlapped), kErrWriteFile);
}

int TCustomComPort::StartWriteText(const std::string& text, TPortOperation* operation) {
  if (text.empty()) return 0;
  return StartWrite(text.data(), static_cast<int>(text.size()), operation);
}

int TCustomComPort::WriteText(const std::string& text) {
  return StartAndWait(*this, operations_, kErrWriteFile, [&](TPortOperation* operation) { StartWriteText(text, operation); });
}

int TCustomComPort::StartRead(void* buffer, int count, TPortOperation* operation) {
  if (!operation) throw EComPort(kErrInvalidAsync);
  operation->Kind = opRead;
  if (count < 0) throw EComPort(kErrReadFile, EINVAL);
  platform::CommDevice& device = DeviceOr(kErrReadFile);
  return StartResult(device.ReadFile(buffer, static_cast<uint32_t>(count), operation->Overlapped), kErrReadFile);
}

int TCustomComPort::ReadBlock(void* buffer, int count) {
  return StartAndWait(*this, operations_, kErrReadFile, [&](TPortOperation* operation) { StartRead(buffer, count, operation); });
}

int TCustomComPort::StartReadText(std::string& text, int count, TPortOperation* operation) {
  text.assign(count > 0 ? static_cast<size_t>(count) : 0, '\0');
  if (count <= 0) return 0;
  return StartRead(text.data(), count, operation);
}

int TCustomComPort::ReadText(std::string& text, int count) {
  const int n =
      StartAndWait(*this, operations_, kErrReadFile, [&](TPortOperation* operation) { StartReadText(text, count, operation); });
  text.resize(static_cast<size_t>(n));
  return n;
}

int TCustomComPort::ReadTextTimed(std::string& text, int count, std::vector<platform::ArrivalTime>& times) {
  times.clear();
  const int n = ReadText(text, count);
  if (!handle_) return n;
  std::vector<platform::ArrivalTime> taken;
  const uint64_t end = handle_->TakeArrivalTimes(taken);
  if (taken.empty() || end < static_cast<uint64_t>(n)) return n;
  // Earlier reads' times (a reader that took none) end before this text's first byte.
  const uint64_t start = end - static_cast<uint64_t>(n);
  for (const platform::ArrivalTime& a : taken) {
    if (a.position >= end) break;
    const uint64_t at = a.position < start ? 0 : a.position - start;
    if (!times.empty() && times.back().position == at)
      times.back().time = a.time;
    else
      times.push_back({at, a.time});
  }
  return n;
}

int TCustomComPort::WaitForCompletion(TPortOperation* operation) {
  if (!operation) throw EComPort(kErrInvalidAsync);
  const int errorNumber = OperationErrorCode(*operation);
  // A finished operation's event is already set (it is set before the result is published):
  // the wait would return at once, so the receive path saves the system call.
  if (operation->Overlapped.status.load(std::memory_order_acquire) == platform::Overlapped::kStatusPending) {
    platform::WaitOutcome wait = platform::WaitForOne(*operation->Overlapped.event, platform::kInfinite);
    if (wait.kind != platform::WaitOutcome::Signalled) throw EComPort(errorNumber, wait.error);
  }
  uint32_t transferred = 0;
  if (!operation->Kind) return 0;  // nothing was started: nothing to ask the device
  platform::Status status = DeviceOr(errorNumber).GetOverlappedResult(operation->Overlapped, transferred, false);
  if (!status) throw EComPort(errorNumber, status.error);
  // Like every error-word query, this one also resets the device's pending error flags (and
  // keeps what it found for the next ReadLineErrors).
  if (operation->Kind == opRead) (void)InputQueueCount();
  return static_cast<int>(transferred);
}

}  // namespace velmora::port
