#include "platform/comm_core.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>

#include <array>
#include <cerrno>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/byte_queue.h"
#include "platform/event.h"
#include "platform/output_ledger.h"
#include "platform/overlapped.h"
#include "platform/read_timeouts.h"
#include "platform/receive_rules.h"

namespace velmora::platform {

namespace {

using TimePoint = Clock::TimePoint;

// Anything larger is a mistake in the settings, not a queue anyone wants.
constexpr uint32_t kLargestQueue = 64u << 20;
constexpr size_t kReadChunk = 64 * 1024;
// Arrival times nobody takes are not kept without end.
constexpr size_t kKeptArrivalTimes = 64 * 1024;

// An operation's timeouts run from the moment it reaches the head of its queue, as a driver
// starts its timer for the request it is serving: a read or a write queued behind another is
// not cut short by the time the one before it took.
struct PendingRead {
  Overlapped* ov;
  uint8_t* buffer;
  uint32_t want;
  bool started = false;  // at the head: `progress` and its deadlines are running
  ReadProgress progress;
};

struct PendingWrite {
  Overlapped* ov;
  const uint8_t* data;
  uint32_t count;
  uint32_t fed = 0;    // bytes handed to the driver
  uint64_t start = 0;  // the output ledger's position of the first byte fed
  bool started = false;  // at the head: `deadline` is running
  std::optional<TimePoint> deadline;
};

struct PendingWait {
  Overlapped* ov;
  uint32_t* mask;
};

std::optional<TimePoint> Earliest(std::optional<TimePoint> a, std::optional<TimePoint> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

bool ValidDcb(const Dcb& dcb) {
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
  if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE) return false;
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return false;
  return dcb.BaudRate != 0;
}

class CommCore final : public CommDevice {
 public:
  CommCore(std::unique_ptr<LineDriver> driver, std::unique_ptr<Event> wake)
      : driver_(std::move(driver)), clock_(driver_->TimeSource()), wake_(std::move(wake)),
        input_(std::max<size_t>(kDefaultQueueSize, driver_->MinimumInputQueue())), chunk_(kReadChunk) {}

  // Short of threads or descriptors, the open fails with the system's number; nothing here
  // may end the process.
  bool Start(int* error) {
    if (Status s = driver_->Start(*wake_); !s) {
      if (error) *error = s.error;
      return false;
    }
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
      driver_->Stop();
      if (error) *error = e.code().value();
      return false;
    }
    return true;
  }

