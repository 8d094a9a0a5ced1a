#include "platform/sim/sim_link.h"

#include <algorithm>
#include <cerrno>

#include "platform/comm_core.h"
#include "platform/event.h"

namespace velmora::platform::sim {

using TimePoint = Clock::TimePoint;
using Duration = Clock::Duration;

// The LineDriver of one UART of a link.
class SimDriver final : public LineDriver {
 public:
  SimDriver(std::shared_ptr<SimLink> link, size_t uart) : link_(std::move(link)), uart_(uart) {}

  ~SimDriver() override {
    Stop();
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    // What the transmitter took was reported sent: it goes out before the line closes, unless
    // the line holds it (CTS or XOFF), which would keep a close waiting for ever.
    link_->DrainTransmitterLocked(uart_);
    const TimePoint now = link_->clock_->Now();
    // Closing a tty drops the modem control lines and discards what was not sent.
    SetLineLocked(u.dtr, LineChange::Dtr, false, now);
    SetLineLocked(u.rts, LineChange::Rts, false, now);
    SetLineLocked(u.brk, LineChange::Break, false, now);
    u.tx.clear();
    u.inFifo = 0;
    u.shifting.reset();
    u.rx.clear();
    u.rxLost = false;
    u.lowLatencyOn = false;  // put back as the device closes
    u.open = false;
    link_->OnOutputLinesChanged(uart_, now);
    link_->RefreshInputLinesLocked(now);
  }

  Clock& TimeSource() override { return *link_->clock_; }

  Status Start(Event& wake) override {
    std::lock_guard lock(link_->mutex_);
    link_->U(uart_).wake = &wake;
    link_->U(uart_).status = link_->InputLines(uart_, link_->clock_->Now());
    link_->clock_->Subscribe(&wake);
    subscribed_ = &wake;
    return Status::Ok();
  }

  void Stop() override {
    std::lock_guard lock(link_->mutex_);
    if (subscribed_) link_->clock_->Unsubscribe(subscribed_);
    subscribed_ = nullptr;
    link_->U(uart_).wake = nullptr;
  }

  int PollDescriptor() const override { return -1; }

  LowLatencyAnswer LowLatency() const override { return lowLatency_; }
  void AskForLowLatency() {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    lowLatency_ = u.lowLatencyOffer;
    if (lowLatency_ == LowLatencyAnswer::Granted) u.lowLatencyOn = true;
  }

  Status Apply(const Dcb& dcb) override {
    // The combinations a UART cannot frame.
    if ((dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5) || (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5))
      return Status::Failed(EINVAL);
    std::lock_guard lock(link_->mutex_);
    link_->U(uart_).dcb = dcb;
    return Status::Ok();
  }

  ReadResult Read(uint8_t* buffer, size_t capacity, std::vector<RxMark>& marks) override {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    size_t n = 0;
    auto mark = [&](RxMark::Kind kind) { marks.push_back({static_cast<uint32_t>(n), kind}); };
    while (n < capacity && !u.rx.empty()) {
      if (u.rxLost) {
        mark(RxMark::RxOver);
        u.rxLost = false;
      }
      const SimLink::RxItem item = u.rx.front();
      u.rx.pop_front();
      if (item.hasMark) mark(item.mark);
      if (item.hasByte) buffer[n++] = item.byte;
    }
    if (u.rx.empty() && u.rxLost) {
      mark(RxMark::RxOver);
      u.rxLost = false;
    }
    // Emptied: the next arrival wakes the I/O thread, which need not ask again meanwhile.
    const bool drained = u.rx.empty();
    if (drained) u.rxArmed = true;
    return {n, false, 0, drained};
  }

  WriteResult Write(const uint8_t* data, size_t count) override {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    const size_t accepted = std::min(count, kSimBufferSize - std::min(kSimBufferSize, u.tx.size()));
    link_->QueueTransmitLocked(uart_, data, accepted, link_->clock_->Now());
    return {accepted, false, 0};
  }

  uint32_t OutQueue() override {
    std::lock_guard lock(link_->mutex_);
    const SimLink::Uart& u = link_->U(uart_);
    return static_cast<uint32_t>(u.tx.size() - u.inFifo);
  }

  Clock::Duration CharacterTime() override {
    std::lock_guard lock(link_->mutex_);
    return link_->CharacterTimeLocked(uart_);
  }

  bool TransmitterEmpty() override {
    std::lock_guard lock(link_->mutex_);
    const SimLink::Uart& u = link_->U(uart_);
    return u.tx.empty() && !u.shifting;
  }

  std::optional<TimePoint> NextDeadline() override {
    std::lock_guard lock(link_->mutex_);
    return link_->NextDeadlineLocked();
  }

  void Service() override {
    std::lock_guard lock(link_->mutex_);
    link_->servicing_ = uart_;
    link_->AdvanceLocked(link_->clock_->Now());
    link_->servicing_.reset();
  }

  ModemChange TakeModemChange() override {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    ModemChange change{u.status, u.changed};
    u.changed = 0;
    return change;
  }

