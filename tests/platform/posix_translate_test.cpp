// Device-control block to kernel termios2 fields: the pure translation and the readback check.
#include "platform/posix/termios_translate_linux.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/device_io.h"

namespace velmora::platform::posix {
namespace {

using test::Line;

// What every translation must hold whatever the block says: a raw line with errors in band, and
// DTR and RTS dropped when the line is closed (or the program dies), so that a radio keyed by
// RTS stops transmitting.
void ExpectRawLine(const TtyTermios& t) {
  EXPECT_EQ(t.iflag & (INPCK | PARMRK), uint32_t{INPCK | PARMRK});
  EXPECT_EQ(t.cflag & HUPCL, uint32_t{HUPCL});
  EXPECT_EQ(t.iflag & (IGNPAR | ISTRIP | IGNBRK | BRKINT | INLCR | IGNCR | ICRNL | IMAXBEL | IXANY), 0u);
  EXPECT_EQ(t.oflag & OPOST, 0u);
  EXPECT_EQ(t.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.cflag & (CREAD | CLOCAL), uint32_t{CREAD | CLOCAL});
  EXPECT_EQ(t.cc[VMIN], 1);
  EXPECT_EQ(t.cc[VTIME], 0);
}

TEST(TermiosTranslate, EveryRateGoesThroughBotherWithBothSpeeds) {
  const uint32_t rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,  19200,
                            38400, 56000, 57600, 115200, 128000, 256000, 1000, 250000};
  for (uint32_t rate : rates) {
    SCOPED_TRACE(rate);
    TranslateResult r = TranslateDcb(Line(rate));
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.termios.cflag & CBAUD, uint32_t{BOTHER});
    EXPECT_EQ(r.termios.cflag & CIBAUD, 0u);  // input rate follows the output rate
    EXPECT_EQ(r.termios.ispeed, rate);
    EXPECT_EQ(r.termios.ospeed, rate);
    ExpectRawLine(r.termios);
  }
}

TEST(TermiosTranslate, ByteSizeParityAndStopBits) {
  const std::pair<uint8_t, uint32_t> sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
  const std::pair<uint8_t, uint32_t> parities[] = {{NOPARITY, 0},
                                                   {ODDPARITY, PARENB | PARODD},
                                                   {EVENPARITY, PARENB},
                                                   {MARKPARITY, PARENB | CMSPAR | PARODD},
                                                   {SPACEPARITY, PARENB | CMSPAR}};
  constexpr uint32_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  for (auto [bits, csize] : sizes) {
    for (auto [parity, parityBits] : parities) {
      for (uint8_t stop : {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS}) {
        SCOPED_TRACE(testing::Message() << int{bits} << " bits, parity " << int{parity} << ", stop " << int{stop});
        TranslateResult r = TranslateDcb(Line(9600, bits, parity, stop));
        // As on Win32: 1.5 stop bits only with 5 data bits, 2 stop bits never with 5.
        const bool valid = stop == ONESTOPBIT || (stop == ONE5STOPBITS) == (bits == 5);
        if (!valid) {
          EXPECT_EQ(r.error, EINVAL);
          continue;
        }
        ASSERT_EQ(r.error, 0);
        const uint32_t stopBits = stop == ONESTOPBIT ? 0 : CSTOPB;
        EXPECT_EQ(r.termios.cflag & kFrameBits, csize | parityBits | stopBits);
        ExpectRawLine(r.termios);
      }
    }
  }
}

TEST(TermiosTranslate, FlowControlAndItsCharacters) {
  struct Case {
    uint8_t cts, outX, inX;
    uint32_t cflag, iflag;
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0},
      {1, 0, 0, CRTSCTS, 0},
      {0, 1, 0, 0, IXON},
      {0, 0, 1, 0, IXOFF},
      {1, 1, 1, CRTSCTS, IXON | IXOFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "cts " << int{c.cts} << " outX " << int{c.outX} << " inX " << int{c.inX});
    Dcb dcb = Line(19200);
    dcb.fOutxCtsFlow = c.cts;
    dcb.fOutX = c.outX;
    dcb.fInX = c.inX;
    dcb.XonChar = 0x05;
    dcb.XoffChar = 0x06;
    TranslateResult r = TranslateDcb(dcb);
    ASSERT_EQ(r.error, 0);
    EXPECT_EQ(r.termios.cflag & CRTSCTS, c.cflag);
    EXPECT_EQ(r.termios.iflag & (IXON | IXOFF), c.iflag);
    EXPECT_EQ(r.termios.cc[VSTART], 0x05);
    EXPECT_EQ(r.termios.cc[VSTOP], 0x06);
    ExpectRawLine(r.termios);
  }
}

