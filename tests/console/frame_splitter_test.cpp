// Frames cut from both directions' traffic by silence, direction and keying; echo and
// collision; checksum verdicts; the silence that ends a frame at the port's line settings.
#include "console/frame_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::console {
namespace {

using namespace std::chrono_literals;

const std::string kPoll("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
const std::string kAnswer("\x01\x03\x02\x00\x0A\x38\x43", 7);

TEST(FrameGap, ThreeAndAHalfCharacterTimesUpTo19200BaudThenTheFixedRule) {
  struct Row {
    int64_t baud;
    int bits;
    bool parity;
    double stop;
    int fixedMs;
    std::chrono::microseconds expected;
  };
  const Row rows[] = {
      {9600, 8, false, 1, 0, 3645us},   // 10 bits a character
      {9600, 8, true, 1, 0, 4010us},    // 11
      {9600, 7, false, 2, 0, 3645us},   // 10
      {1200, 8, false, 1, 0, 29166us},
      {19200, 8, false, 1, 0, 1822us},  // still by character times
      {19201, 8, false, 1, 0, 1750us},
      {115200, 8, true, 2, 0, 1750us},
      {9600, 8, false, 1, 10, 10000us},  // a set number of milliseconds wins
      {115200, 8, false, 1, 1, 1000us},
  };
  for (const Row& r : rows) {
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(
        FrameGapFor(r.baud, r.bits, r.parity, r.stop, r.fixedMs));
    EXPECT_EQ(gap, r.expected) << r.baud << " baud, " << r.bits << (r.parity ? "E" : "N") << r.stop
                               << ", fixed " << r.fixedMs;
  }
}

TEST(FrameCheck, CrcAndLrcVerdicts) {
  struct Row {
    std::string frame;
    FrameCheck expected;
  };
  std::string corrupt = kPoll;
  corrupt[3] = '\x07';
  const Row rows[] = {
      {kPoll, FrameCheck::Crc},
      {kAnswer, FrameCheck::Crc},
      {corrupt, FrameCheck::None},
      {kPoll.substr(0, 7), FrameCheck::None},
      {std::string("\xFF\xFF", 2), FrameCheck::None},          // too short to tell
      {std::string("\x40\xBF\x00", 3), FrameCheck::None},
      {":010300000001FB\r\n", FrameCheck::Lrc},
      {":010300000001fb", FrameCheck::Lrc},                    // no line end, small letters
      {":010300000001FC\r\n", FrameCheck::None},               // wrong LRC
      {":01030000001FB\r\n", FrameCheck::None},                // odd digit count
      {":0103G0000001FB\r\n", FrameCheck::None},               // not hexadecimal
      {":\r\n", FrameCheck::None},
      {"", FrameCheck::None},
  };
  for (const Row& r : rows) EXPECT_EQ(CheckOf(r.frame), r.expected) << testing::PrintToString(r.frame);
}

// One event of a splitting case, at `ms` from the start.
struct Step {
  enum Kind { Rx, Tx, Key, Unkey, Marker, Expire, Finish };
  Step(Kind k, double at = 0, std::string b = {}) : kind(k), ms(at), bytes(std::move(b)) {}
  Kind kind;
  double ms;
  std::string bytes;
};

std::string Describe(const Frame& f) {
  std::string s = f.direction == FrameDirection::Sent ? "→" : "←";
  s += f.bytes;
  if (f.silence)
    s += " +" + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(*f.silence).count()) + "us";
  for (const auto& [at, text] : f.markers) s += " [" + std::to_string(at) + text + "]";
  if (f.check == FrameCheck::Crc) s += " CRC";
  if (f.check == FrameCheck::Lrc) s += " LRC";
  if (f.echo == FrameEcho::Echo) s += " echo";
  if (f.echo == FrameEcho::Collision) s += " collision";
  return s;
}

std::vector<std::string> Split(const std::vector<Step>& steps, FrameClock::duration gap = 1750us) {
  FrameSplitter splitter(gap);
  std::vector<Frame> done;
  const FrameClock::time_point zero{};
  for (const Step& step : steps) {
    const auto at = zero + std::chrono::duration_cast<FrameClock::duration>(
                               std::chrono::duration<double, std::milli>(step.ms));
    switch (step.kind) {
      case Step::Rx: splitter.Add(FrameDirection::Received, step.bytes, at, done); break;
      case Step::Tx: splitter.Add(FrameDirection::Sent, step.bytes, at, done); break;
      case Step::Key: splitter.SetKeyed(true, done); break;
      case Step::Unkey: splitter.SetKeyed(false, done); break;
      case Step::Marker: splitter.AddMarker(step.bytes, at, done); break;
      case Step::Expire: splitter.Expire(at, done); break;
      case Step::Finish: splitter.Finish(done); break;
    }
  }
  std::vector<std::string> out;
  for (const Frame& f : done) out.push_back(Describe(f));
  return out;
}

using Steps = std::vector<Step>;
using Lines = std::vector<std::string>;

TEST(FrameSplitter, BoundariesBySilenceAndDirection) {
  struct Row {
    const char* name;
    Steps steps;
    Lines expected;
  };
  const Row rows[] = {
      {"frames 2 ms apart at the 1.75 ms rule are two",
       {{Step::Rx, 0, "AB"}, {Step::Rx, 2.0, "CD"}, {Step::Finish}},
       {"←AB", "←CD +2000us"}},
      {"a pause shorter than the gap stays inside the frame",
       {{Step::Rx, 0, "AB"}, {Step::Rx, 1.7, "CD"}, {Step::Rx, 3.4, "EF"}, {Step::Finish}},
       {"←ABCDEF"}},
      {"a silence exactly as long as the gap is not longer than it",
       {{Step::Rx, 0, "AB"}, {Step::Rx, 1.75, "CD"}, {Step::Finish}},
       {"←ABCD"}},
      {"a change of direction ends a frame however short the pause",
       {{Step::Tx, 0, kPoll}, {Step::Rx, 0.2, kAnswer}, {Step::Tx, 0.3, "x"}, {Step::Finish}},
       {"→" + kPoll + " CRC", "←" + kAnswer + " +200us CRC", "→x +100us"}},
      {"typed bytes without keying are cut by silence too",
       {{Step::Tx, 0, "a"}, {Step::Tx, 1, "b"}, {Step::Tx, 5, "c"}, {Step::Finish}},
       {"→ab", "→c +4000us"}},
      {"a frame left alone ends once the silence outlasts the gap, not before",
       {{Step::Rx, 0, "AB"}, {Step::Expire, 1.75}, {Step::Expire, 1.76}, {Step::Rx, 9, "C"}, {Step::Expire, 20}},
       {"←AB", "←C +9000us"}},
      {"a line error stays in the frame where it happened",
       {{Step::Rx, 0, "AB"}, {Step::Marker, 0.1, "<Framing Error>"}, {Step::Rx, 0.2, "C"}, {Step::Finish}},
       {"←ABC [2<Framing Error>]"}},
      {"a line error on a silent line is a frame of its own",
       {{Step::Rx, 0, "AB"}, {Step::Marker, 5, "<BREAK>"}, {Step::Rx, 5.5, "C"}, {Step::Finish}},
       {"←AB", "←C +5000us [0<BREAK>]"}},
  };
  for (const Row& r : rows) EXPECT_EQ(Split(r.steps), r.expected) << r.name;
}

// A line that never falls silent: frames of the longest length, the rest in the next, nothing
// lost or doubled.
TEST(FrameSplitter, AFloodIsCutIntoFramesOfTheLongestLength) {
  constexpr size_t kLongest = FrameSplitter::kLongestFrame;
  FrameSplitter splitter(1750us);
  std::vector<Frame> done;
  const FrameClock::time_point zero{};
  std::string sent;
  for (int i = 0; i < 7; ++i) {
    const std::string piece(kLongest / 2 + 3, char('a' + i));
    sent += piece;
    splitter.Add(FrameDirection::Received, piece, zero + std::chrono::microseconds(100 * i), done);
  }
  splitter.Finish(done);
  std::string joined;
  for (size_t i = 0; i < done.size(); ++i) {
    EXPECT_EQ(done[i].bytes.size(), i + 1 < done.size() ? kLongest : sent.size() % kLongest) << i;
    joined += done[i].bytes;
  }
  EXPECT_EQ(joined, sent);
}

TEST(FrameSplitter, KeyingEchoAndCollision) {
  struct Row {
    const char* name;
    Steps steps;
    Lines expected;
  };
  const Row rows[] = {
      {"one keying is one sent frame whatever pauses it has",
       {{Step::Key}, {Step::Tx, 0, "ab"}, {Step::Tx, 10, "cd"}, {Step::Unkey, 11}, {Step::Tx, 12, "e"}, {Step::Finish}},
       {"→abcd", "→e +2000us"}},
      {"what the keying hears back as sent is our echo",
       {{Step::Key}, {Step::Tx, 0, kPoll}, {Step::Rx, 0.5, kPoll.substr(0, 3)}, {Step::Rx, 0.9, kPoll.substr(3)},
        {Step::Unkey, 1}, {Step::Rx, 20, kAnswer}, {Step::Finish}},
       {"→" + kPoll + " CRC", "←" + kPoll + " +500us CRC echo", "←" + kAnswer + " +19100us CRC"}},
      {"an echo cut short by the unkeying is still ours",
       {{Step::Key}, {Step::Tx, 0, "ABCD"}, {Step::Rx, 0.5, "AB"}, {Step::Unkey, 1}, {Step::Finish}},
       {"→ABCD", "←AB +500us echo"}},
      {"an echo that differs from what was sent is a collision",
       {{Step::Key}, {Step::Tx, 0, "ABCD"}, {Step::Rx, 0.5, "ABXD"}, {Step::Unkey, 1}},
       {"→ABCD", "←ABXD +500us collision"}},
      {"something heard before we sent anything is someone else's: a collision, told first",
       {{Step::Rx, 0, "Z"}, {Step::Key}, {Step::Rx, 5, "Q"}, {Step::Tx, 6, "AB"}, {Step::Unkey, 7}},
       {"←Z", "←Q +5000us collision", "→AB +1000us"}},
      {"a line error while keyed goes with what came back",
       {{Step::Key}, {Step::Tx, 0, "AB"}, {Step::Rx, 0.1, "A"}, {Step::Marker, 0.2, "<Framing Error>"}, {Step::Unkey, 1}},
       {"→AB", "←A +100us [1<Framing Error>] echo"}},
      {"the keying starts a new sent frame after typed bytes",
       {{Step::Tx, 0, "a"}, {Step::Key}, {Step::Tx, 0.5, "b"}, {Step::Unkey, 1}},
       {"→a", "→b +500us"}},
  };
  for (const Row& r : rows) EXPECT_EQ(Split(r.steps), r.expected) << r.name;
}

}  // namespace
}  // namespace velmora::console
