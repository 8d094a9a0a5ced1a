#include "console/keyer.h"

#include <algorithm>
#include <utility>

namespace velmora::console {

namespace {

using Ms = std::chrono::milliseconds;
// A keying delay this short or shorter counts as none.
constexpr int32_t kLongestNoDelay = 10;

// States that wait for a deadline of their own.
bool HasPhase(Keyer::State state) {
  switch (state) {
    case Keyer::State::Lockout:
    case Keyer::State::Busy:
    case Keyer::State::Backoff:
    case Keyer::State::Lead:
    case Keyer::State::Cts:
    case Keyer::State::Tail:
      return true;
    default:
      return false;
  }
}

}  // namespace

Keyer::Keyer(platform::Clock& clock, KeyerOutput& out, std::function<KeyerSettings()> settings,
             uint32_t seed)
    : clock_(clock), out_(out), settings_(std::move(settings)), random_(seed) {}

bool Keyer::PreKeying() const {
  return state_ == State::Lockout || state_ == State::Busy || state_ == State::Backoff ||
         state_ == State::Lead || state_ == State::Cts;
}

void Keyer::Send(const std::string& bytes, bool end) {
  if (PreKeying()) {
    if (gated_ && DeviceDroppedRts()) {
      // The device's hold opened, and what it held has gone and its tail run out.
      gated_ = false;
      held_ = bytes;
      heldEnd_ = end;
      StartKeying();
      return;
    }
    // Behind what already waits: the line gets everything in the order given, and nothing
    // before the transmitter is ready.
    held_ += bytes;
    heldEnd_ = heldEnd_ || end;
    if (gated_) {
      ArmDeviceTail();
      if (!bytes.empty()) out_.Write(bytes);
    }
    return;
  }
  if (bytes.empty()) {
    // An Enter that sends nothing still ends the transmission.
    if (end) endMark_ = true;
    return;
  }
  if (state_ == State::Idle) {
    held_ = bytes;
    heldEnd_ = end;
    StartKeying();
    return;
  }
  if (DeviceDroppedRts()) {
    held_ = bytes;
    heldEnd_ = end;
    StartKeying();
    return;
  }
  // Keyed, or in the tail: the transmitter is up, the bytes go at once.
  if (state_ == State::Tail) Enter(State::Keyed);
  if (end) endMark_ = true;
  ArmDeviceTail();
  out_.Write(bytes);
}

bool Keyer::DeviceDroppedRts() {
  if (!std::exchange(deviceTail_, false) || out_.CancelRtsAfterDrain()) return false;
  raised_ = false;
  endMark_ = false;
  timeoutAt_.reset();
  Enter(State::Idle);
  out_.KeyingChanged(false, true);
  return true;
}

void Keyer::ArmDeviceTail() {
  // RTS drops after each burst in RTS/CTS mode, and after the burst that Enter ended.
  const KeyerSettings s = settings_();
  if (s.tailMs <= 0 || !(s.rtsCtsMode || endMark_)) return;
  deviceTail_ = out_.SetRtsAfterDrain(Ms(s.tailMs), s.rtsInvert);
}

void Keyer::StartKeying() {
  const KeyerSettings s = settings_();
  if (s.busyWaitMs > 0 && ChannelBusyNow()) {
    busySince_ = clock_.Now();
    phaseLength_ = Ms(s.busyWaitMs);
    phaseEnd_ = busySince_ + phaseLength_;
    Enter(State::Busy);
    out_.ChannelBusy(true);
    return;
  }
  KeyNow();
}

void Keyer::KeyNow() {
  const KeyerSettings s = settings_();
  SetRts(true);
  keyedAt_ = clock_.Now();
  if (s.timeoutS > 0)
    timeoutAt_ = keyedAt_ + std::chrono::seconds(s.timeoutS);
  else
    timeoutAt_.reset();
  const int32_t lead = s.rtsCtsMode ? s.leadMs : (s.keyingDelayMs > kLongestNoDelay ? s.keyingDelayMs : 0);
  if (lead > 0) {
    phaseLength_ = Ms(lead);
    phaseEnd_ = keyedAt_ + phaseLength_;
    Enter(State::Lead);
  } else if (!EnterCtsWait()) {
    Transmit();
    return;
  }
  // The radio's own waits of RTS/CTS mode are kept by the device where it can: the bytes go
  // to it now, and leave on the microsecond.
  if (s.rtsCtsMode && out_.HoldOutput(Ms(lead), s.ctsWaitMs > 0)) {
    gated_ = true;
    ArmDeviceTail();
    if (!held_.empty()) out_.Write(held_);
  }
}

void Keyer::AfterLead() {
  if (!EnterCtsWait()) Transmit();
}

bool Keyer::EnterCtsWait() {
  const KeyerSettings s = settings_();
  if (!s.rtsCtsMode || s.ctsWaitMs <= 0) return false;
  // Read afresh: the drop of CTS after the last keying may still be on its way, and a stale
  // "on" would send before the radio is ready.
  if (const std::optional<bool> now = out_.CtsNow()) cts_ = *now;
  if (cts_) return false;
  // Counted from keying: the lead time is part of the radio's turn-on.
  phaseLength_ = Ms(s.ctsWaitMs);
  phaseEnd_ = keyedAt_ + phaseLength_;
  Enter(State::Cts);
  return true;
}

void Keyer::Transmit() {
  Enter(State::Keyed);
  const std::string bytes = std::exchange(held_, {});
  if (std::exchange(heldEnd_, false)) endMark_ = true;
  if (std::exchange(gated_, false)) {
    // Already with the device, which has let them go or does so now.
    out_.ReleaseOutput();
    out_.HeldOutputReleased();
    return;
  }
  ArmDeviceTail();
  if (!bytes.empty()) out_.Write(bytes);
}

void Keyer::ClearHeld() {
  held_.clear();
  heldEnd_ = false;
  if (std::exchange(gated_, false)) {
    // What the device holds for the keying goes too.
    out_.DiscardOutput();
    out_.ReleaseOutput();
  }
}

void Keyer::TransmitEmpty() {
  if (gated_ && state_ == State::Lead && clock_.Now() >= phaseEnd_) {
    // The device let the bytes go at the lead's end and they have left before the keyer's own
    // timer came round (the window was busy): it catches up first.
    AfterLead();
  }
  if (gated_ && state_ == State::Cts && out_.CtsNow().value_or(cts_)) {
    cts_ = true;
    Transmit();
  }
  const KeyerSettings s = settings_();
  if (state_ == State::Keyed) {
    // RTS drops after each burst in RTS/CTS mode, and after the burst that Enter ended; not
    // while what was written after the event's burst is still going out (its own event comes).
    if (!s.rtsCtsMode && !endMark_) return;
    if (out_.TransmittingNow().value_or(false)) return;
    endMark_ = false;
    if (s.tailMs > 0) {
      phaseLength_ = Ms(s.tailMs);
      phaseEnd_ = clock_.Now() + phaseLength_;
      Enter(State::Tail);
    } else {
      Unkey();
    }
    return;
  }
  if (state_ == State::Idle && (s.rtsCtsMode || endMark_)) {
    out_.SetRtsLevel(s.rtsInvert);
    endMark_ = false;
  }
  // Waiting states hold bytes that have not been written: an earlier burst's late event must
  // not unkey them.
}

void Keyer::Cts(bool on) {
  cts_ = on;
  if (on && state_ == State::Cts) Transmit();
}

void Keyer::Dcd(bool on) {
  dcd_ = on;
  if (state_ == State::Busy && !on) {
    // Two stations that waited for the same carrier to drop must not key together.
    const int32_t upper = settings_().busyBackoffMs;
    if (upper <= 0) {
      out_.ChannelBusy(false);
      KeyNow();
      return;
    }
    std::uniform_int_distribution<int32_t> pick(upper / 5, upper);
    phaseLength_ = Ms(pick(random_));
    phaseEnd_ = clock_.Now() + phaseLength_;
    Enter(State::Backoff);
  } else if (state_ == State::Backoff && on) {
    // Back to waiting, within the wait that began with the first held byte.
    phaseLength_ = Ms(settings_().busyWaitMs);
    phaseEnd_ = busySince_ + phaseLength_;
    Enter(State::Busy);
  }
}

void Keyer::TimerExpired() {
  // The window's timer may go on by itself (a repeating toolkit timer): stopped, and armed
  // again below for what is still to come.
  armed_.reset();
  out_.DisarmTimer();
  const platform::Clock::TimePoint now = clock_.Now();
  if (raised_ && timeoutAt_ && now >= *timeoutAt_) {
    const size_t dropped = held_.size();
    ClearHeld();
    endMark_ = false;
    // RTS first: the time-out is about the radio, the driver's queue can follow.
    SetRts(false);
    out_.DiscardOutput();
    timeoutAt_.reset();
    const int32_t lockout = settings_().lockoutS;
    if (lockout > 0) {
      phaseLength_ = std::chrono::seconds(lockout);
      phaseEnd_ = now + phaseLength_;
      Enter(State::Lockout);
    } else {
      Enter(State::Idle);
    }
    out_.Abandoned(KeyerAbandon::Timeout, dropped);
    return;
  }
  if (!HasPhase(state_) || now < phaseEnd_) {
    // Woken early (or for a phase that has ended meanwhile): wait out the rest.
    Rearm();
    return;
  }
  switch (state_) {
    case State::Lockout:
      Enter(State::Idle);
      if (!held_.empty()) {
        StartKeying();
      } else if (std::exchange(heldEnd_, false)) {
        endMark_ = true;
      }
      break;
    case State::Busy:
      Abandon(KeyerAbandon::BusyWait);
      break;
    case State::Backoff:
      if (ChannelBusyNow()) {
        // The carrier came back and its event has not arrived yet.
        phaseLength_ = Ms(settings_().busyWaitMs);
        phaseEnd_ = busySince_ + phaseLength_;
        Enter(State::Busy);
        break;
      }
      out_.ChannelBusy(false);
      KeyNow();
      break;
    case State::Lead:
      AfterLead();
      break;
    case State::Cts:
      if (out_.CtsNow().value_or(false)) {
        // CTS came, and its event is still on its way.
        cts_ = true;
        Transmit();
        break;
      }
      Abandon(KeyerAbandon::CtsWait);
      break;
    case State::Tail:
      Unkey();
      break;
    default:
      break;
  }
}

bool Keyer::ChannelBusyNow() {
  if (const std::optional<bool> carrier = out_.CarrierNow()) dcd_ = *carrier;
  return dcd_;
}

void Keyer::Abandon(KeyerAbandon why) {
  const size_t dropped = held_.size();
  ClearHeld();
  if (state_ == State::Busy || state_ == State::Backoff) out_.ChannelBusy(false);
  if (raised_)
    Unkey();
  else
    Enter(State::Idle);
  out_.Abandoned(why, dropped);
}

void Keyer::Unkey() {
  SetRts(false);
  timeoutAt_.reset();
  Enter(State::Idle);
}

void Keyer::Reconfigured(bool connected) {
  // New settings set the device's lines from the control modes, as a Windows driver does, so
  // RTS is down now. A transmission the operator keyed goes on keyed, and after the keying
  // delay again: what is typed next must not go out unkeyed.
  if (!raised_) return;
  if (!connected) {
    raised_ = false;
    deviceTail_ = false;
    timeoutAt_.reset();
    gated_ = false;
    held_.clear();
    heldEnd_ = false;
    Enter(State::Idle);
    out_.KeyingChanged(false, true);
    return;
  }
  const KeyerSettings s = settings_();
  SetRts(true);
  if (!s.rtsCtsMode && s.keyingDelayMs > kLongestNoDelay && state_ == State::Keyed) {
    held_.clear();
    heldEnd_ = false;
    phaseLength_ = Ms(s.keyingDelayMs);
    phaseEnd_ = clock_.Now() + phaseLength_;
    Enter(State::Lead);
  }
}

void Keyer::Forget() {
  // Whatever was keyed or held back for the line went with the device; the port is closed, so
  // RTS is only shown down, not set.
  const bool wasRaised = std::exchange(raised_, false);
  const bool wasBusy = state_ == State::Busy || state_ == State::Backoff;
  held_.clear();
  heldEnd_ = false;
  gated_ = false;
  deviceTail_ = false;
  endMark_ = false;
  cts_ = false;
  dcd_ = false;
  timeoutAt_.reset();
  Enter(State::Idle);
  if (wasBusy) out_.ChannelBusy(false);
  out_.KeyingChanged(false, wasRaised);
}

void Keyer::ForceRts(bool on) {
  // Bytes the device holds for a keying must not go out after RTS has dropped.
  if (!on) ClearHeld();
  SetRts(on);
  if (on) {
    if (state_ == State::Idle) {
      keyedAt_ = clock_.Now();
      const int32_t timeout = settings_().timeoutS;
      if (timeout > 0)
        timeoutAt_ = keyedAt_ + std::chrono::seconds(timeout);
      else
        timeoutAt_.reset();
      Enter(State::Keyed);
    }
    return;
  }
  const bool wasBusy = state_ == State::Busy || state_ == State::Backoff;
  timeoutAt_.reset();
  Enter(State::Idle);
  if (wasBusy) out_.ChannelBusy(false);
}

void Keyer::EndTransmission() {
  const int32_t tail = settings_().tailMs;
  if (state_ == State::Keyed && tail > 0) {
    endMark_ = false;
    phaseLength_ = Ms(tail);
    phaseEnd_ = clock_.Now() + phaseLength_;
    Enter(State::Tail);
    return;
  }
  if (state_ == State::Tail) return;  // already ending
  ForceRts(false);
}

void Keyer::DropHeld() {
  const bool wasBusy = state_ == State::Busy || state_ == State::Backoff;
  ClearHeld();
  if (state_ == State::Lead || state_ == State::Cts)
    Enter(State::Keyed);
  else if (PreKeying())
    Enter(State::Idle);
  else
    Rearm();
  if (wasBusy) out_.ChannelBusy(false);
}

void Keyer::SetRts(bool on) {
  // RTS set here: the device's change at a tail's end is not wanted any more.
  if (std::exchange(deviceTail_, false)) (void)out_.CancelRtsAfterDrain();
  out_.SetRtsLevel(on != settings_().rtsInvert);
  const bool changed = raised_ != on;
  raised_ = on;
  out_.KeyingChanged(on, changed);
}

void Keyer::Enter(State state) {
  state_ = state;
  Rearm();
}

void Keyer::Rearm() {
  std::optional<platform::Clock::TimePoint> next;
  if (HasPhase(state_)) next = phaseEnd_;
  if (raised_ && timeoutAt_ && (!next || *timeoutAt_ < *next)) next = timeoutAt_;
  if (next == armed_) return;
  armed_ = next;
  if (next)
    out_.ArmTimer(*next);
  else
    out_.DisarmTimer();
}

}  // namespace velmora::console