  Status SetDtr(bool on) override { return SetOutput(LineChange::Dtr, on); }
  Status SetRts(bool on) override { return SetOutput(LineChange::Rts, on); }
  Status SetBreak(bool on) override { return SetOutput(LineChange::Break, on); }

  Status SendImmediate(uint8_t byte) override {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    u.tx.push_front(byte);
    ++u.inFifo;  // ahead of everything, straight into the transmitter
    link_->StartNextCharacterLocked(uart_, link_->clock_->Now());
    return Status::Ok();
  }

  void Flush(bool input, bool output) override {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    if (input) {
      u.rx.clear();
      u.rxLost = false;
    }
    // The UART's FIFO is the line's: a purge clears the driver's buffer behind it.
    if (output) u.tx.resize(u.inFifo);
  }

 private:
  Status SetOutput(LineChange::Line line, bool on) {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    bool& state = line == LineChange::Dtr ? u.dtr : line == LineChange::Rts ? u.rts : u.brk;
    const TimePoint now = link_->clock_->Now();
    if (SetLineLocked(state, line, on, now)) {
      link_->OnOutputLinesChanged(uart_, now);
      link_->RefreshInputLinesLocked(now);
    }
    return Status::Ok();
  }

  bool SetLineLocked(bool& state, LineChange::Line line, bool on, TimePoint now) {
    if (state == on) return false;
    state = on;
    link_->U(uart_).lineLog.push_back({now, line, on});
    return true;
  }

  std::shared_ptr<SimLink> link_;
  size_t uart_;
  Event* subscribed_ = nullptr;
  LowLatencyAnswer lowLatency_ = LowLatencyAnswer::NotOffered;
};

SimLink::SimLink(std::shared_ptr<Clock> clock, size_t uartCount)
    : clock_(clock ? std::move(clock) : Clock::Steady()), uarts_(uartCount) {}

SimLink::~SimLink() = default;

Duration SimLink::CharacterTime(size_t uart) const {
  std::lock_guard lock(mutex_);
  return CharacterTimeLocked(uart);
}

Duration SimLink::CharacterTimeLocked(size_t uart) const {
  const Dcb dcb = U(uart).dcb.value_or(Dcb{.BaudRate = 9600});
  // Half bits: 1.5 stop bits must stay exact.
  const uint64_t halfBits = 2 * (1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0)) +
                            (dcb.StopBits == ONESTOPBIT ? 2 : dcb.StopBits == ONE5STOPBITS ? 3 : 4);
  const uint64_t baud = dcb.BaudRate ? dcb.BaudRate : 9600;
  return Duration(halfBits * 1'000'000'000ull / (2 * baud));
}

std::string SimLink::Sent(size_t uart) const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const WireByte& w : U(uart).sentLog) out.push_back(static_cast<char>(w.byte));
  return out;
}

std::vector<WireByte> SimLink::SentLog(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).sentLog;
}

std::vector<LineChange> SimLink::LineLog(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).lineLog;
}

bool SimLink::Dtr(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).dtr;
}

bool SimLink::Rts(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).rts;
}

std::optional<Dcb> SimLink::LineSettings(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).dcb;
}

bool SimLink::IsOpen(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).open;
}

void SimLink::CatchUp() {
  std::lock_guard lock(mutex_);
  AdvanceLocked(clock_->Now());
}

void SimLink::InjectReceived(const std::string& bytes, size_t uart) {
  std::lock_guard lock(mutex_);
  for (char c : bytes) DeliverLocked(uart, {static_cast<uint8_t>(c)});
}

void SimLink::InjectFrameError(uint8_t byte, size_t uart) {
  std::lock_guard lock(mutex_);
  DeliverLocked(uart, {byte, true, RxMark::Frame, true});
}

void SimLink::InjectParityError(uint8_t byte, size_t uart) {
  std::lock_guard lock(mutex_);
  DeliverLocked(uart, {byte, true, RxMark::Parity, true});
}

void SimLink::InjectOverrun(size_t uart) {
  std::lock_guard lock(mutex_);
  DeliverLocked(uart, {0, false, RxMark::Overrun, true});
}

void SimLink::InjectBreak(size_t uart) {
  std::lock_guard lock(mutex_);
  DeliverLocked(uart, {0, false, RxMark::Break, true});
}

void SimLink::DeliverLocked(size_t to, RxItem item) {
  Uart& u = U(to);
  if (!u.open) return;  // nobody listens on a closed port
  if (item.hasByte && u.dcb) {
    item.byte &= static_cast<uint8_t>((1u << u.dcb->ByteSize) - 1);
    // Output flow control consumes the far end's XON/XOFF.
    if (u.dcb->fOutX && !item.hasMark) {
      if (item.byte == static_cast<uint8_t>(u.dcb->XoffChar)) {
        u.xoffReceived = true;
        return;
      }
      if (item.byte == static_cast<uint8_t>(u.dcb->XonChar)) {
        u.xoffReceived = false;
        StartNextCharacterLocked(to, clock_->Now());
        return;
      }
    }
  }
  if (u.rx.size() >= kSimBufferSize) {
    u.rxLost = true;
  } else {
    u.rx.push_back(item);
  }
  if (u.wake && u.rxArmed) {
    u.rxArmed = false;
    if (servicing_ != to) u.wake->Set();
  }
}

