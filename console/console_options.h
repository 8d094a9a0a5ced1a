#pragma once
// The console's own options, kept in the settings file's section "Velmora" and edited by the
// parameters dialog. Loading brings a stored value outside what the dialog offers into its
// range (settings_values.h); a value set otherwise behaves as the transmit path says (an unknown
// line ending sends nothing).

#include <cstdint>

#include <QString>

#include "console/checksums.h"
#include "console/send_parser.h"

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
  // "SendMode" and "SendCheck": how the send line reads its line and the check it appends.
  SendMode sendMode = SendMode::kText;
  CheckKind sendCheck = CheckKind::kNone;
  // "SessionLog": the folder of the session log's daily files; empty: no session log.
  QString sessionLogFolder;

  // The keyer's additions (keyer.h), each off at its default: "TxLead" and "TxTail" (ms, RTS up
  // before the first and after the last character), "CtsWait" (ms, 0: CTS not waited for),
  // "BusyWait" (ms, 0: DCD ignored), "BusyBackoff" (ms, the back-off's upper bound),
  // "TxTimeout" (s, 0: none), "TxLockout" (s), "RtsInvert" (1: RTS low keys).
  int32_t txLeadMs = 0;
  int32_t txTailMs = 0;
  int32_t ctsWaitMs = 0;
  int32_t busyWaitMs = 0;
  int32_t busyBackoffMs = 0;
  int32_t txTimeoutS = 0;
  int32_t txLockoutS = 0;
  int32_t rtsInvert = 0;
  // "FrameGap": the silence in milliseconds that ends a frame in the frame view; 0 (and an
  // absent key) takes 3.5 character times at the port's line settings.
  int32_t frameGapMs = 0;
};

}  // namespace velmora::console
