// The one file that sees the kernel's termios2: it includes only the kernel's own termbits and
// ioctl numbers, never glibc's <termios.h> (the two declare `struct termios` differently).
#include "platform/posix/termios_translate_linux.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace velmora::platform::posix {

static_assert(sizeof(termios2) == 44, "termios2 layout of this architecture");
static_assert(NCCS == std::tuple_size_v<decltype(TtyTermios::cc)>);

namespace {

// Line errors come in band, so nothing in the input may be stripped, mapped or dropped.
constexpr uint32_t kInputCleared = IGNPAR | ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL | IMAXBEL |
                                   IUCLC | IXANY | IUTF8;

TtyTermios RawBase(uint32_t rate, LineKind kind) {
  TtyTermios t;
  t.iflag = kind == LineKind::Serial ? INPCK | PARMRK : 0;
  t.oflag = 0;  // no OPOST: bytes go out as they are
  t.lflag = 0;  // no ICANON, ECHO, ISIG, IEXTEN
  // HUPCL: closing drops DTR and RTS, so a radio keyed by RTS is not left transmitting.
  t.cflag = CREAD | CLOCAL | HUPCL | CS8 | BOTHER;
  t.cc[VMIN] = 1;  // poll() reports readable from the first byte
  t.cc[VTIME] = 0;
  t.ispeed = rate;
  t.ospeed = rate;
  return t;
}

// An asynchronous line tolerates a few percent between the two ends' rates.
bool RateClose(uint32_t want, uint32_t have) {
  const uint64_t diff = want > have ? want - have : have - want;
  return diff * 100 <= uint64_t{want} * 3;
}

}  // namespace

TtyTermios RawTermios(uint32_t rate, LineKind kind) { return RawBase(rate == 0 ? 9600 : rate, kind); }

bool MarksLineErrors(const TtyTermios& t) { return (t.iflag & PARMRK) != 0; }

TranslateResult TranslateDcb(const Dcb& dcb, LineKind kind) {
  TranslateResult r;
  // Rate 0 would be B0, which hangs the line up.
  if (dcb.BaudRate == 0) return {EINVAL, {}};
  TtyTermios t = RawBase(dcb.BaudRate, kind);

  t.cflag &= ~CSIZE;
  switch (dcb.ByteSize) {
    case 5: t.cflag |= CS5; break;
    case 6: t.cflag |= CS6; break;
    case 7: t.cflag |= CS7; break;
    case 8: t.cflag |= CS8; break;
    default: return {EINVAL, {}};
  }

  switch (dcb.Parity) {
    case NOPARITY: break;
    case ODDPARITY: t.cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.cflag |= PARENB; break;
    case MARKPARITY: t.cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.cflag |= PARENB | CMSPAR; break;
    default: return {EINVAL, {}};
  }

  // A UART makes 1.5 stop bits from CSTOPB with 5 data bits; like Win32, 1.5 with more data
  // bits and 2 with 5 data bits are refused rather than silently changed.
  switch (dcb.StopBits) {
    case ONESTOPBIT: break;
    case ONE5STOPBITS:
      if (dcb.ByteSize != 5) return {EINVAL, {}};
      t.cflag |= CSTOPB;
      break;
    case TWOSTOPBITS:
      if (dcb.ByteSize == 5) return {EINVAL, {}};
      t.cflag |= CSTOPB;
      break;
    default: return {EINVAL, {}};
  }

  if (dcb.fOutxCtsFlow) t.cflag |= CRTSCTS;

  // The kernel would take equal start and stop characters, and then resume on every stop.
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return {EINVAL, {}};
  t.cc[VSTART] = static_cast<uint8_t>(dcb.XonChar);
  t.cc[VSTOP] = static_cast<uint8_t>(dcb.XoffChar);
  if (dcb.fOutX) t.iflag |= IXON;
  // Input flow is ours (the queue's XonLim/XoffLim); IXOFF only acts if we ever stop reading.
  if (dcb.fInX) t.iflag |= IXOFF;

  t.iflag &= ~kInputCleared;
  r.termios = t;
  return r;
}

int CheckReadback(const TtyTermios& wanted, const TtyTermios& got, bool pseudoTerminal) {
  if (!RateClose(wanted.ospeed, got.ospeed) || !RateClose(wanted.ispeed, got.ispeed)) return EINVAL;

  // Without HUPCL a close (or the program dying) would leave DTR and RTS up: a radio keyed by
  // RTS would go on transmitting.
  uint32_t cflagChecked = CSTOPB | CRTSCTS | PARODD | CMSPAR | CREAD | CLOCAL | HUPCL;
  if (!pseudoTerminal) cflagChecked |= CSIZE | PARENB;
  if ((wanted.cflag & cflagChecked) != (got.cflag & cflagChecked)) return EINVAL;

  constexpr uint32_t iflagChecked = INPCK | PARMRK | IXON | IXOFF | kInputCleared;
  if ((wanted.iflag & iflagChecked) != (got.iflag & iflagChecked)) return EINVAL;
  if ((wanted.oflag & OPOST) != (got.oflag & OPOST)) return EINVAL;
  constexpr uint32_t lflagChecked = ICANON | ECHO | ISIG | IEXTEN;
  if ((wanted.lflag & lflagChecked) != (got.lflag & lflagChecked)) return EINVAL;
  if (wanted.cc[VSTART] != got.cc[VSTART] || wanted.cc[VSTOP] != got.cc[VSTOP]) return EINVAL;
  return 0;
}

bool DivisorReachesRate(uint32_t baseRate, uint32_t rate) {
  if (rate == 0) return false;
  // The driver rounds the divisor to the nearest whole number.
  const uint64_t divisor = (uint64_t{baseRate} + rate / 2) / rate;
  if (divisor == 0) return false;
  return RateClose(rate, static_cast<uint32_t>(baseRate / divisor));
}

uint32_t HalfBitsPerCharacter(const TtyTermios& t) {
  uint32_t data = 5;
  switch (t.cflag & CSIZE) {
    case CS6: data = 6; break;
    case CS7: data = 7; break;
    case CS8: data = 8; break;
    default: break;
  }
  uint32_t stopHalves = 2;
  if (t.cflag & CSTOPB) stopHalves = data == 5 ? 3 : 4;
  uint32_t parity = (t.cflag & PARENB) ? 1 : 0;
  return 2 * (1 + data + parity) + stopHalves;
}

int ReadTermios(int fd, TtyTermios& out) {
  termios2 k{};
  if (::ioctl(fd, TCGETS2, &k) != 0) return errno;
  out.iflag = k.c_iflag;
  out.oflag = k.c_oflag;
  out.cflag = k.c_cflag;
  out.lflag = k.c_lflag;
  out.line = k.c_line;
  std::memcpy(out.cc.data(), k.c_cc, out.cc.size());
  out.ispeed = k.c_ispeed;
  out.ospeed = k.c_ospeed;
  return 0;
}

int WriteTermios(int fd, const TtyTermios& t) {
  termios2 k{};
  k.c_iflag = t.iflag;
  k.c_oflag = t.oflag;
  k.c_cflag = t.cflag;
  k.c_lflag = t.lflag;
  k.c_line = t.line;
  std::memcpy(k.c_cc, t.cc.data(), t.cc.size());
  k.c_ispeed = t.ispeed;
  k.c_ospeed = t.ospeed;
  return ::ioctl(fd, TCSETS2, &k) == 0 ? 0 : errno;
}

}  // namespace velmora::platform::posix