void SimLink::QueueTransmitLocked(size_t uart, const uint8_t* data, size_t count, TimePoint now) {
  Uart& u = U(uart);
  u.tx.insert(u.tx.end(), data, data + count);
  StartNextCharacterLocked(uart, now);
}

bool SimLink::TransmitterHeldLocked(size_t uart, TimePoint at) const {
  const Uart& u = U(uart);
  if (!u.dcb) return false;
  if (u.dcb->fOutxCtsFlow && !(InputLines(uart, at) & MS_CTS_ON)) return true;
  return u.dcb->fOutX && u.xoffReceived;
}

void SimLink::StartNextCharacterLocked(size_t uart, TimePoint at) {
  Uart& u = U(uart);
  // The UART takes bytes from the driver into its FIFO only while it may send, as a Windows
  // driver loads the transmitter only while nothing holds it.
  if (TransmitterHeldLocked(uart, at)) return;
  if (!u.shifting && !u.tx.empty()) {
    uint8_t byte = u.tx.front();
    u.tx.pop_front();
    if (u.inFifo > 0) --u.inFifo;
    if (u.dcb) byte &= static_cast<uint8_t>((1u << u.dcb->ByteSize) - 1);
    u.shifting = byte;
    u.shiftEnd = at + CharacterTimeLocked(uart);
  }
  u.inFifo = std::max(u.inFifo, std::min(kSimFifoDepth, u.tx.size()));
}

void SimLink::DrainTransmitterLocked(size_t uart) {
  Uart& u = U(uart);
  // The characters leave at their own times, without waiting for the clock to get there.
  size_t left = u.inFifo;
  while (u.shifting) {
    const uint8_t byte = *u.shifting;
    const TimePoint at = u.shiftEnd;
    u.shifting.reset();
    u.sentLog.push_back({at, byte});
    Route(uart, byte, at);
    if (left == 0) break;
    --left;
    StartNextCharacterLocked(uart, at);
  }
}

void SimLink::AdvanceLocked(TimePoint now) {
  for (;;) {
    std::optional<size_t> next;
    for (size_t i = 0; i < uarts_.size(); ++i)
      if (uarts_[i].shifting && uarts_[i].shiftEnd <= now && (!next || uarts_[i].shiftEnd < uarts_[*next].shiftEnd))
        next = i;
    std::optional<TimePoint> linkDue = NextLinkDeadline();
    if (linkDue && *linkDue <= now && (!next || *linkDue <= uarts_[*next].shiftEnd)) {
      AdvanceLink(*linkDue);
      RefreshInputLinesLocked(*linkDue);
      continue;
    }
    if (!next) break;
    Uart& u = uarts_[*next];
    const uint8_t byte = *u.shifting;
    const TimePoint at = u.shiftEnd;
    u.shifting.reset();
    u.sentLog.push_back({at, byte});
    Route(*next, byte, at);
    StartNextCharacterLocked(*next, at);
  }
  RefreshInputLinesLocked(now);
}

void SimLink::RefreshInputLinesLocked(TimePoint now) {
  for (size_t i = 0; i < uarts_.size(); ++i) {
    Uart& u = uarts_[i];
    const uint32_t status = InputLines(i, now);
    if (status != u.status) {
      u.changed |= status ^ u.status;
      u.status = status;
      if (u.wake && servicing_ != i) u.wake->Set();
    }
    // A transmitter held by CTS or XOFF may go on now.
    StartNextCharacterLocked(i, now);
  }
}

std::optional<TimePoint> SimLink::NextDeadlineLocked() const {
  std::optional<TimePoint> next = NextLinkDeadline();
  for (const Uart& u : uarts_)
    if (u.shifting && (!next || u.shiftEnd < *next)) next = u.shiftEnd;
  return next;
}

void SimLink::SetLowLatencyAnswer(LowLatencyAnswer answer, size_t uart) {
  std::lock_guard lock(mutex_);
  U(uart).lowLatencyOffer = answer;
}

bool SimLink::LowLatencyOn(size_t uart) const {
  std::lock_guard lock(mutex_);
  return U(uart).lowLatencyOn;
}

OpenResult SimEndpoint::Open() {
  {
    std::lock_guard lock(link_->mutex_);
    SimLink::Uart& u = link_->U(uart_);
    if (u.open) return {nullptr, EBUSY, "the simulated device is already open"};
    u.open = true;
    u.rxArmed = true;
  }
  int error = 0;
  auto driver = std::make_unique<SimDriver>(link_, uart_);
  driver->AskForLowLatency();
  auto device = MakeCommCore(std::move(driver), &error);
  if (!device) return {nullptr, error, "the simulated device could not be started"};
  return {std::move(device), 0, {}};
}

}  // namespace velmora::platform::sim
