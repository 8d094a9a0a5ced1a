#pragma once
// The frames kept on the function keys F1–F12: a name, a line of the send line's form with its
// mode and check, and a repeat period (0 sends once).
//
// They live in the settings file's section "Frames", one key per function key:
// F1=name;mode;check;period;line — mode "text" or "hex", check as the send line's, period in
// milliseconds; the line comes last and may hold ';'. An absent or empty key is a free key. A
// value that does not read is named in a problem line (Russian, key and value) and leaves its
// key free, so a hand-edited file never sends what the operator did not mean. Pure functions
// over the file; user-interface thread, like the file's other readers.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include <QString>
#include <QStringList>

#include "console/checksums.h"
#include "console/send_parser.h"

namespace velmora::port {
class IniFile;
}

namespace velmora::console {

inline constexpr int kStoredFrameCount = 12;
// A day: a longer period is no poll anyone waits for.
inline constexpr int kLongestPollPeriodMs = 24 * 60 * 60 * 1000;

struct StoredFrame {
  QString name;  // no ';': it ends the name in the stored form
  SendMode mode = SendMode::kText;
  CheckKind check = CheckKind::kNone;
  int periodMs = 0;  // 0: once per key press
  QString line;

  bool Empty() const { return line.isEmpty(); }
  bool operator==(const StoredFrame&) const = default;
};

using StoredFrames = std::array<StoredFrame, kStoredFrameCount>;

// The stored form of one frame, CP1251 like the rest of the file; empty for a free key.
std::string StoredFrameValue(const StoredFrame& frame);
// The frame a stored value holds, or nothing with `problem` saying why (an empty value is a
// free key and no problem).
std::optional<StoredFrame> ParseStoredFrameValue(std::string_view value, QString* problem);

// The section "Frames"; `problems` gets one line per key that did not read.
StoredFrames ReadStoredFrames(const port::IniFile& ini, QStringList* problems);
// Writes every key, a free one as empty; raises IniFileError as the file's writes do.
void WriteStoredFrames(port::IniFile& ini, const StoredFrames& frames);

// The mode and check choices as the switches show them, in the order of the enumerations.
QStringList SendModeCaptions();
QStringList CheckKindCaptions();

// Why the frame cannot be stored or sent, in the operator's words; empty when it can.
QString StoredFrameProblem(const StoredFrame& frame);

}  // namespace velmora::console
