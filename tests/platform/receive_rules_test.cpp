#include "platform/receive_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::platform {
namespace {

struct Case {
  const char* name;
  std::string in;
  std::vector<RxMark> marks;
  bool check, replace, discardNull, dsrSensitive, dsrOn;
  std::string kept;
  uint32_t errors, events;
};

TEST(ReceiveRules, ApplyTheBlockToOneRead) {
  const std::vector<Case> cases = {
      {"plain bytes pass", "abc", {}, false, false, false, false, false, "abc", 0, 0},
      {"event character", "a\rb", {}, false, false, false, false, false, "a\rb", 0, EV_RXFLAG},
      {"NULs discarded", std::string("a\0b\0", 4), {}, false, false, true, false, false, "ab", 0, 0},
      {"parity unchecked passes unmarked", "xy", {{1, RxMark::Parity}}, false, true, false, false, false, "xy", 0, 0},
      {"parity checked", "xy", {{1, RxMark::Parity}}, true, false, false, false, false, "xy", CE_RXPARITY, EV_ERR},
      {"parity replaced", "xy", {{1, RxMark::Parity}}, true, true, false, false, false, "x?", CE_RXPARITY, EV_ERR},
      {"frame keeps its byte", "f", {{0, RxMark::Frame}}, false, false, false, false, false, "f", CE_FRAME, EV_ERR},
      {"break after the last byte", "z", {{1, RxMark::Break}}, false, false, false, false, false, "z", CE_BREAK,
       EV_BREAK},
      {"overrun and buffer overflow", "q", {{0, RxMark::Overrun}, {1, RxMark::RxOver}}, false, false, false, false,
       false, "q", CE_OVERRUN | CE_RXOVER, EV_ERR},
      {"DSR off drops everything", "abc", {}, false, false, false, true, false, "", 0, 0},
      {"DSR on keeps it", "abc", {}, false, false, false, true, true, "abc", 0, 0},
      {"a NUL with a parity error is still discarded", std::string("\0", 1), {{0, RxMark::Parity}}, true, false, true, false,
       false, "", CE_RXPARITY, EV_ERR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dcb dcb;
    dcb.fParity = c.check;
    dcb.fErrorChar = c.check && c.replace;
    dcb.ErrorChar = '?';
    dcb.fNull = c.discardNull;
    dcb.fDsrSensitivity = c.dsrSensitive;
    dcb.EvtChar = '\r';
    std::string buffer = c.in;
    ReceiveOutcome r = ApplyReceiveRules(dcb, c.dsrOn, reinterpret_cast<uint8_t*>(buffer.data()), buffer.size(),
                                         c.marks);
    EXPECT_EQ(buffer.substr(0, r.kept), c.kept);
    EXPECT_EQ(r.errors, c.errors);
    EXPECT_EQ(r.events, c.events);
  }
}

}  // namespace
}  // namespace velmora::platform
