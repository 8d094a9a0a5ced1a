#pragma once
// The console's own options, kept in the settings file's section "Velmora" and edited by the
// parameters dialog. Loading brings a stored value outside what the dialog offers into its
// range (settings_values.h); a value set otherwise behaves as the transmit path says (an unknown
// line ending sends nothing).

#include <cstdint>

#include <QString>

namespace velmora::console {

struct ConsoleOptions {
  // "RTS/CTS": 1 raises RTS per burst and drops it at every transmit-empty; 0 raises it, waits
  // `keyingDelayMs` before the first character, and holds it until Enter.
  int32_t rtsCtsMode = 0;
  // "TxDelay": milliseconds between raising RTS and the first character in mode 0.
  int32_t keyingDelayMs = 0;
  // "CRLF": what Enter sends — 0 nothing, 1 CR LF, 2 CR, 3 LF.
  int32_t lineEnding = 0;
  // "Editor": the program that shows the capture file.
  QString viewerPath;
  // "FrameGap": the silence in milliseconds that ends a frame in the frame view; 0 (and an
  // absent key) takes 3.5 character times at the port's line settings.
  int32_t frameGapMs = 0;
};

}  // namespace velmora::console
