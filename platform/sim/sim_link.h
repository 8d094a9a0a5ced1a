#pragma once
// Simulated serial lines: in-process UARTs wired together, paced by the configured line rate.
//
// A `SimLink` owns one or more UART models and the wiring between them; the concrete links
// (loopback plug, null-modem pair, radio link) say where transmitted bytes go and what each
// UART sees on its input lines. A UART that an operator or a test can open is exposed as a
// `NamedDevice`; opening it gives a full `CommDevice` (the shared driver semantics over a
// driver of this link), so simulated devices run the same code as real ones.
//
// Pacing: a character occupies (1 start + data bits + parity bit + stop bits) / baud on the
// line, 1.5 stop bits counted as 1.5. Deadlines are absolute; every character due by "now" is
// released at once, so late wake-ups never slow the line down. The clock is injectable: with a
// ManualClock nothing moves until the test advances it.
//
// Tests steer a link through its control members (inject received conditions, read what was
// on the wire, every DTR/RTS/break change with its time). All members are thread-safe.

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/device_directory.h"
#include "platform/line_driver.h"

namespace velmora::platform::sim {

struct WireByte {
  Clock::TimePoint at;  // when the character's last bit left the line
  uint8_t byte;
};

struct LineChange {
  enum Line : uint8_t { Dtr, Rts, Break };
  Clock::TimePoint at;
  Line line;
  bool on;
};

// Size of a simulated driver's own receive and transmit buffers.
inline constexpr size_t kSimBufferSize = 4096;
// The simulated UART's transmit FIFO, as a 16550's: bytes in it (and in the shift register)
// have been taken by the line.
inline constexpr size_t kSimFifoDepth = 16;

class SimLink : public std::enable_shared_from_this<SimLink> {
 public:
  explicit SimLink(std::shared_ptr<Clock> clock, size_t uartCount);
  virtual ~SimLink();
  SimLink(const SimLink&) = delete;
  SimLink& operator=(const SimLink&) = delete;

  Clock& TimeSource() const { return *clock_; }
  // Character time for the settings a UART was last given.
  Clock::Duration CharacterTime(size_t uart) const;

  // What UART `uart` sent, in order, and every change of its output lines.
  std::string Sent(size_t uart = 0) const;
  std::vector<WireByte> SentLog(size_t uart = 0) const;
  std::vector<LineChange> LineLog(size_t uart = 0) const;
  bool Dtr(size_t uart = 0) const;
  bool Rts(size_t uart = 0) const;
  std::optional<Dcb> LineSettings(size_t uart = 0) const;  // as last applied
  bool IsOpen(size_t uart = 0) const;

  // Moves the line to the clock's present at once, in the caller's thread (the devices' own
  // threads would do it shortly): lets a test on a manual clock look at the line right away.
  void CatchUp();

  // Conditions arriving at UART `uart` now, as if from the line.
  void InjectReceived(const std::string& bytes, size_t uart = 0);
  void InjectFrameError(uint8_t byte, size_t uart = 0);
  void InjectParityError(uint8_t byte, size_t uart = 0);
  void InjectOverrun(size_t uart = 0);
  void InjectBreak(size_t uart = 0);
  // How UART `uart`'s driver answers the request for low latency at its next open (none is
  // offered unless set), and whether it holds low latency on now: from an open it granted
  // until that device closes.
  void SetLowLatencyAnswer(LowLatencyAnswer answer, size_t uart = 0);
  bool LowLatencyOn(size_t uart = 0) const;

 protected:
  struct RxItem {
    uint8_t byte = 0;
    bool hasByte = true;
    RxMark::Kind mark = RxMark::Frame;
    bool hasMark = false;
  };

  struct Uart {
    bool open = false;
    Event* wake = nullptr;
    bool rxArmed = true;  // the driver asked for input and got none: the next arrival wakes it
    std::optional<Dcb> dcb;
    bool dtr = false, rts = false, brk = false;
    std::deque<RxItem> rx;
    bool rxLost = false;  // bytes dropped because `rx` was full: reported before the next item
    std::deque<uint8_t> tx;  // the transmit FIFO (the first `inFifo` bytes), then the driver's buffer
    size_t inFifo = 0;
    std::optional<uint8_t> shifting;
    Clock::TimePoint shiftEnd{};
    bool xoffReceived = false;
    std::vector<WireByte> sentLog;
    std::vector<LineChange> lineLog;
    uint32_t status = 0;   // input lines as last seen
    uint32_t changed = 0;  // input lines that changed since the driver last looked
    LowLatencyAnswer lowLatencyOffer = LowLatencyAnswer::NotOffered;
    bool lowLatencyOn = false;
  };

  // Where a character that UART `from` finished sending at `at` goes.
  virtual void Route(size_t from, uint8_t byte, Clock::TimePoint at) = 0;
  // The MS_* lines UART `uart` sees at `now`.
  virtual uint32_t InputLines(size_t uart, Clock::TimePoint now) const = 0;
  // Output lines of `uart` changed (already recorded).
  virtual void OnOutputLinesChanged(size_t /*uart*/, Clock::TimePoint /*now*/) {}
  // Time-driven work of the link itself (other than UART transmitters), and when it is due.
  virtual void AdvanceLink(Clock::TimePoint /*now*/) {}
  virtual std::optional<Clock::TimePoint> NextLinkDeadline() const { return std::nullopt; }

  // For the concrete links, with mutex_ held.
  void DeliverLocked(size_t to, RxItem item);
  void QueueTransmitLocked(size_t uart, const uint8_t* data, size_t count, Clock::TimePoint now);
  void RefreshInputLinesLocked(Clock::TimePoint now);
  Uart& U(size_t i) { return uarts_[i]; }
  const Uart& U(size_t i) const { return uarts_[i]; }
  Clock::Duration CharacterTimeLocked(size_t uart) const;

  mutable std::mutex mutex_;

 private:
  friend class SimDriver;
  friend class SimEndpoint;

  void AdvanceLocked(Clock::TimePoint now);
  void StartNextCharacterLocked(size_t uart, Clock::TimePoint at);
  // Sends what the transmitter holds (shift register and FIFO) unless the line holds it.
  void DrainTransmitterLocked(size_t uart);
  bool TransmitterHeldLocked(size_t uart, Clock::TimePoint at) const;
  std::optional<Clock::TimePoint> NextDeadlineLocked() const;

  std::shared_ptr<Clock> clock_;
  std::vector<Uart> uarts_;
  // The UART whose own I/O thread is moving the line now: it takes input and looks at the lines
  // right after, so what this brings it needs no wake-up (one more pass of that thread).
  std::optional<size_t> servicing_;
};

// One openable UART of a link.
class SimEndpoint final : public NamedDevice {
 public:
  SimEndpoint(std::shared_ptr<SimLink> link, size_t uart) : link_(std::move(link)), uart_(uart) {}
  OpenResult Open() override;

 private:
  std::shared_ptr<SimLink> link_;
  size_t uart_;
};

}  // namespace velmora::platform::sim
