#pragma once
// Keyer: when the console raises and drops RTS to key a half-duplex radio, and when the bytes
// the operator (or a sender) gives it reach the line. No Qt: the window feeds it the port's
// events and the operator's keys, gives it one clock and one timer, and shows what it reports.
//
// The two keying modes:
//   - RTS/CTS: RTS up per burst, dropped at the burst's transmit-empty;
//   - delay:   RTS up, the first character after the keying delay (none at 10 ms or less),
//              RTS held until the transmit-empty after Enter.
// What the keyer settings add, each off at its zero:
//   lead     RTS/CTS mode: RTS up, the first character after the lead time;
//   tail     RTS stays up this long after the transmit-empty that would drop it;
//   CTS wait RTS/CTS mode: the first character when CTS is on, the burst abandoned if it is
//            not within the wait;
//   busy     while DCD is on no keying; after it drops a random back-off; the burst abandoned
//            if the channel stays busy past the longest wait;
//   time-out RTS never up longer than this: dropped, the waiting bytes abandoned, and an
//            optional lock-out before the next keying;
//   invert   RTS keys the radio at the low level.
//
// States and transitions (event → next state; "key" raises RTS, "unkey" drops it):
//   Idle     bytes: channel busy → Busy; else key → Lead | Cts | Keyed (written)
//   Lockout  bytes: held; timer → as Idle's bytes with the held ones
//   Busy     bytes: held; DCD off → Backoff; timer (longest wait) → abandon, Idle
//   Backoff  bytes: held; DCD on → Busy; timer → key → Lead | Cts | Keyed
//   Lead     bytes: held; timer → Cts | Keyed (held written)
//   Cts      bytes: held; CTS on → Keyed (held written); timer (wait) → abandon, unkey, Idle
//   Keyed    bytes: written; transmit-empty ending the burst → Tail | unkey, Idle
//   Tail     bytes: written, Keyed; timer → unkey, Idle
//   any keyed state, time-out → unkey, abandon, Lockout | Idle
//   any state, device lost → Idle (nothing held); Reset → Idle, RTS down
//
// Where the device can keep the time itself (KeyerOutput::HoldOutput, SetRtsAfterDrain), the
// lead and CTS wait of RTS/CTS mode hold the bytes in the device rather than here, and the tail
// drops RTS there; the states above still run on the keyer's timer and events, a little later
// than the line. Bytes given after the device has ended a tail start a keying of their own.
//
// Used by one thread (the window's).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "platform/clock.h"

namespace velmora::console {

struct KeyerSettings {
  bool rtsCtsMode = false;
  int32_t keyingDelayMs = 0;  // delay mode's wait after keying
  int32_t leadMs = 0;         // RTS/CTS mode's wait after keying
  int32_t tailMs = 0;
  int32_t ctsWaitMs = 0;      // 0: CTS is not waited for
  int32_t busyWaitMs = 0;     // 0: DCD is ignored
  int32_t busyBackoffMs = 0;  // the back-off's upper bound
  int32_t timeoutS = 0;       // 0: no time-out
  int32_t lockoutS = 0;
  bool rtsInvert = false;
};

// Why bytes waiting for the line were given up.
enum class KeyerAbandon : uint8_t { CtsWait, BusyWait, Timeout };

// What the keyer drives: the window's port, timer and panels.
class KeyerOutput {
 public:
  virtual ~KeyerOutput() = default;
  virtual void SetRtsLevel(bool high) = 0;
  // The bytes written, for the counters.
  virtual int Write(const std::string& bytes) = 0;
  // The time-out's end: what the driver still holds must not reach the line.
  virtual void DiscardOutput() = 0;
  // The one timer: expires at `at`, or never after Disarm.
  virtual void ArmTimer(platform::Clock::TimePoint at) = 0;
  virtual void DisarmTimer() = 0;
  // RTS raised or dropped (or set again: `changed` false).
  virtual void KeyingChanged(bool keyed, bool changed) = 0;
  // `dropped` bytes given up (the burst's and those typed after it).
  virtual void Abandoned(KeyerAbandon why, size_t dropped) = 0;
  virtual void ChannelBusy(bool busy) = 0;
  // The carrier as the device has it now, when it can tell: the event that reports a change
  // may still be on its way when a keying is due.
  virtual std::optional<bool> CarrierNow() { return std::nullopt; }
  // CTS as the device has it now, when it can tell.
  virtual std::optional<bool> CtsNow() { return std::nullopt; }
  // Whether written bytes are still on their way, when the device can tell: a transmit-empty
  // read after more was written reports an earlier burst.
  virtual std::optional<bool> TransmittingNow() { return std::nullopt; }