  ~CommCore() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      // What aborted writes left in the driver was never reported sent: it does not go out.
      if (!lost_) ObserveOutputLocked();
      AbortAllLocked(ECANCELED);
      if (!lost_) DropUnsentOutputLocked();
    }
    wake_->Set();
    if (thread_.joinable()) thread_.join();
    driver_->Stop();
  }

  Status SetupComm(uint32_t inQueue, uint32_t outQueue) override {
    if (inQueue > kLargestQueue || outQueue > kLargestQueue) return Status::Failed(EINVAL);
    std::lock_guard lock(mutex_);
    if (lost_) return Status::Failed(lostError_);
    const size_t capacity = std::max<size_t>(inQueue, driver_->MinimumInputQueue());
    if (inQueue > 0 && capacity != input_.Capacity()) input_.SetCapacity(capacity);
    wake_->Set();
    return Status::Ok();
  }

  Status SetCommState(const Dcb& dcb) override {
    if (!ValidDcb(dcb)) return Status::Failed(EINVAL);
    std::lock_guard lock(mutex_);
    if (lost_) return Status::Failed(lostError_);
    if (Status s = driver_->Apply(dcb); !s) return s;
    dcb_ = dcb;
    // The control modes decide the lines, as a Windows driver does on every SetCommState.
    Status lines = ApplyControlLinesLocked();
    (void)WatchModemLinesLocked();
    wake_->Set();
    return lines;
  }

  Status SetCommTimeouts(const CommTimeouts& timeouts) override {
    std::lock_guard lock(mutex_);
    if (lost_) return Status::Failed(lostError_);
    timeouts_ = timeouts;
    return Status::Ok();
  }

  Status SetCommMask(uint32_t mask) override {
    std::lock_guard lock(mutex_);
    mask_ = mask;
    history_ = 0;
    if (wait_) {
      *wait_->mask = 0;
      CompleteOverlapped(*wait_->ov, 0, 0);
      wait_.reset();
    }
    if (WatchModemLinesLocked()) wake_->Set();
    return Status::Ok();
  }

  IoStart WaitCommEvent(uint32_t* mask, Overlapped& ov) override {
    if (!mask || !ov.event) return {IoStart::Failed, 0, EINVAL};
    std::lock_guard lock(mutex_);
    if (lost_) return {IoStart::Failed, 0, lostError_};
    if (wait_ || mask_ == 0) return {IoStart::Failed, 0, EINVAL};
    BeginOverlapped(ov);
    wait_ = PendingWait{&ov, mask};
    if (CompleteWaitLocked()) return {IoStart::Completed, 0, 0};
    SettleStart(ov);
    // A driver that looks at the lines now and then may have to start looking.
    if (WatchModemLinesLocked()) wake_->Set();
    return {IoStart::Pending, 0, 0};
  }

  IoStart ReadFile(void* buffer, uint32_t count, Overlapped& ov) override {
    if (!ov.event || (!buffer && count > 0)) return {IoStart::Failed, 0, EINVAL};
    bool wake = false;
    const IoStart start = BeginRead(buffer, count, ov, wake);
    // Woken after the lock is let go: the I/O thread would only find it still held.
    if (wake) wake_->Set();
    return start;
  }

  IoStart BeginRead(void* buffer, uint32_t count, Overlapped& ov, bool& wake) {
    std::lock_guard lock(mutex_);
    // What arrived before the device went away is still handed out.
    if (lost_ && (input_.Empty() || count == 0)) return {IoStart::Failed, 0, lostError_};
    BeginOverlapped(ov);
    const bool wasFull = input_.Room() == 0;
    const bool wasHeld = inputHeld_;
    const TimePoint now = clock_.Now();
    reads_.push_back(PendingRead{&ov, static_cast<uint8_t*>(buffer), count, false, {}});
    ServeReadsLocked(now);
    // The I/O thread must look again when there is room for input, a deadline to keep, or the
    // far end was just let go (an XON on its way).
    wake = wasFull || wasHeld != inputHeld_ || !reads_.empty();
    SettleStart(ov);
    if (ov.status.load(std::memory_order_relaxed) == Overlapped::kStatusPending) return {IoStart::Pending, 0, 0};
    return {IoStart::Completed, ov.transferred.load(std::memory_order_relaxed), 0};
  }

  IoStart WriteFile(const void* buffer, uint32_t count, Overlapped& ov) override {
    if (!ov.event || (!buffer && count > 0)) return {IoStart::Failed, 0, EINVAL};
    bool wake = false;
    const IoStart start = BeginWrite(static_cast<const uint8_t*>(buffer), count, ov, wake);
    // Woken after the lock is let go: the I/O thread would only find it still held.
    if (wake) wake_->Set();
    return start;
  }

  IoStart BeginWrite(const uint8_t* buffer, uint32_t count, Overlapped& ov, bool& wake) {
    std::lock_guard lock(mutex_);
    if (lost_) return {IoStart::Failed, 0, lostError_};
    BeginOverlapped(ov);
    if (count == 0) {
      CompleteOverlapped(ov, 0, 0);
      return {IoStart::Completed, 0, 0};
    }
    writes_.push_back(PendingWrite{&ov, buffer, count, 0, 0, false, std::nullopt});
    StartFrontWriteLocked(clock_.Now());
    // Fed here, on the caller's thread, behind every write queued before: an idle line starts
    // at once, without waiting for the I/O thread to wake.
    FeedOutputLocked();
    CompleteSentWritesLocked();
    // A line that has already sent everything (a pseudo-terminal's kernel took the bytes) reports
    // its transmit-empty from here too.
    if (!lost_) CheckTransmitterLocked();
    // Bytes still on their way mean a transmit-empty to watch for, and maybe the rest to feed:
    // only then has the I/O thread anything new to do.
    wake = !writes_.empty() || transmitting_ || outputBlocked_ || (rtsAfterDrain_ && rtsAfterDrain_->at);
    SettleStart(ov);
    if (ov.status.load(std::memory_order_relaxed) != Overlapped::kStatusPending)
      return {IoStart::Completed, ov.transferred.load(std::memory_order_relaxed), 0};
    return {IoStart::Pending, 0, 0};
  }

  Status GetOverlappedResult(Overlapped& ov, uint32_t& transferred, bool wait) override {
    return OverlappedResult(ov, transferred, wait);
  }

  Status ClearCommError(uint32_t& errors, ComStat* stat) override {
    std::lock_guard lock(mutex_);
    errors = errorWord_;
    errorWord_ = 0;
    if (stat) {
      stat->cbInQue = static_cast<uint32_t>(input_.Size());
      uint32_t waiting = 0;
      for (const PendingWrite& w : writes_) waiting += w.count - w.fed;
      stat->cbOutQue = waiting + (lost_ ? 0 : driver_->OutQueue());
    }
    return Status::Ok();
  }

  Status GetCommModemStatus(uint32_t& status) override {
    std::lock_guard lock(mutex_);
    if (lost_) return Status::Failed(lostError_);
    UpdateModemLocked();
    status = modem_;
    return Status::Ok();
  }

  Status EscapeCommFunction(uint32_t function) override {
    std::lock_guard lock(mutex_);
    if (lost_) return Status::Failed(lostError_);
    Status s;
    switch (function) {
      case SETRTS: s = SetRtsLocked(true); break;
      case CLRRTS: s = SetRtsLocked(false); break;
      case SETDTR: s = driver_->SetDtr(true); break;
      case CLRDTR: s = driver_->SetDtr(false); break;
      case SETBREAK: s = driver_->SetBreak(true); break;
      case CLRBREAK: s = driver_->SetBreak(false); break;
      case SETXOFF: heldAsIfXoff_ = true; break;
      case SETXON: heldAsIfXoff_ = false; break;
      default: return Status::Failed(EINVAL);
    }
    wake_->Set();
    return s;
  }

  Status PurgeComm(uint32_t flags) override {
    if (flags == 0 || (flags & ~0xFu) != 0) return Status::Failed(EINVAL);
    std::lock_guard lock(mutex_);
    if (!lost_) ObserveOutputLocked();
    if (flags & PURGE_TXABORT) {
      for (PendingWrite& w : writes_) CompleteOverlapped(*w.ov, SentOf(w), ECANCELED);
      writes_.clear();
      gate_.reset();
      // The rest of an aborted write is not sent later behind the caller's back.
      if (!lost_) DropUnsentOutputLocked();
    }
    if (flags & PURGE_RXABORT) {
      for (PendingRead& r : reads_) CompleteOverlapped(*r.ov, r.progress.got, ECANCELED);
      reads_.clear();
      if (wait_) {
        CompleteOverlapped(*wait_->ov, 0, ECANCELED);
        wait_.reset();
      }
    }
    if (!lost_) {
      // Pending writes feed what was cleared again: only a purge with the abort flag drops them.
      if (flags & PURGE_TXCLEAR) DropUnsentOutputLocked(true);
      if (flags & PURGE_RXCLEAR) {
        input_.Clear();
        arrivals_.clear();
        driver_->Flush(true, false);
        ResumeInputFlowIfDrainedLocked();
      }
    } else if (flags & PURGE_RXCLEAR) {
      input_.Clear();
      arrivals_.clear();
    }
    wake_->Set();
    return Status::Ok();
  }

  LowLatencyAnswer LowLatency() override {
    std::lock_guard lock(mutex_);
    return driver_->LowLatency();
  }

  bool HoldOutput(std::chrono::nanoseconds lead, bool untilCts) override {
    std::lock_guard lock(mutex_);
    if (lost_) return false;
    // Counted from the keying, RTS's last change (up, or down where it is inverted): the caller
    // may have been held up since.
    gate_ = OutputGate{rtsChangedAt_ + lead, untilCts};
    // CTS is watched while the gate waits for it.
    (void)WatchModemLinesLocked();
    wake_->Set();
    return true;
  }

  void ReleaseOutput() override {
    std::lock_guard lock(mutex_);
    if (!gate_) return;
    OpenGateLocked(clock_.Now());
    wake_->Set();
  }

  bool SetRtsAfterDrain(std::chrono::nanoseconds tail, bool level) override {
    std::lock_guard lock(mutex_);
    if (lost_) return false;
    rtsAfterDrain_ = RtsAfterDrain{tail, level, std::nullopt};
    return true;
  }

  bool CancelRtsAfterDrain() override {
    std::lock_guard lock(mutex_);
    return std::exchange(rtsAfterDrain_, std::nullopt).has_value();
  }

  std::optional<bool> Transmitting() override {
    std::lock_guard lock(mutex_);
    if (lost_) return std::nullopt;
    return !writes_.empty() || transmitting_;
  }

  uint64_t TakeArrivalTimes(std::vector<ArrivalTime>& out) override {
    std::lock_guard lock(mutex_);
    out.insert(out.end(), delivered_.begin(), delivered_.end());
    delivered_.clear();
    return deliveredCount_;
  }

 private:
  void Run() {
    // The line's timing rides on this thread's timed waits: the default slack of 50 us would
    // be added to every transmit-empty, which a file send waits for once a character.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      // Short of memory the device is given up, with the system's number; the process goes on.
      try {
        PassLocked();
      } catch (const std::system_error& e) {
        MarkLostLocked(e.code().value() ? e.code().value() : ENOMEM);
      } catch (const std::exception&) {
        MarkLostLocked(ENOMEM);
      }
      if (stopping_) break;

      std::array<pollfd, 2> fds{};
      fds[0] = {wake_->PollHandle(), POLLIN, 0};
      nfds_t count = 1;
      const int fd = lost_ ? -1 : driver_->PollDescriptor();
      if (fd >= 0) {
        short events = 0;
        if (input_.Room() > 0) events |= POLLIN;
        if (outputBlocked_) events |= POLLOUT;
        fds[1] = {fd, events, 0};
        count = 2;
      }
      std::optional<TimePoint> deadline = NextDeadlineLocked();
      std::optional<Clock::Duration> sleep;
      if (deadline) sleep = clock_.SleepFor(*deadline);
      lock.unlock();

      timespec ts{};
      if (sleep) {
        ts.tv_sec = static_cast<time_t>(sleep->count() / 1'000'000'000);
        ts.tv_nsec = static_cast<long>(sleep->count() % 1'000'000'000);
      }
      int n = ::ppoll(fds.data(), count, sleep ? &ts : nullptr, nullptr);
      const int pollError = n < 0 ? errno : 0;

      lock.lock();
      wake_->Reset();
      hangup_ = count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
      if (pollError != 0 && pollError != EINTR) MarkLostLocked(pollError);
    }
  }

  // One pass of the I/O thread: time-driven work, input, lines, output, deadlines.
  void PassLocked() {
    // Events found during the pass go out together at its end: a character received and the
    // transmit-empty of the same moment are one batch, not two round trips through the monitor.
    inPass_ = true;
    const TimePoint now = clock_.Now();
    if (!lost_) {
      driver_->Service();
      UpdateModemLocked();  // first: DSR sensitivity and DSR flow look at the lines
      TakeInputLocked();
    }
    if (!lost_) FeedOutputLocked();
    CompleteSentWritesLocked();
    // The write behind one that gave up goes on in this pass, not whenever the thread wakes next.
    if (ExpireWritesLocked(now) && !lost_) {
      FeedOutputLocked();
      CompleteSentWritesLocked();
    }
    if (!lost_) {
      CheckTransmitterLocked();
      ChangeRtsAfterDrainIfDueLocked();
    }
    ServeReadsLocked(now);
    inPass_ = false;
    CompleteWaitLocked();
    (void)WatchModemLinesLocked();
  }

  // The lines matter while a wait for their events is pending or the block depends on DSR.
  // Returns whether the I/O thread must look again (a driver that looks at the lines at
  // intervals has a new deadline); false when nothing changed, and for a driver told of changes,
  // which needs no pass.
  bool WatchModemLinesLocked() {
    constexpr uint32_t kLineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    const bool wanted = !lost_ && ((wait_ && (mask_ & kLineEvents)) || dcb_.fOutxDsrFlow || dcb_.fDsrSensitivity ||
                                   (gate_ && gate_->untilCts));
    if (wanted == modemLinesWanted_) return false;
    modemLinesWanted_ = wanted;
    return driver_->SetModemLinesWanted(wanted);
  }

  std::optional<TimePoint> NextDeadlineLocked() {
    std::optional<TimePoint> next = lost_ ? std::nullopt : driver_->NextDeadline();
    for (const PendingRead& r : reads_) next = Earliest(next, ReadDeadline(r.progress));
    for (const PendingWrite& w : writes_) next = Earliest(next, w.deadline);
    // A look at the output queue is due only while a write waits for it.
    if (!lost_ && !writes_.empty()) next = Earliest(next, outputRecheck_);
    if (gate_ && !writes_.empty() && gate_->opensAt > clock_.Now()) next = Earliest(next, gate_->opensAt);
    if (rtsAfterDrain_) next = Earliest(next, rtsAfterDrain_->at);
    return next;
  }

  void TakeInputLocked() {
    bool sawNothing = false;
    while (input_.Room() > 0) {
      marks_.clear();
      ReadResult r = driver_->Read(chunk_.data(), std::min(chunk_.size(), input_.Room()), marks_);
      if (r.lost) {
        MarkLostLocked(r.error ? r.error : EIO);
        return;
      }
      if (r.count == 0 && marks_.empty()) {
        sawNothing = true;
        break;
      }
      AcceptInputLocked(chunk_.data(), r.count, clock_.Now());
      // The driver had no more: asking again would only cost a system call that finds nothing.
      if (r.drained) {
        sawNothing = true;
        break;
      }
    }
    // A hang-up with nothing left to read is the device going away; staying in the poll set
    // would wake us hundreds of thousands of times a second.
    if (hangup_ && (sawNothing || input_.Room() == 0)) MarkLostLocked(EIO);
    hangup_ = false;
  }

  void AcceptInputLocked(uint8_t* data, size_t count, TimePoint arrived) {
    const size_t before = input_.Size();
    const ReceiveOutcome r = ApplyReceiveRules(dcb_, (modem_ & MS_DSR_ON) != 0, data, count, marks_);
    // Reads never ask for more than the room, so everything kept fits.
    input_.Push(data, r.kept);
    if (r.kept > 0) {
      arrivals_.push_back(ArrivalTime{pushed_, arrived});
      pushed_ += r.kept;
    }
    errorWord_ |= r.errors;
    uint32_t events = r.events;
    if (input_.Size() > before) events |= EV_RXCHAR;
    const size_t eightyPercent = input_.Capacity() * 8 / 10;
    if (before < eightyPercent && input_.Size() >= eightyPercent) events |= EV_RX80FULL;
    RecordLocked(events);
    HoldInputFlowIfFullLocked();
  }

  void RecordLocked(uint32_t events) {
    history_ |= events & mask_;
    if (!inPass_) CompleteWaitLocked();
  }

  bool CompleteWaitLocked() {
    if (!wait_ || history_ == 0) return false;
    *wait_->mask = history_;
    history_ = 0;
    CompleteOverlapped(*wait_->ov, 0, 0);
    wait_.reset();
    return true;
  }

  void UpdateModemLocked() {
    ModemChange change = driver_->TakeModemChange();
    modem_ = change.status;
    uint32_t events = 0;
    if (change.changed & MS_CTS_ON) events |= EV_CTS;
    if (change.changed & MS_DSR_ON) events |= EV_DSR;
    if (change.changed & MS_RLSD_ON) events |= EV_RLSD;
    if (change.changed & MS_RING_ON) events |= EV_RING;
    if (events) RecordLocked(events);
  }

  // Input flow control: the far end is held back while the queue has less than XoffLim free
  // bytes and let go once it holds no more than XonLim.
  bool InputFlowConfigured() const {
    return dcb_.fInX || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  }

  void HoldInputFlowIfFullLocked() {
    if (inputHeld_ || !InputFlowConfigured() || input_.Room() >= dcb_.XoffLim) return;
    inputHeld_ = true;
    if (dcb_.fInX) {
      (void)driver_->SendImmediate(static_cast<uint8_t>(dcb_.XoffChar));
      sentXoff_ = true;
    }
    if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE) (void)SetRtsLocked(false);
    if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE) (void)driver_->SetDtr(false);
  }

  void ResumeInputFlowIfDrainedLocked() {
    if (lost_ || !inputHeld_ || input_.Size() > dcb_.XonLim) return;
    inputHeld_ = false;
    if (sentXoff_) {
      (void)driver_->SendImmediate(static_cast<uint8_t>(dcb_.XonChar));
      sentXoff_ = false;
    }
    if (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE) (void)SetRtsLocked(true);
    if (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE) (void)driver_->SetDtr(true);
  }

  Status ApplyControlLinesLocked() {
    const bool dtrOn = dcb_.fDtrControl == DTR_CONTROL_ENABLE ||
                       (dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE && !inputHeld_);
    const bool rtsOn = dcb_.fRtsControl == RTS_CONTROL_ENABLE ||
                       (dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE && !inputHeld_) ||
                       (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && transmitting_);
    if (Status s = driver_->SetDtr(dtrOn); !s) return s;
    return SetRtsLocked(rtsOn);
  }

  Status SetRtsLocked(bool on) {
    if (on != rtsOn_) rtsChangedAt_ = clock_.Now();
    rtsOn_ = on;
    return driver_->SetRts(on);
  }

  bool OutputHeld() const {
    if (heldAsIfXoff_) return true;
    if (dcb_.fOutxDsrFlow && !(modem_ & MS_DSR_ON)) return true;
    return sentXoff_ && !dcb_.fTXContinueOnXoff;
  }

  // The keying's hold on the output: shut until its time and, if asked, until CTS is on; open
  // for good once both have come.
  bool GateShutLocked() {
    if (!gate_) return false;
    const TimePoint now = clock_.Now();
    if (now < gate_->opensAt || (gate_->untilCts && !(modem_ & MS_CTS_ON))) return true;
    OpenGateLocked(now);
    return false;
  }

  void OpenGateLocked(TimePoint now) {
    gate_.reset();
    (void)WatchModemLinesLocked();
    // The write time-out runs from here: the wait for the radio was not the line's.
    StartFrontWriteLocked(now);
  }

  void ChangeRtsAfterDrainIfDueLocked() {
    if (!rtsAfterDrain_ || !rtsAfterDrain_->at || clock_.Now() < *rtsAfterDrain_->at) return;
    (void)SetRtsLocked(rtsAfterDrain_->level);
    rtsAfterDrain_.reset();
  }

  // Writes are fed in order; every write before the one being fed has been fed whole.
  void FeedOutputLocked() {
    outputBlocked_ = false;
    if (!writes_.empty() && GateShutLocked()) return;
    for (PendingWrite& w : writes_) {
      if (w.fed == w.count) continue;
      if (lost_ || OutputHeld()) return;
      // RTS toggle keys the line for as long as there is something to send.
      if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !rtsOn_) (void)SetRtsLocked(true);
      WriteResult r = driver_->Write(w.data + w.fed, w.count - w.fed);
      if (r.lost) {
        MarkLostLocked(r.error ? r.error : EIO);
        return;
      }
      if (r.accepted > 0) {
        // More for the line: RTS waits for this to have left too.
        if (rtsAfterDrain_) rtsAfterDrain_->at.reset();
        if (w.fed == 0) w.start = ledger_.Fed();
        ledger_.Feed(r.accepted);
        w.fed += static_cast<uint32_t>(r.accepted);
        transmitting_ = true;
      }
      if (w.fed < w.count) {
        outputBlocked_ = true;
        return;
      }
    }
  }

  void ObserveOutputLocked() {
    if (ledger_.Unsent() > 0) ledger_.Observe(driver_->OutQueue());
  }

  uint32_t SentOf(const PendingWrite& w) const {
    if (w.fed == 0 || ledger_.Sent() <= w.start) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(ledger_.Sent() - w.start, w.fed));
  }

  // A write completes when the line has taken its last byte. While the front write waits for
  // that, the queue is looked at again in time (a tty says nothing when its queue shrinks).
  void CompleteSentWritesLocked() {
    outputRecheck_.reset();
    if (lost_) return;
    ObserveOutputLocked();
    while (!writes_.empty()) {
      PendingWrite& w = writes_.front();
      if (w.fed < w.count || SentOf(w) < w.count) break;
      CompleteOverlapped(*w.ov, w.count, 0);
      writes_.pop_front();
      StartFrontWriteLocked(clock_.Now());
    }
    if (!writes_.empty() && writes_.front().fed == writes_.front().count) {
      const PendingWrite& w = writes_.front();
      outputRecheck_ = ledger_.RecheckAt(clock_.Now(), driver_->CharacterTime(), w.start + w.fed);
    }
  }

  // Discards what the driver holds of the writes (none of it was reported sent); writes still
  // pending feed their rest again. A purge clears the driver's output even when the ledger
  // knows of nothing there.
  void DropUnsentOutputLocked(bool evenIfNothingUnsent = false) {
    if (ledger_.Unsent() == 0 && !evenIfNothingUnsent) return;
    driver_->Flush(false, true);
    for (PendingWrite& w : writes_) w.fed = SentOf(w);
    ledger_.DropUnsent();
    outputRecheck_.reset();
  }

  // A write cut short by its timeout completes with the count the line took, and the rest is
  // abandoned: it must not go out later, when nobody expects it. Not an error.
  // Returns whether any write expired.
  bool ExpireWritesLocked(TimePoint now) {
    bool expired = false;
    while (!writes_.empty() && writes_.front().deadline && *writes_.front().deadline <= now) {
      PendingWrite& w = writes_.front();
      const uint32_t sent = SentOf(w);
      Overlapped* ov = w.ov;
      writes_.pop_front();
      StartFrontWriteLocked(now);
      if (!lost_) DropUnsentOutputLocked();
      CompleteOverlapped(*ov, sent, 0);
      expired = true;
    }
    return expired;
  }

  // The total timeout covers the whole transfer, until the line has taken the last byte.
  void StartFrontWriteLocked(TimePoint now) {
    if (writes_.empty() || writes_.front().started || gate_) return;
    PendingWrite& w = writes_.front();
    w.started = true;
    w.deadline = DeadlineAfter(now, uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * w.count +
                                        timeouts_.WriteTotalTimeoutConstant);
  }

  void CheckTransmitterLocked() {
    if (!transmitting_ || !writes_.empty() || !driver_->TransmitterEmpty()) return;
    transmitting_ = false;
    if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && rtsOn_) (void)SetRtsLocked(false);
    if (rtsAfterDrain_) rtsAfterDrain_->at = clock_.Now() + rtsAfterDrain_->tail;
    RecordLocked(EV_TXEMPTY);
  }

  void ServeReadsLocked(TimePoint now) {
    while (!reads_.empty()) {
      PendingRead& r = reads_.front();
      if (!r.started) {
        r.progress = StartRead(timeouts_, r.want, now);
        r.started = true;
      }
      const uint64_t first = pushed_ - input_.Size();
      const size_t taken = input_.Pop(r.buffer + r.progress.got, r.progress.want - r.progress.got);
      if (taken > 0) {
        DeliverArrivalTimesLocked(first, taken);
        ResumeInputFlowIfDrainedLocked();
      }
      const bool ends = ReadEnds(timeouts_, r.progress, static_cast<uint32_t>(taken), now);
      // Nothing more comes from a lost device: a read ends with what it has.
      if (!ends && !lost_) return;
      CompleteOverlapped(*r.ov, r.progress.got, 0);
      reads_.pop_front();
    }
  }

  // Bytes [first, first + count) of the input queue's stream went to a read: their times go
  // where TakeArrivalTimes finds them, by their place in what reads delivered.
  void DeliverArrivalTimesLocked(uint64_t first, size_t count) {
    const uint64_t end = first + count;
    for (const ArrivalTime& a : arrivals_) {
      if (a.position >= end) break;
      const uint64_t from = std::max(a.position, first);
      delivered_.push_back(ArrivalTime{deliveredCount_ + (from - first), a.time});
    }
    deliveredCount_ += count;
    while (arrivals_.size() > 1 && arrivals_[1].position <= end) arrivals_.pop_front();
    if (input_.Empty()) arrivals_.clear();
    while (delivered_.size() > kKeptArrivalTimes) delivered_.pop_front();
  }

  void AbortAllLocked(int error) {
    for (PendingRead& r : reads_) CompleteOverlapped(*r.ov, r.progress.got, error);
    reads_.clear();
    for (PendingWrite& w : writes_) CompleteOverlapped(*w.ov, SentOf(w), error);
    writes_.clear();
    if (wait_) {
      CompleteOverlapped(*wait_->ov, 0, error);
      wait_.reset();
    }
  }

  // The device is gone: everything pending and everything later fails with one error, and the
  // descriptor leaves the poll set.
  void MarkLostLocked(int error) {
    if (lost_) return;
    lost_ = true;
    lostError_ = error;
    errorWord_ |= CE_IOE;
    outputBlocked_ = false;
    AbortAllLocked(error);
  }

  const std::unique_ptr<LineDriver> driver_;
  Clock& clock_;
  const std::unique_ptr<Event> wake_;
  std::thread thread_;

  std::mutex mutex_;
  bool stopping_ = false;
  bool lost_ = false;
  int lostError_ = 0;
  bool hangup_ = false;
  bool inPass_ = false;

  Dcb dcb_{};
  CommTimeouts timeouts_{};
  ByteQueue input_;
  std::vector<uint8_t> chunk_;
  std::vector<RxMark> marks_;
  std::deque<ArrivalTime> arrivals_;   // of the bytes in `input_`, by place in its stream
  uint64_t pushed_ = 0;                // bytes ever put into `input_`
  std::deque<ArrivalTime> delivered_;  // of bytes reads took, not yet taken by TakeArrivalTimes
  uint64_t deliveredCount_ = 0;

  uint32_t mask_ = 0;
  uint32_t history_ = 0;
  uint32_t errorWord_ = 0;
  uint32_t modem_ = 0;

  std::deque<PendingRead> reads_;
  std::deque<PendingWrite> writes_;
  OutputLedger ledger_;
  std::optional<TimePoint> outputRecheck_;
  std::optional<PendingWait> wait_;

  struct OutputGate {
    TimePoint opensAt;
    bool untilCts = false;
  };
  std::optional<OutputGate> gate_;
  struct RtsAfterDrain {
    Clock::Duration tail{};
    bool level = false;
    std::optional<TimePoint> at;  // once the transmitter has emptied
  };
  std::optional<RtsAfterDrain> rtsAfterDrain_;

  bool modemLinesWanted_ = false;
  bool outputBlocked_ = false;  // the driver took less than offered: poll for room
  bool transmitting_ = false;   // bytes went out since the last transmit-empty
  bool rtsOn_ = false;
  TimePoint rtsChangedAt_{};
  bool inputHeld_ = false;
  bool sentXoff_ = false;
  bool heldAsIfXoff_ = false;
};

}  // namespace

std::unique_ptr<CommDevice> MakeCommCore(std::unique_ptr<LineDriver> driver, int* error) {
  int eventError = 0;
  std::unique_ptr<Event> wake = Event::Create(true, false, &eventError);
  if (!wake) {
    if (error) *error = eventError;
    return nullptr;
  }
  auto core = std::make_unique<CommCore>(std::move(driver), std::move(wake));
  if (!core->Start(error)) return nullptr;
  return core;
}

}  // namespace velmora::platform
