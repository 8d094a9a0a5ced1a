#include "platform/posix/tty_line_driver_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "platform/event.h"
#include "platform/posix/device_holders.h"
#include "platform/posix/signal_stopped_thread_linux.h"

namespace velmora::platform::posix {

namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr milliseconds kModemCheckInterval{10};

// Unix98 pseudo-terminal slaves live on majors 136..143.
bool IsPseudoTerminalDevice(const struct stat& st) {
  const unsigned maj = major(st.st_rdev);
  return S_ISCHR(st.st_mode) && maj >= 136 && maj <= 143;
}

std::string UserName() {
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found) return pw.pw_name;
  return "uid " + std::to_string(::geteuid());
}

bool UserIsInGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  n = ::getgroups(n, groups.data());
  return n > 0 && std::find(groups.begin(), groups.begin() + n, gid) != groups.begin() + n;
}

std::string PermissionDetail(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "нет прав на открытие " + path;
  std::vector<char> buf(16384);
  group gr{};
  group* found = nullptr;
  std::string groupName = std::to_string(st.st_gid);
  if (::getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) == 0 && found) groupName = gr.gr_name;
  char mode[8];
  std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
  if (!UserIsInGroup(st.st_gid)) {
    return "нет прав на открытие " + path + ": устройство принадлежит группе '" + groupName +
           "', а пользователь " + UserName() +
           " в неё не входит; добавьте пользователя в эту группу (usermod -aG " + groupName + " " +
           UserName() + ") и войдите в систему заново";
  }
  return "нет прав на открытие " + path + ": пользователь входит в группу устройства '" + groupName +
         "', но права устройства " + mode + " не дают группе читать и писать";
}

std::string OpenFailureDetail(const std::string& path, int error) {
  switch (error) {
    case ENOENT: return "нет устройства " + path;
    case EACCES:
    case EPERM: return PermissionDetail(path);
    case EBUSY:
    case EWOULDBLOCK:
      return "устройство " + path + " занято: его открыла другая программа или другой порт этой программы";
    case ENOTTY: return path + " — не последовательное устройство";
    case EIO:
    case ENXIO:
    case ENODEV:
      return "по адресу " + path + " не отвечает последовательный порт (он отключён, или за портом нет микросхемы)";
    default: return path + ": " + SystemErrorText(error);
  }
}

int DropDtrAndRts(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  return ::ioctl(fd, TIOCMBIC, &lines) == 0 ? 0 : errno;
}

uint32_t TiocmToModemStatus(int tiocm) {
  uint32_t ms = 0;
  if (tiocm & TIOCM_CTS) ms |= MS_CTS_ON;
  if (tiocm & TIOCM_DSR) ms |= MS_DSR_ON;
  if (tiocm & TIOCM_RNG) ms |= MS_RING_ON;
  if (tiocm & TIOCM_CD) ms |= MS_RLSD_ON;
  return ms;
}

}  // namespace

