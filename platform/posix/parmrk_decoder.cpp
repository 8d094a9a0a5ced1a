#include "platform/posix/parmrk_decoder.h"

#include <cstring>

namespace velmora::platform::posix {

size_t ParmrkDecoder::Decode(uint8_t* data, size_t count, std::vector<RxMark>& marks) {
  // Output never runs ahead of input: every input byte yields at most one output byte when it
  // is consumed, so decoding in place is safe.
  size_t out = 0;
  for (size_t in = 0; in < count; ++in) {
    const uint8_t b = data[in];
    switch (state_) {
      case State::Data:
        if (b == 0xFF) {
          state_ = State::Escape;
        } else {
          data[out++] = b;
        }
        break;
      case State::Escape:
        if (b == 0xFF) {
          data[out++] = 0xFF;
          state_ = State::Data;
        } else if (b == 0x00) {
          state_ = State::Marked;
        } else {
          // The kernel always escapes 0xFF under PARMRK, so a lone 0xFF is the remnant of an
          // escape whose rest was flushed by someone else: not data.
          data[out++] = b;
          state_ = State::Data;
        }
        break;
      case State::Marked:
        if (b == 0x00) {
          marks.push_back({static_cast<uint32_t>(out), RxMark::Break});
        } else {
          marks.push_back({static_cast<uint32_t>(out), RxMark::Frame});
          data[out++] = b;
        }
        state_ = State::Data;
        break;
    }
  }
  return out;
}

size_t ParmrkDecoder::LabelMarks(uint8_t* data, size_t count, std::vector<RxMark>& marks, size_t firstMark,
                                 const std::optional<LineErrorCounts>& grown) {
  if (!grown) return count;
  LineErrorCounts budget = carried_;
  budget.frame += grown->frame;
  budget.parity += grown->parity;
  budget.brk += grown->brk;

  uint32_t shift = 0;
  for (size_t i = firstMark; i < marks.size(); ++i) {
    RxMark& m = marks[i];
    m.position += shift;
    if (m.kind == RxMark::Break) {
      if (budget.brk > 0 || budget.frame + budget.parity == 0) {
        if (budget.brk > 0) --budget.brk;
        continue;
      }
      // `FF 00 00` without a break counted: an error on a NUL byte, which is data.
      std::memmove(data + m.position + 1, data + m.position, count - m.position);
      data[m.position] = 0x00;
      ++count;
      ++shift;
    }
    if (budget.frame > 0) {
      m.kind = RxMark::Frame;
      --budget.frame;
    } else if (budget.parity > 0) {
      m.kind = RxMark::Parity;
      --budget.parity;
    } else {
      m.kind = RxMark::Frame;
    }
  }
  carried_ = {budget.frame, budget.parity, budget.brk, 0, 0};

  // The kernel only counts characters lost to overruns; they were lost somewhere before the
  // end of what was just read.
  if (grown->overrun > 0) marks.push_back({static_cast<uint32_t>(count), RxMark::Overrun});
  if (grown->bufOverrun > 0) marks.push_back({static_cast<uint32_t>(count), RxMark::RxOver});
  return count;
}

void ParmrkDecoder::Reset() {
  state_ = State::Data;
  carried_ = {};
}

}  // namespace velmora::platform::posix
