#include "platform/receive_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora::platform {
namespace {

// What the block asks of received bytes, and the DSR line as it stands; all off unless named.
struct Rules {
  bool checkParity = false;
  bool replaceParity = false;  // only while parity is checked
  bool discardNull = false;
  bool dsrSensitive = false;
  bool dsrOn = false;
};

struct Case {
  const char* name;
  std::string in;
  std::vector<RxMark> marks;
  Rules rules;
  std::string kept;
  uint32_t errors, events;
};

TEST(ReceiveRules, ApplyTheBlockToOneRead) {
  const std::vector<Case> cases = {
      {"plain bytes pass", "abc", {}, {}, "abc", 0, 0},
      {"event character", "a\rb", {}, {}, "a\rb", 0, EV_RXFLAG},
      {"NULs discarded", std::string("a\0b\0", 4), {}, {.discardNull = true}, "ab", 0, 0},
      {"parity unchecked passes unmarked", "xy", {{1, RxMark::Parity}}, {.replaceParity = true}, "xy", 0, 0},
      {"parity checked", "xy", {{1, RxMark::Parity}}, {.checkParity = true}, "xy", CE_RXPARITY, EV_ERR},
      {"parity replaced", "xy", {{1, RxMark::Parity}}, {.checkParity = true, .replaceParity = true}, "x?",
       CE_RXPARITY, EV_ERR},
      {"frame keeps its byte", "f", {{0, RxMark::Frame}}, {}, "f", CE_FRAME, EV_ERR},
      {"break after the last byte", "z", {{1, RxMark::Break}}, {}, "z", CE_BREAK, EV_BREAK},
      {"overrun and buffer overflow", "q", {{0, RxMark::Overrun}, {1, RxMark::RxOver}}, {}, "q",
       CE_OVERRUN | CE_RXOVER, EV_ERR},
      {"DSR off drops everything", "abc", {}, {.dsrSensitive = true}, "", 0, 0},
      {"DSR on keeps it", "abc", {}, {.dsrSensitive = true, .dsrOn = true}, "abc", 0, 0},
      {"a NUL with a parity error is still discarded", std::string("\0", 1), {{0, RxMark::Parity}},
       {.checkParity = true, .discardNull = true}, "", CE_RXPARITY, EV_ERR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dcb dcb;
    dcb.fParity = c.rules.checkParity;
    dcb.fErrorChar = c.rules.checkParity && c.rules.replaceParity;
    dcb.ErrorChar = '?';
    dcb.fNull = c.rules.discardNull;
    dcb.fDsrSensitivity = c.rules.dsrSensitive;
    dcb.EvtChar = '\r';
    std::string buffer = c.in;
    ReceiveOutcome r = ApplyReceiveRules(dcb, c.rules.dsrOn, reinterpret_cast<uint8_t*>(buffer.data()), buffer.size(),
                                         c.marks);
    EXPECT_EQ(buffer.substr(0, r.kept), c.kept);
    EXPECT_EQ(r.errors, c.errors);
    EXPECT_EQ(r.events, c.events);
  }
}

}  // namespace
}  // namespace velmora::platform