TtyLineDriver::Opened TtyLineDriver::Open(const std::string& path) {
  auto fail = [&path](int fd, int error) {
    if (fd >= 0) ::close(fd);
    return Opened{nullptr, error, OpenFailureDetail(path, error)};
  };

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(-1, errno);
  // Before any lock or line ioctl: the node opened is a character device and a terminal.
  struct stat opened {};
  if (::fstat(fd, &opened) != 0) return fail(fd, errno);
  if (!S_ISCHR(opened.st_mode) || !::isatty(fd)) return fail(fd, ENOTTY);
  // The lock first (a few microseconds): when someone else holds the device, a refused open must
  // not touch their lines. TIOCEXCL alone is not enough: root ignores it, and a second TIOCEXCL
  // in the same process succeeds.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(fd, errno);
  // Opening the tty has just raised DTR and RTS. On a half-duplex radio modem RTS keys the
  // transmitter, so drop both before anything else; the line state set later decides from here.
  // A device without modem lines (a pseudo-terminal) refuses with ENOTTY: nothing to drop.
  DropDtrAndRts(fd);
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY && errno != EINVAL) return fail(fd, errno);

  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(fd, errno);
  const LineKind kind = IsPseudoTerminalDevice(st) ? LineKind::PseudoTerminal : LineKind::Serial;
  TtyTermios before;
  if (int e = ReadTermios(fd, before); e != 0) return fail(fd, e);
  if (int e = WriteTermios(fd, RawTermios(before.ospeed, kind)); e != 0) return fail(fd, e);
  // Leaving B0 raises DTR (and RTS) again in the kernel.
  if (before.ospeed == 0) DropDtrAndRts(fd);
  // Stale input goes; output does not: what the last session reported sent must still reach
  // the line, also when the port is opened again right after it closed.
  ::ioctl(fd, TCFLSH, TCIFLUSH);

  std::unique_ptr<TtyLineDriver> d(new TtyLineDriver(fd));
  d->pseudoTerminal_ = kind == LineKind::PseudoTerminal;
  int tiocm = 0;
  d->hasModemLines_ = !d->pseudoTerminal_ && ::ioctl(fd, TIOCMGET, &tiocm) == 0;
  serial_icounter_struct icount{};
  d->hasCounters_ = ::ioctl(fd, TIOCGICOUNT, &icount) == 0;
  unsigned int lsr = 0;
  d->hasLineStatus_ = ::ioctl(fd, TIOCSERGETLSR, &lsr) == 0;
  d->lineStatusSeenEmpty_ = d->hasLineStatus_ && (lsr & TIOCSER_TEMT) != 0;
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    if (serial.xmit_fifo_size > 0) d->fifoDepth_ = static_cast<uint32_t>(serial.xmit_fifo_size);
    // The classic UARTs divide their base rate by a whole number; the driver accepts any rate up
    // to the base and reports it back as asked, so a rate far from every divisor goes unnoticed
    // (31250 on a 16550 runs at 28800). Other chips (USB adapters, fractional dividers, the
    // "magic multiplier" ones) make their rates otherwise and are left to the readback.
    const bool wholeDivisor = serial.type >= PORT_8250 && serial.type <= PORT_16550A &&
                              !(static_cast<unsigned>(serial.flags) & ASYNC_MAGIC_MULTIPLIER);
    if (wholeDivisor && serial.baud_base > 0) d->divisorBase_ = static_cast<uint32_t>(serial.baud_base);
  }
  if (!d->pseudoTerminal_) d->AskForLowLatency();
  ReadTermios(fd, d->applied_);
  d->ReadCounters(d->rxCounters_);
  return {std::move(d), 0, {}};
}

void TtyLineDriver::AskForLowLatency() {
  serial_struct serial{};
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  if (static_cast<unsigned>(serial.flags) & ASYNC_LOW_LATENCY) {
    lowLatency_ = LowLatencyAnswer::AlreadyOn;
    return;
  }
  // The flag is one an unprivileged owner of the device may set; a driver may still refuse it.
  serial.flags = static_cast<int>(static_cast<unsigned>(serial.flags) | ASYNC_LOW_LATENCY);
  lowLatency_ = ::ioctl(fd_, TIOCSSERIAL, &serial) == 0 ? LowLatencyAnswer::Granted : LowLatencyAnswer::Refused;
}

void TtyLineDriver::RestoreLatency() {
  if (lowLatency_ != LowLatencyAnswer::Granted || lost_) return;
  serial_struct serial{};
  if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return;
  serial.flags = static_cast<int>(static_cast<unsigned>(serial.flags) & ~static_cast<unsigned>(ASYNC_LOW_LATENCY));
  ::ioctl(fd_, TIOCSSERIAL, &serial);
}

TtyLineDriver::TtyLineDriver(int fd) : fd_(fd), clock_(Clock::Steady()) {}

TtyLineDriver::~TtyLineDriver() {
  Stop();
  WaitBrieflyAndDropStalledOutput();
  RestoreLatency();
  ::ioctl(fd_, TIOCNXCL);
  // The lock file goes first: a pseudo-terminal's number passes to the next program that asks
  // the moment it closes, and that program must not find our lock on it.
  uucpLock_.reset();
  ::close(fd_);  // also releases the flock
}

