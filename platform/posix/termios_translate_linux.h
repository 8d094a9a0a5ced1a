#pragma once
// Line parameters as the Linux tty layer holds them, and the translation of a device-control
// block into them.
//
// `TtyTermios` mirrors the kernel's termios2 record (flag words with the kernel's bit values,
// the control characters, both rates) without the kernel header, which clashes with glibc's
// <termios.h>. `TranslateDcb`, `RawTermios` and `CheckReadback` are pure functions.
// `ReadTermios` / `WriteTermios` are the only calls that issue TCGETS2 / TCSETS2; they never go
// through glibc's tcsetattr, whose result on Debian depends on what it read back before.
//
// Errors are the system's numbers: EINVAL for a block no Win32 driver would take either (stop
// bits that do not fit the byte size, a byte size outside 5..8, an unknown parity, rate 0).

#include <array>
#include <cstdint>

#include "platform/comm_types.h"

namespace velmora::platform::posix {

struct TtyTermios {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
  uint8_t line = 0;
  std::array<uint8_t, 19> cc{};
  uint32_t ispeed = 0;
  uint32_t ospeed = 0;

  bool operator==(const TtyTermios&) const = default;
};

// A real line marks parity, framing and break in band (INPCK|PARMRK). A pseudo-terminal has no
// line errors to mark, and the marking would take the kernel off its fast path for raw input.
enum class LineKind : uint8_t { Serial, PseudoTerminal };

struct TranslateResult {
  int error = 0;  // 0, or EINVAL
  TtyTermios termios;
};

// The raw line the block describes: every rate through BOTHER, CS5..CS8, the five parities,
// stop bits, CTS output flow (CRTSCTS), XON/XOFF output flow (IXON) with its characters, IXOFF
// as a backstop for input flow, line errors in band (INPCK|PARMRK, on a serial line), hang-up on
// close (HUPCL), no processing of any kind.
TranslateResult TranslateDcb(const Dcb& dcb, LineKind kind = LineKind::Serial);

// The raw line at `rate` (9600 when 0), 8 data bits, no parity, one stop bit, no flow control.
TtyTermios RawTermios(uint32_t rate, LineKind kind = LineKind::Serial);

// Whether the line delivers its errors in band, so that its input must be decoded.
bool MarksLineErrors(const TtyTermios& termios);

// 0 when the device kept what was asked (hang-up on close included), else EINVAL. A pseudo-terminal forces 8 data bits and
// no parity, so those two fields are not compared there. The rate may differ by the tolerance of
// an asynchronous line (3 %), since some drivers report the rate they could make.
int CheckReadback(const TtyTermios& wanted, const TtyTermios& got, bool pseudoTerminal);

// Whether a UART that divides `baseRate` by a whole number (the divisor latch of an 8250 or
// 16550) makes `rate` within that same tolerance. Its driver reports the rate that was asked for,
// not the rate the divisor gives, so the readback alone cannot tell.
bool DivisorReachesRate(uint32_t baseRate, uint32_t rate);

// Bits per character on the line (start, data, parity, stop; 1.5 stop bits count 1.5), times 2.
uint32_t HalfBitsPerCharacter(const TtyTermios& termios);

// TCGETS2 / TCSETS2 on `fd`; 0 or errno.
int ReadTermios(int fd, TtyTermios& out);
int WriteTermios(int fd, const TtyTermios& termios);

}  // namespace velmora::platform::posix
