// libFuzzer target: the decoder of a tty's in-band line errors (PARMRK).
//
// Whatever the kernel hands over, decoding stays inside its buffer, yields no more bytes than
// it was given, puts its marks in order inside what it yields, and does not depend on where the
// stream was cut between two reads; escaped data decodes back to itself without marks; naming
// the marks from the counters grows the data by at most one NUL per break mark.
//
// Input: one byte for the cut, five for the counters' growth (frame, parity, break, overrun,
// driver overrun; each 0..3), then the raw stream.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/posix/parmrk_decoder.h"

namespace {

using velmora::platform::RxMark;
using velmora::platform::posix::LineErrorCounts;
using velmora::platform::posix::ParmrkDecoder;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

struct Decoded {
  std::vector<uint8_t> data;
  std::vector<RxMark> marks;
};

// One read through `decoder`, in a buffer of exactly the read's size so that any write past it
// is caught.
void ReadInto(ParmrkDecoder& decoder, const uint8_t* raw, size_t size, const std::optional<LineErrorCounts>& grown,
              Decoded& out) {
  std::vector<uint8_t> buffer(raw, raw + size);
  std::vector<RxMark> marks;
  size_t n = decoder.Decode(buffer.data(), buffer.size(), marks);
  Check(n <= size);
  size_t breaks = 0;
  for (size_t i = 0; i < marks.size(); ++i) {
    Check(marks[i].position <= n);
    if (i > 0) Check(marks[i - 1].position <= marks[i].position);
    if (marks[i].kind == RxMark::Break) ++breaks;
    Check(marks[i].kind == RxMark::Break || marks[i].kind == RxMark::Frame);
  }
  const size_t decoded = n;
  n = decoder.LabelMarks(buffer.data(), n, marks, 0, grown);
  Check(n >= decoded && n <= decoded + breaks && n <= size);
  for (size_t i = 0; i < marks.size(); ++i) {
    Check(marks[i].position <= n);
    if (i > 0) Check(marks[i - 1].position <= marks[i].position);
  }
  for (const RxMark& m : marks) out.marks.push_back({static_cast<uint32_t>(m.position + out.data.size()), m.kind});
  out.data.insert(out.data.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
}

bool SameMarks(const std::vector<RxMark>& a, const std::vector<RxMark>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].position != b[i].position || a[i].kind != b[i].kind) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const size_t streamSize = size - 6;
  const uint8_t* stream = data + 6;
  const size_t cut = streamSize == 0 ? 0 : data[0] % (streamSize + 1);
  const LineErrorCounts grown{data[1] & 3u, data[2] & 3u, data[3] & 3u, data[4] & 3u, data[5] & 3u};

  // Without counters (a device that has none): cutting the stream anywhere changes nothing.
  Decoded whole;
  ParmrkDecoder one;
  ReadInto(one, stream, streamSize, std::nullopt, whole);
  Decoded split;
  ParmrkDecoder two;
  ReadInto(two, stream, cut, std::nullopt, split);
  ReadInto(two, stream + cut, streamSize - cut, std::nullopt, split);
  Check(whole.data == split.data);
  Check(SameMarks(whole.marks, split.marks));

  // With counters, in two reads: every check of ReadInto holds.
  Decoded counted;
  ParmrkDecoder three;
  ReadInto(three, stream, cut, grown, counted);
  ReadInto(three, stream + cut, streamSize - cut, LineErrorCounts{}, counted);

  // The stream taken as data, escaped as the kernel does, comes back unchanged and unmarked.
  std::vector<uint8_t> escaped;
  for (size_t i = 0; i < streamSize; ++i) {
    escaped.push_back(stream[i]);
    if (stream[i] == 0xFF) escaped.push_back(0xFF);
  }
  Decoded clean;
  ParmrkDecoder four;
  ReadInto(four, escaped.data(), escaped.size(), LineErrorCounts{}, clean);
  Check(clean.marks.empty());
  Check(clean.data == std::vector<uint8_t>(stream, stream + streamSize));
  return 0;
}