Clock& TtyLineDriver::TimeSource() { return *clock_; }

Status TtyLineDriver::Start(Event& wake) {
  wake_ = &wake;
  if (!hasModemLines_) return Status::Ok();
  LookAtModemLines(lastModemLook_);
  polledModemLook_ = lastModemLook_;
  int error = 0;
  modemThread_ = SignalStoppedThread::Start(
      [this](const std::atomic<bool>& stopRequested) { WatchModemLines(stopRequested); }, &error);
  // Short of threads the open fails with the system's number rather than limp along.
  if (!modemThread_) {
    wake_ = nullptr;
    return Status::Failed(error != 0 ? error : EAGAIN);
  }
  return Status::Ok();
}

void TtyLineDriver::Stop() {
  if (modemThread_) modemThread_->StopAndJoin();
  modemThread_.reset();
  wake_ = nullptr;
}

void TtyLineDriver::WatchModemLines(const std::atomic<bool>& stopRequested) {
  // Runs on the helper thread: touches only fd_, wake_ (set before the thread started) and the
  // atomic flag.
  constexpr unsigned long kLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG;
  while (!stopRequested.load()) {
    // The kernel takes the mask by value, not through a pointer.
    if (::ioctl(fd_, TIOCMIWAIT, kLines) == 0) {
      wake_->Set();
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == ENOTTY || errno == EINVAL) {
      // No TIOCMIWAIT here: the I/O thread checks the lines on a short deadline instead.
      modemWaitMissing_.store(true);
      wake_->Set();
    }
    // Anything else (EIO: the device went away) ends the watch; the I/O thread sees the loss.
    return;
  }
}

Status TtyLineDriver::Apply(const Dcb& dcb) {
  TranslateResult wanted = TranslateDcb(dcb, pseudoTerminal_ ? LineKind::PseudoTerminal : LineKind::Serial);
  if (wanted.error != 0) return Status::Failed(wanted.error);
  // Refused before the line is touched: it keeps running as it was.
  if (divisorBase_ != 0 && !DivisorReachesRate(divisorBase_, wanted.termios.ospeed)) return Status::Failed(EINVAL);
  if (int e = WriteTermios(fd_, wanted.termios); e != 0) return Status::Failed(e);
  TtyTermios got;
  if (int e = ReadTermios(fd_, got); e != 0) return Status::Failed(e);
  if (int e = CheckReadback(wanted.termios, got, pseudoTerminal_); e != 0) {
    WriteTermios(fd_, applied_);  // leave the line as it was before the refused block
    return Status::Failed(e);
  }
  applied_ = wanted.termios;
  applied_.ospeed = got.ospeed;
  return Status::Ok();
}

ReadResult TtyLineDriver::Read(uint8_t* buffer, size_t capacity, std::vector<RxMark>& marks) {
  if (lost_) return {0, true, lostError_};
  if (capacity == 0) return {};
  ssize_t n;
  do {
    n = ::read(fd_, buffer, capacity);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN) return {};
    MarkLost(errno);
    return {0, true, lostError_};
  }
  if (n == 0) {  // end of file: the far end hung up
    MarkLost(EIO);
    return {0, true, lostError_};
  }

  // A short read emptied the kernel's buffer; poll tells when more comes.
  const bool drained = static_cast<size_t>(n) < capacity;
  if (!MarksLineErrors(applied_)) return {static_cast<size_t>(n), false, 0, drained};
  const size_t firstMark = marks.size();
  size_t count = decoder_.Decode(buffer, static_cast<size_t>(n), marks);
  std::optional<LineErrorCounts> grown;
  Counters now;
  if (hasCounters_ && ReadCounters(now)) {
    grown = LineErrorCounts{now.frame - rxCounters_.frame, now.parity - rxCounters_.parity, now.brk - rxCounters_.brk,
                            now.overrun - rxCounters_.overrun, now.bufOverrun - rxCounters_.bufOverrun};
    rxCounters_ = now;
  }
  count = decoder_.LabelMarks(buffer, count, marks, firstMark, grown);
  return {count, false, 0, drained};
}

