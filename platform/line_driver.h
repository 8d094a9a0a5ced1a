#pragma once
// What a backend must provide under the shared device semantics: a plain UART.
//
// `CommCore` (comm_core.h) gives every backend the operating system's serial-driver behaviour
// once: the input queue and its count, edge-triggered events, the error word, NUL discarding,
// error-character replacement, the event character, XonLim/XoffLim, DTR/RTS control modes,
// read and write timeouts, purge. A `LineDriver` only moves bytes, reports in-band line
// errors and modem lines, and applies line parameters.
//
// Threads: `CommCore` serialises every call under its own lock, from its I/O thread or from
// callers' threads. Only the driver's helper threads (if any) run concurrently; they talk to
// the core solely by setting the wake event given to `Start`.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/comm_types.h"

namespace velmora::platform {

class Event;

// A line condition in band with the received bytes of one Read.
struct RxMark {
  enum Kind : uint8_t {
    Frame,    // the byte at `position` arrived with a framing error
    Parity,   // the byte at `position` arrived with a parity error
    Break,    // a break condition before the byte at `position`
    Overrun,  // characters were lost in the hardware before the byte at `position`
    RxOver,   // characters were lost in a driver buffer before the byte at `position`
  };
  uint32_t position = 0;  // may equal the Read's count: the condition follows the last byte
  Kind kind = Frame;
};

struct ReadResult {
  size_t count = 0;   // 0: nothing now; the driver sets the wake event when more arrives
  bool lost = false;  // the device is gone; `error` holds the system's number
  int error = 0;
  // The driver held nothing more when this read took its bytes: what arrives later sets the
  // wake event (or makes the descriptor readable), so there is no need to read again now.
  bool drained = false;
};

struct WriteResult {
  size_t accepted = 0;
  bool lost = false;
  int error = 0;
};

// Modem lines (MS_* bits) now, and which of them changed since the last call, so that a pulse
// shorter than the time between two calls is still seen.
struct ModemChange {
  uint32_t status = 0;
  uint32_t changed = 0;
};

class LineDriver {
 public:
  virtual ~LineDriver() = default;

  virtual Clock& TimeSource() = 0;
  // Before any other call. The driver sets `wake` when input arrives after a Read returned
  // nothing, or a modem line changes, or its time-driven work is due on a manual clock. Fails
  // with the system's number when a helper thread or other resource cannot be had; the driver
  // is then stopped.
  virtual Status Start(Event& wake) = 0;
  // Ends helper threads; afterwards the driver no longer touches `wake`.
  virtual void Stop() = 0;
  // Descriptor to poll: readable for input, writable for output room; -1 when none.
  virtual int PollDescriptor() const = 0;

  // The least input queue this line keeps, whatever SetupComm recommends (the recommended
  // size is a floor, as the operating system's drivers treat it). 0: exactly the size asked.
  virtual size_t MinimumInputQueue() const { return 0; }

  // Line parameters of the block: rate, byte size, parity, stop bits, CTS output flow, XON/XOFF
  // output flow with its characters. Fails with the system's number when the device refuses.
  virtual Status Apply(const Dcb& dcb) = 0;

  // Non-blocking; marks are appended in position order.
  virtual ReadResult Read(uint8_t* buffer, size_t capacity, std::vector<RxMark>& marks) = 0;
  virtual WriteResult Write(const uint8_t* data, size_t count) = 0;
  // Bytes accepted but not yet taken by the transmitter (its FIFO and shift register are the
  // line's), where known; a driver that cannot tell says 0.
  virtual uint32_t OutQueue() = 0;
  // How long one character takes on the line with the settings last applied.
  virtual Clock::Duration CharacterTime() = 0;
  // True once every accepted byte has left the line. When false, NextDeadline tells when to ask
  // again (or the wake event is set).
  virtual bool TransmitterEmpty() = 0;
  virtual std::optional<Clock::TimePoint> NextDeadline() = 0;
  // Time-driven work (pacing of a simulated line); run by the I/O thread on every pass.
  virtual void Service() = 0;

  virtual ModemChange TakeModemChange() = 0;
  // Whether anyone waits for modem-line changes now. A driver that can only find changes by
  // looking at the lines now and then looks only while they are wanted; it returns true when
  // its NextDeadline changed with this, so the I/O thread must look again.
  virtual bool SetModemLinesWanted(bool /*wanted*/) { return false; }
  virtual Status SetDtr(bool on) = 0;
  virtual Status SetRts(bool on) = 0;
  virtual Status SetBreak(bool on) = 0;
  // Sends one byte ahead of queued output (XON/XOFF of input flow control).
  virtual Status SendImmediate(uint8_t byte) = 0;
  virtual void Flush(bool input, bool output) = 0;
  // How the driver answered the request for low latency at the open.
  virtual LowLatencyAnswer LowLatency() const { return LowLatencyAnswer::NotOffered; }
};

}  // namespace velmora::platform