TEST(TermiosTranslate, RefusesBlocksNoDriverTakes) {
  auto withRate = [](uint32_t rate) { return Line(rate); };
  auto withBits = [](uint8_t bits) { return Line(9600, bits); };
  Dcb unknownParity = Line(9600, 8, 5);
  Dcb unknownStop = Line(9600, 8, NOPARITY, 3);
  Dcb sameFlowChars = Line(9600);
  sameFlowChars.fOutX = 1;
  sameFlowChars.XonChar = sameFlowChars.XoffChar = 0x13;
  for (const Dcb& dcb : {withRate(0), withBits(4), withBits(9), unknownParity, unknownStop, sameFlowChars})
    EXPECT_EQ(TranslateDcb(dcb).error, EINVAL);

  Dcb sameCharsWithoutFlow = Line(9600);
  sameCharsWithoutFlow.XonChar = sameCharsWithoutFlow.XoffChar = 0;
  EXPECT_EQ(TranslateDcb(sameCharsWithoutFlow).error, 0);
}

TEST(TermiosTranslate, ReadbackCheck) {
  const TtyTermios wanted = TranslateDcb(Line(9600, 7, EVENPARITY)).termios;
  TtyTermios forcedByPty = wanted;  // what a pseudo-terminal keeps
  forcedByPty.cflag = (forcedByPty.cflag & ~(CSIZE | PARENB)) | CS8;
  EXPECT_EQ(CheckReadback(wanted, forcedByPty, true), 0);
  EXPECT_EQ(CheckReadback(wanted, forcedByPty, false), EINVAL);

  TtyTermios noCts = wanted;
  noCts.cflag |= CRTSCTS;
  EXPECT_EQ(CheckReadback(wanted, noCts, true), EINVAL);

  TtyTermios rounded = wanted;
  rounded.ispeed = rounded.ospeed = 9700;  // within what a UART tolerates
  EXPECT_EQ(CheckReadback(wanted, rounded, false), 0);
  TtyTermios fallenBack = wanted;
  fallenBack.ispeed = fallenBack.ospeed = 38400;  // a driver that could not make the rate
  EXPECT_EQ(CheckReadback(wanted, fallenBack, false), EINVAL);

  TtyTermios otherStop = wanted;
  otherStop.cc[VSTOP] = 0x7F;
  EXPECT_EQ(CheckReadback(wanted, otherStop, false), EINVAL);

  TtyTermios noHangUp = wanted;
  noHangUp.cflag &= ~HUPCL;
  EXPECT_EQ(CheckReadback(wanted, noHangUp, true), EINVAL) << "a line that stays up after close";
}

// A 16550 with its 1.8432 MHz clock divides 115200 by a whole number.
TEST(TermiosTranslate, RatesAWholeNumberDivisorMakes) {
  struct Row {
    uint32_t rate;
    bool reached;
  } rows[] = {
      {115200, true}, {9600, true}, {14400, true}, {1000, true},  // divisor 115: 1001.7
      {56000, true},                                               // divisor 2: 57600, 2.9 % off
      {31250, false},                                              // divisor 4: 28800, 7.8 % off
      {76800, false},                                              // divisor 2 (1.5 rounds up): 57600
      {250000, false},                                             // above the base: no divisor
      {0, false},
  };
  for (const Row& row : rows) EXPECT_EQ(DivisorReachesRate(115200, row.rate), row.reached) << row.rate;
}

TEST(TermiosTranslate, APseudoTerminalIsNotAskedToMarkLineErrors) {
  const Dcb dcb = Line(115200, 8, EVENPARITY);
  const TtyTermios serial = TranslateDcb(dcb, LineKind::Serial).termios;
  const TtyTermios pty = TranslateDcb(dcb, LineKind::PseudoTerminal).termios;
  EXPECT_TRUE(MarksLineErrors(serial));
  EXPECT_FALSE(MarksLineErrors(pty));
  EXPECT_EQ(pty.iflag & (INPCK | PARMRK), 0u);
  TtyTermios sameOtherwise = pty;
  sameOtherwise.iflag |= INPCK | PARMRK;
  EXPECT_EQ(sameOtherwise, serial);
  EXPECT_FALSE(MarksLineErrors(RawTermios(9600, LineKind::PseudoTerminal)));
  EXPECT_TRUE(MarksLineErrors(RawTermios(9600)));
}

TEST(TermiosTranslate, CharacterLengthInHalfBits) {
  EXPECT_EQ(HalfBitsPerCharacter(TranslateDcb(Line(9600)).termios), 20u);                                  // 8N1
  EXPECT_EQ(HalfBitsPerCharacter(TranslateDcb(Line(9600, 5, NOPARITY, ONE5STOPBITS)).termios), 15u);      // 5N1.5
  EXPECT_EQ(HalfBitsPerCharacter(TranslateDcb(Line(9600, 7, EVENPARITY, TWOSTOPBITS)).termios), 22u);     // 7E2
}

}  // namespace
}  // namespace velmora::platform::posix