WriteResult TtyLineDriver::Write(const uint8_t* data, size_t count) {
  if (lost_) return {0, true, lostError_};
  if (count == 0) return {};
  ssize_t n;
  do {
    n = ::write(fd_, data, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    if (errno == EAGAIN) return {};
    MarkLost(errno);
    return {0, true, lostError_};
  }
  txCheck_.BytesAccepted();
  return {static_cast<size_t>(n), false, 0};
}

uint32_t TtyLineDriver::OutQueue() {
  // A pseudo-terminal always says 0, which is also what it means: the kernel took the bytes. It
  // is not asked: every received event's queue query would pay a system call for that 0.
  if (pseudoTerminal_) return 0;
  int queued = 0;
  if (lost_ || ::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<uint32_t>(queued);
}

Clock::Duration TtyLineDriver::CharacterTime() {
  const uint64_t rate = applied_.ospeed ? applied_.ospeed : 9600;
  return nanoseconds(uint64_t{HalfBitsPerCharacter(applied_)} * 1'000'000'000ull / (2 * rate));
}

bool TtyLineDriver::TransmitterEmpty() {
  if (pseudoTerminal_ || lost_) {
    txCheck_.Cancel();
    return true;
  }
  int queued = 0;
  if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
  std::optional<bool> transmitterEmptyBit;
  unsigned int lsr = 0;
  if (hasLineStatus_ && ::ioctl(fd_, TIOCSERGETLSR, &lsr) == 0) {
    const bool empty = (lsr & TIOCSER_TEMT) != 0;
    lineStatusSeenEmpty_ = lineStatusSeenEmpty_ || empty;
    // A driver may answer the call with a bit that never sets: the FTDI driver passes on what the
    // adapter's status packets say, and an adapter that leaves the bit out reads "not empty" for
    // good. Until the bit has been seen set, the queue and the FIFO's drain time decide.
    if (lineStatusSeenEmpty_) transmitterEmptyBit = empty;
  }
  return txCheck_.Check(clock_->Now(), CharacterTime(), fifoDepth_, static_cast<uint32_t>(queued),
                        transmitterEmptyBit);
}

std::optional<Clock::TimePoint> TtyLineDriver::NextDeadline() {
  std::optional<Clock::TimePoint> due = txCheck_.RecheckAt();
  // Without a modem-line wait the lines are looked at, but only while someone wants them.
  if (modemWaitMissing_.load() && modemLinesWanted_ && hasModemLines_ && !lost_ && wake_) {
    if (!modemCheckDue_) modemCheckDue_ = clock_->Now() + kModemCheckInterval;
    if (!due || *modemCheckDue_ < *due) due = modemCheckDue_;
  }
  return due;
}

void TtyLineDriver::Service() {
  if (!modemWaitMissing_.load() || !modemLinesWanted_ || !hasModemLines_ || lost_ || !wake_) {
    modemCheckDue_.reset();
    return;
  }
  const Clock::TimePoint now = clock_->Now();
  if (modemCheckDue_ && now < *modemCheckDue_) return;
  modemCheckDue_ = now + kModemCheckInterval;
  ModemLook look;
  if (!LookAtModemLines(look)) return;
  if (ChangedModemLines(polledModemLook_, look) != 0) wake_->Set();
  polledModemLook_ = look;
}

ModemChange TtyLineDriver::TakeModemChange() {
  if (!hasModemLines_) return {};  // a pseudo-terminal: the input lines are off
  ModemLook look;
  if (lost_ || !LookAtModemLines(look)) return {lastModemLook_.status, 0};
  const uint32_t changed = ChangedModemLines(lastModemLook_, look);
  lastModemLook_ = look;
  return {look.status, changed};
}

Status TtyLineDriver::SetModemLine(int tiocmBit, bool on) {
  if (hasModemLines_) {
    if (lost_) return Status::Failed(lostError_);
    int bits = tiocmBit;
    if (::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) != 0) return Status::Failed(errno);
  }
  (tiocmBit == TIOCM_DTR ? dtrShadow_ : rtsShadow_) = on;
  return Status::Ok();
}

Status TtyLineDriver::SetDtr(bool on) { return SetModemLine(TIOCM_DTR, on); }
Status TtyLineDriver::SetRts(bool on) { return SetModemLine(TIOCM_RTS, on); }

Status TtyLineDriver::SetBreak(bool on) {
  if (lost_) return Status::Failed(lostError_);
  if (::ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) != 0) return Status::Failed(errno);
  return Status::Ok();
}

Status TtyLineDriver::SendImmediate(uint8_t byte) {
  if (lost_) return Status::Failed(lostError_);
  // The flow characters go through the kernel's x_char slot, ahead of what it still queues.
  if (byte != 0 && (byte == applied_.cc[VSTOP] || byte == applied_.cc[VSTART])) {
    if (::ioctl(fd_, TCXONC, byte == applied_.cc[VSTOP] ? TCIOFF : TCION) == 0) return Status::Ok();
  }
  ssize_t n;
  do {
    n = ::write(fd_, &byte, 1);
  } while (n < 0 && errno == EINTR);
  if (n == 1) return Status::Ok();
  return Status::Failed(n < 0 ? errno : EAGAIN);
}

void TtyLineDriver::Flush(bool input, bool output) {
  if (!input && !output) return;
  const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  ::ioctl(fd_, TCFLSH, which);
  if (input) {
    decoder_.Reset();
    ReadCounters(rxCounters_);
  }
  if (output) txCheck_.Cancel();
}

bool TtyLineDriver::ReadCounters(Counters& out) const {
  if (!hasCounters_) return false;
  serial_icounter_struct ic{};
  if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0) return false;
  auto u = [](int v) { return static_cast<uint32_t>(v); };
  out = {u(ic.cts), u(ic.dsr), u(ic.rng), u(ic.dcd), u(ic.frame), u(ic.parity), u(ic.brk), u(ic.overrun),
         u(ic.buf_overrun)};
  return true;
}

