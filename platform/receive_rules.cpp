#include "platform/receive_rules.h"

#include <cstring>

namespace velmora::platform {

ReceiveOutcome ApplyReceiveRules(const Dcb& dcb, bool dsrOn, uint8_t* data, size_t count,
                                 std::span<const RxMark> marks) {
  ReceiveOutcome out;
  const auto eventChar = static_cast<uint8_t>(dcb.EvtChar);
  if (marks.empty() && !dcb.fNull && !dcb.fDsrSensitivity) {
    // The common case: every byte is kept as it came.
    out.kept = count;
    if (count > 0 && std::memchr(data, eventChar, count)) out.events |= EV_RXFLAG;
    return out;
  }

  const bool dropAll = dcb.fDsrSensitivity && !dsrOn;
  size_t m = 0;
  for (size_t i = 0; i <= count; ++i) {
    bool parityError = false;
    for (; m < marks.size() && marks[m].position == i; ++m) {
      switch (marks[m].kind) {
        case RxMark::Frame: out.errors |= CE_FRAME; break;
        case RxMark::Parity:
          if (dcb.fParity) {
            out.errors |= CE_RXPARITY;
            parityError = true;
          }
          break;
        case RxMark::Break:
          out.errors |= CE_BREAK;
          out.events |= EV_BREAK;
          break;
        case RxMark::Overrun: out.errors |= CE_OVERRUN; break;
        case RxMark::RxOver: out.errors |= CE_RXOVER; break;
      }
    }
    if (i == count) break;
    uint8_t byte = data[i];
    if (parityError && dcb.fErrorChar) byte = static_cast<uint8_t>(dcb.ErrorChar);
    if (dropAll || (dcb.fNull && byte == 0)) continue;
    if (byte == eventChar) out.events |= EV_RXFLAG;
    data[out.kept++] = byte;
  }
  if (out.errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) out.events |= EV_ERR;
  return out;
}

}  // namespace velmora::platform
