#pragma once
// The LineDriver of a Linux tty: a UART (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, any path) or a
// pseudo-terminal.
//
// `Open` opens the device exclusively (flock, so that also a second open in this process or by
// root fails, and TIOCEXCL), drops DTR and RTS, and puts the line in raw mode; it does not block.
// Line parameters go in with one TCSETS2 and are read back with TCGETS2. Received bytes are
// read without blocking and decoded from PARMRK; the kernel's line counters name the errors.
//
// Threads: the owning CommCore calls every member under its own lock. Where the device has
// TIOCMIWAIT, one helper thread sleeps in it and sets the wake event when a modem line changes;
// `Stop` ends that thread (with a private signal) before anything is closed. Where TIOCMIWAIT is
// missing but the lines can be read, they are checked every 10 ms (a deadline, not a thread).
//
// A pseudo-terminal has no modem lines, break, line timing, byte size, parity or line errors: the
// driver reports the input lines off, keeps DTR and RTS as a shadow, accepts any byte size and
// parity, lets the kernel pass bytes unmarked (its per-byte PARMRK work would buy nothing), and
// counts output as sent once the kernel took it.
//
// A USB adapter holds received bytes until its latency timer runs out (16 ms on FTDI chips), which
// merges what arrived apart and delays every time taken of it. `Open` asks the driver for low
// latency (ASYNC_LOW_LATENCY, which the FTDI driver turns into a 1 ms timer) and the close puts
// back what the device had; `LowLatency` says how the driver answered.
//
// After the device is lost (hang-up, EIO, end of file) reads and writes fail with EIO and nothing
// is retried.

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/line_driver.h"
#include "platform/posix/modem_lines.h"
#include "platform/posix/parmrk_decoder.h"
#include "platform/posix/termios_translate_linux.h"
#include "platform/posix/transmit_empty_check.h"
#include "platform/posix/uucp_lock.h"

namespace velmora::platform::posix {

class SignalStoppedThread;

class TtyLineDriver final : public LineDriver {
 public:
  struct Opened {
    std::unique_ptr<TtyLineDriver> driver;
    int error = 0;       // the system's number when `driver` is null
    std::string detail;  // what the operator can do about it
  };
  static Opened Open(const std::string& path);

  ~TtyLineDriver() override;  // stops the helper thread, releases exclusivity, closes

  // The device's lock file, removed as the device closes.
  void KeepLockUntilClosed(std::unique_ptr<UucpLock> lock) { uucpLock_ = std::move(lock); }

  bool IsPseudoTerminal() const { return pseudoTerminal_; }

  using LowLatencyAnswer = platform::LowLatencyAnswer;
  LowLatencyAnswer LowLatency() const override { return lowLatency_; }
  bool WatchesModemLinesWithThread() const { return modemThread_ != nullptr; }

  Clock& TimeSource() override;
  Status Start(Event& wake) override;
  void Stop() override;
  int PollDescriptor() const override { return fd_; }
  // A kernel tty delivers megabytes a second; a queue of one kilobyte would cost a round trip
  // through the event machinery per kilobyte.
  size_t MinimumInputQueue() const override { return kMinimumInputQueue; }
  static constexpr size_t kMinimumInputQueue = 64 * 1024;
  Status Apply(const Dcb& dcb) override;
  ReadResult Read(uint8_t* buffer, size_t capacity, std::vector<RxMark>& marks) override;
  WriteResult Write(const uint8_t* data, size_t count) override;
  uint32_t OutQueue() override;
  Clock::Duration CharacterTime() override;
  bool TransmitterEmpty() override;
  std::optional<Clock::TimePoint> NextDeadline() override;
  void Service() override;
  ModemChange TakeModemChange() override;
  bool SetModemLinesWanted(bool wanted) override {
    modemLinesWanted_ = wanted;
    // Only the checks at intervals (no TIOCMIWAIT here) depend on it.
    return hasModemLines_ && !lost_ && modemWaitMissing_.load();
  }
  Status SetDtr(bool on) override;
  Status SetRts(bool on) override;
  Status SetBreak(bool on) override;
  Status SendImmediate(uint8_t byte) override;
  void Flush(bool input, bool output) override;

 private:
  struct Counters {
    uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
    uint32_t frame = 0, parity = 0, brk = 0, overrun = 0, bufOverrun = 0;
  };

  explicit TtyLineDriver(int fd);
  bool ReadCounters(Counters& out) const;
  bool ReadModemStatus(uint32_t& msBits) const;
  bool LookAtModemLines(ModemLook& out) const;
  Status SetModemLine(int tiocmBit, bool on);
  void MarkLost(int error);
  void WatchModemLines(const std::atomic<bool>& stopRequested);
  void WaitBrieflyAndDropStalledOutput();
  void AskForLowLatency();
  void RestoreLatency();

  int fd_;
  std::shared_ptr<Clock> clock_;
  Event* wake_ = nullptr;
  bool pseudoTerminal_ = false;
  bool hasModemLines_ = false;  // TIOCMGET works
  bool hasCounters_ = false;    // TIOCGICOUNT works
  bool hasLineStatus_ = false;  // TIOCSERGETLSR works
  bool lineStatusSeenEmpty_ = false;  // its transmitter-empty bit has been seen set
  uint32_t fifoDepth_ = 16;
  uint32_t divisorBase_ = 0;  // a UART dividing this base rate by a whole number; 0: another kind
  LowLatencyAnswer lowLatency_ = LowLatencyAnswer::NotOffered;
  TtyTermios applied_;

  ParmrkDecoder decoder_;
  Counters rxCounters_;
  bool lost_ = false;
  int lostError_ = 0;

  // Modem lines: the last look handed out, and the shadow of the outputs.
  ModemLook lastModemLook_;
  bool dtrShadow_ = false;
  bool rtsShadow_ = false;
  std::unique_ptr<SignalStoppedThread> modemThread_;
  std::atomic<bool> modemWaitMissing_{false};  // set by the helper thread when TIOCMIWAIT fails
  std::optional<Clock::TimePoint> modemCheckDue_;
  bool modemLinesWanted_ = false;  // set by the core, read on its thread
  ModemLook polledModemLook_;

  TransmitEmptyCheck txCheck_;
  std::unique_ptr<UucpLock> uucpLock_;
};

}  // namespace velmora::platform::posix