bool TtyLineDriver::ReadModemStatus(uint32_t& msBits) const {
  int tiocm = 0;
  if (::ioctl(fd_, TIOCMGET, &tiocm) != 0) return false;
  msBits = TiocmToModemStatus(tiocm);
  return true;
}

bool TtyLineDriver::LookAtModemLines(ModemLook& out) const {
  if (!ReadModemStatus(out.status)) return false;
  Counters c;
  out.counted = ReadCounters(c);
  if (out.counted) {
    out.cts = c.cts;
    out.dsr = c.dsr;
    out.rng = c.rng;
    out.dcd = c.dcd;
  }
  return true;
}

void TtyLineDriver::MarkLost(int error) {
  lost_ = true;
  lostError_ = error;
  txCheck_.Cancel();
}

void TtyLineDriver::WaitBrieflyAndDropStalledOutput() {
  // close() waits up to closing_wait (30 s by default) for output to drain; output held back by
  // CTS or XOFF would never drain, so it is dropped. Output still moving is let out. Blocks for
  // at most half a second, and only while the kernel still holds output.
  if (pseudoTerminal_ || lost_) return;
  int before = 0;
  if (::ioctl(fd_, TIOCOUTQ, &before) != 0 || before <= 0) return;
  uint32_t status = 0;
  const bool ctsHeld = (applied_.cflag & CRTSCTS) && ReadModemStatus(status) && !(status & MS_CTS_ON);
  if (!ctsHeld) {
    // USB adapters take output in packets of up to 64 bytes, so the queue shrinks in such steps.
    const auto settle = std::min<Clock::Duration>(CharacterTime() * 64 + milliseconds(10), milliseconds(500));
    ::usleep(static_cast<useconds_t>(std::chrono::duration_cast<std::chrono::microseconds>(settle).count()));
    int after = 0;
    if (::ioctl(fd_, TIOCOUTQ, &after) != 0 || after < before) return;
  }
  ::ioctl(fd_, TCFLSH, TCOFLUSH);
}

}  // namespace velmora::platform::posix