  // Timing the device keeps on its own thread where it can: a window busy painting would keep
  // a radio's milliseconds late. Each returns false where the device cannot, and the keyer then
  // keeps the time with its timer. While the output is held, Write must not wait for the line.
  //   HoldOutput        written bytes wait `lead` and, with `untilCts`, CTS, then go at once;
  //   SetRtsAfterDrain  RTS to `level` `tail` after what is on its way has left, unless more
  //                     is written first; CancelRtsAfterDrain: true if that had not happened.
  virtual bool HoldOutput(std::chrono::milliseconds /*lead*/, bool /*untilCts*/) { return false; }
  virtual void ReleaseOutput() {}
  virtual bool SetRtsAfterDrain(std::chrono::milliseconds /*tail*/, bool /*level*/) { return false; }
  virtual bool CancelRtsAfterDrain() { return false; }
  // The bytes written while the output was held are on their way now.
  virtual void HeldOutputReleased() {}
};

class Keyer {
 public:
  enum class State : uint8_t { Idle, Lockout, Busy, Backoff, Lead, Cts, Keyed, Tail };

  // `settings` is asked at each event: the window's options may change at any time.
  Keyer(platform::Clock& clock, KeyerOutput& out, std::function<KeyerSettings()> settings,
        uint32_t seed = std::random_device{}());

  // Bytes for the line; `end` ends the transmission after them as Enter does (empty bytes with
  // `end`: an Enter that sends nothing).
  void Send(const std::string& bytes, bool end);
  void TransmitEmpty();
  void Cts(bool on);
  void Dcd(bool on);
  // The timer armed through KeyerOutput expired (perhaps a little early).
  void TimerExpired();
  // The device's lines were set anew from the settings (RTS down): a keyed transmission is keyed
  // again, and in delay mode waits out the keying delay again.
  void Reconfigured(bool connected);
  // Nothing held or marked, RTS shown down without setting it: the device has gone, or has just
  // been opened with its lines down.
  void Forget();
  // RTS raised or dropped at once by the window (start, close, a file send's end).
  void ForceRts(bool on);
  // Ends the transmission now: the tail time, then RTS down (RTS down at once without one).
  void EndTransmission();
  // What is held for the line is dropped and its wait stopped; RTS stays as it is.
  void DropHeld();

  State CurrentState() const { return state_; }
  bool RtsRaised() const { return raised_; }
  bool EndMarked() const { return endMark_; }
  bool Waiting() const { return state_ == State::Lead || state_ == State::Cts; }
  // Bytes held for the line (waiting for the delay, CTS, a free channel or the lock-out's end).
  const std::string& Held() const { return held_; }
  std::optional<platform::Clock::TimePoint> Deadline() const { return armed_; }
  // The length of the wait now running, for the window's timer object.
  std::chrono::milliseconds PhaseLength() const { return phaseLength_; }

 private:
  void SetRts(bool on);
  // Keys for the held bytes, or waits for the channel.
  void StartKeying();
  void KeyNow();
  void AfterLead();
  bool EnterCtsWait();
  void Transmit();
  void ClearHeld();
  void ArmDeviceTail();
  // The device ended the keying's tail before the keyer heard of the transmit-empty.
  bool DeviceDroppedRts();
  void Unkey();
  void Abandon(KeyerAbandon why);
  void Enter(State state);
  void Rearm();
  bool PreKeying() const;
  // DCD on, by the device's present state where it gives one.
  bool ChannelBusyNow();

  platform::Clock& clock_;
  KeyerOutput& out_;
  std::function<KeyerSettings()> settings_;
  std::mt19937 random_;

  State state_ = State::Idle;
  bool raised_ = false;
  bool endMark_ = false;
  bool heldEnd_ = false;
  std::string held_;
  bool gated_ = false;       // `held_` is with the device, behind its hold
  bool deviceTail_ = false;  // the device drops RTS at the tail's end
  bool cts_ = false;
  bool dcd_ = false;
  platform::Clock::TimePoint phaseEnd_{};
  std::chrono::milliseconds phaseLength_{};
  std::optional<platform::Clock::TimePoint> timeoutAt_;
  platform::Clock::TimePoint keyedAt_{};
  platform::Clock::TimePoint busySince_{};
  std::optional<platform::Clock::TimePoint> armed_;
};

}  // namespace velmora::console
