#pragma once
// The values of ZORVA.INI as the operator wrote them, checked: the console's four options read
// one by one, and the port's line keys looked over for texts the port's parsers pass by.
//
// An option whose text is no whole number keeps its current value and the others are read all
// the same; one outside what the parameters dialog offers is brought into that range (TxDelay
// 0..100 ms, CRLF 0..3, RTS/CTS 0 or 1, the keyer's keys as kKeyerKeys says, FrameGap 0..10000 ms),
// so that a hand-edited file cannot, say, key a radio for weeks. Every such value is named in a
// problem line (Russian, key and value) for the settings
// box. Pure functions over the file; user-interface thread, like the file's other readers.

#include <array>
#include <string>

#include <QString>
#include <QStringList>

#include "console/console_options.h"

namespace velmora::port {
class IniFile;
}

namespace velmora::console {

// What the parameters dialog offers for each numeric option.
struct Range {
  int32_t lowest;
  int32_t highest;
};

// The keyer's keys (keyer.h): each read like the options above, brought into its range, and
// written back only once it differs from its default or the file has it, so that a file
// without them stays as it was.
struct KeyerKey {
  const char* name;
  int32_t ConsoleOptions::* member;
  Range range;
};
extern const std::array<KeyerKey, 8> kKeyerKeys;

struct OptionsRead {
  ConsoleOptions options;
  // The first value that is no whole number, in the integer conversion's own words; empty
  // when every number read.
  QString conversionError;
  QStringList problems;  // one line per key whose value was not taken as it stood
};

// The options of section "Velmora", each absent key keeping its value in `current`.
OptionsRead ReadConsoleOptions(const port::IniFile& ini, const ConsoleOptions& current);

// One line per key of the port's line group in `section` whose text no setting has: the port
// took its parser's default for it. Absent keys are no problem.
QStringList CheckLineSettings(const port::IniFile& ini, const std::string& section);

// Why the file was not read (ReadError of the INI file), in the operator's words; empty when
// it reads.
QString SettingsFileUnreadReason(int error);

}  // namespace velmora::console
