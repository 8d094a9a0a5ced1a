// PARMRK stream decoding and naming of line conditions from the kernel's counters.
#include "platform/posix/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace velmora::platform {
// Found by argument lookup from the comparisons and failure messages below.
inline bool operator==(const RxMark& a, const RxMark& b) { return a.position == b.position && a.kind == b.kind; }
inline void PrintTo(const RxMark& m, std::ostream* os) { *os << "{" << m.position << ", kind " << int{m.kind} << "}"; }
}  // namespace velmora::platform

namespace velmora::platform::posix {
namespace {

struct Decoded {
  std::string data;
  std::vector<RxMark> marks;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// One read: decode, then label with the counters' growth (none: no counters on this device).
Decoded ReadOnce(ParmrkDecoder& decoder, const std::string& raw, std::optional<LineErrorCounts> grown = std::nullopt) {
  Decoded out;
  std::string buffer = raw;
  auto* data = reinterpret_cast<uint8_t*>(buffer.data());
  size_t n = decoder.Decode(data, buffer.size(), out.marks);
  n = decoder.LabelMarks(data, n, out.marks, 0, grown);
  out.data.assign(buffer.data(), n);
  return out;
}

const std::string kStream = Bytes({'a', 0xFF, 0xFF, 'b', 0xFF, 0x00, 0x00, 'c', 0xFF, 0x00, 'A', 'd', 0xFF, 0xFF});

TEST(ParmrkDecoder, EscapesBecomeDataAndMarks) {
  ParmrkDecoder decoder;
  Decoded d = ReadOnce(decoder, kStream);
  EXPECT_EQ(d.data, Bytes({'a', 0xFF, 'b', 'c', 'A', 'd', 0xFF}));
  const std::vector<RxMark> expected = {{3, RxMark::Break}, {4, RxMark::Frame}};
  EXPECT_EQ(d.marks, expected);
}

TEST(ParmrkDecoder, AnEscapeSplitBetweenReadsDecodesAsInOne) {
  for (size_t cut = 1; cut < kStream.size(); ++cut) {
    SCOPED_TRACE(cut);
    ParmrkDecoder decoder;
    Decoded first = ReadOnce(decoder, kStream.substr(0, cut));
    Decoded second = ReadOnce(decoder, kStream.substr(cut));
    std::vector<RxMark> marks = first.marks;
    for (RxMark m : second.marks) marks.push_back({static_cast<uint32_t>(m.position + first.data.size()), m.kind});
    EXPECT_EQ(first.data + second.data, Bytes({'a', 0xFF, 'b', 'c', 'A', 'd', 0xFF}));
    const std::vector<RxMark> expected = {{3, RxMark::Break}, {4, RxMark::Frame}};
    EXPECT_EQ(marks, expected);
  }
}

TEST(ParmrkDecoder, ResetDropsAPartialEscape) {
  ParmrkDecoder decoder;
  ReadOnce(decoder, Bytes({'x', 0xFF, 0x00}));
  decoder.Reset();
  Decoded d = ReadOnce(decoder, Bytes({0x00, 'y'}));
  EXPECT_EQ(d.data, Bytes({0x00, 'y'}));
  EXPECT_TRUE(d.marks.empty());
}

TEST(ParmrkDecoder, CountersNameTheMarks) {
  struct Case {
    const char* what;
    std::string raw;
    LineErrorCounts grown;
    std::string data;
    std::vector<RxMark> marks;
  };
  const Case cases[] = {
      {"parity error", Bytes({'a', 0xFF, 0x00, 'b'}), {0, 1, 0, 0, 0}, "ab", {{1, RxMark::Parity}}},
      {"framing error", Bytes({'a', 0xFF, 0x00, 'b'}), {1, 0, 0, 0, 0}, "ab", {{1, RxMark::Frame}}},
      {"break", Bytes({'a', 0xFF, 0x00, 0x00, 'b'}), {0, 0, 1, 0, 0}, "ab", {{1, RxMark::Break}}},
      // An adapter whose counters do not move: an escaped NUL with no error counted is a break.
      {"break with no counter moved", Bytes({'a', 0xFF, 0x00, 0x00, 'b'}), {}, "ab", {{1, RxMark::Break}}},
      {"parity error on a NUL byte", Bytes({'a', 0xFF, 0x00, 0x00, 'b'}), {0, 1, 0, 0, 0}, Bytes({'a', 0, 'b'}),
       {{1, RxMark::Parity}}},
      {"NUL error before another mark", Bytes({0xFF, 0x00, 0x00, 0xFF, 0x00, 'x'}), {2, 0, 0, 0, 0},
       Bytes({0, 'x'}), {{0, RxMark::Frame}, {1, RxMark::Frame}}},
      {"both kinds in one read", Bytes({0xFF, 0x00, 'x', 0xFF, 0x00, 'y'}), {1, 1, 0, 0, 0}, "xy",
       {{0, RxMark::Frame}, {1, RxMark::Parity}}},
      {"overrun and driver buffer overrun", "ab", {0, 0, 0, 3, 1}, "ab", {{2, RxMark::Overrun}, {2, RxMark::RxOver}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ParmrkDecoder decoder;
    Decoded d = ReadOnce(decoder, c.raw, c.grown);
    EXPECT_EQ(d.data, c.data);
    EXPECT_EQ(d.marks, c.marks);
  }
}

TEST(ParmrkDecoder, ErrorsCountedBeforeTheirBytesArriveNameTheNextRead) {
  ParmrkDecoder decoder;
  // The counter already holds two parity errors; the second error's bytes are still in the kernel.
  Decoded first = ReadOnce(decoder, Bytes({0xFF, 0x00, 'x'}), LineErrorCounts{0, 2, 0, 0, 0});
  Decoded second = ReadOnce(decoder, Bytes({0xFF, 0x00, 'y'}), LineErrorCounts{});
  const std::vector<RxMark> expected = {{0, RxMark::Parity}};
  EXPECT_EQ(first.marks, expected);
  EXPECT_EQ(second.marks, expected);
}

}  // namespace
}  // namespace velmora::platform::posix
