#include "console/settings_values.h"

#include <cerrno>
#include <optional>
#include <string_view>

#include "console/cp1251.h"
#include "platform/ascii_case.h"
#include "port/ini_file.h"
#include "port/text_forms.h"

namespace velmora::console {

namespace {

constexpr char kSection[] = "Velmora";

constexpr Range kKeyingDelayRange{0, 100};
constexpr Range kLineEndingRange{0, 3};
constexpr Range kFrameGapRange{0, 10000};

QString Quoted(const std::string& text) {
  return QStringLiteral("«") + DecodeCp1251(text) + QStringLiteral("»");
}

QString KeyLine(const char* key, const std::string& text, const QString& what) {
  return QStringLiteral("Ключ %1: значение %2 %3").arg(QString::fromLatin1(key), Quoted(text), what);
}

// The number under `key`, or `current` for an absent key or one that is no whole number (then
// named in `read`).
int32_t ReadNumber(const port::IniFile& ini, const char* key, int32_t current, OptionsRead& read) {
  const std::string text = ini.ReadString(kSection, key, std::to_string(current));
  if (const std::optional<int32_t> value = port::ParseWholeNumber(text)) return *value;
  if (read.conversionError.isEmpty())
    read.conversionError = QStringLiteral("'") + DecodeCp1251(text) + QStringLiteral("' is not a valid integer value");
  read.problems << KeyLine(key, text,
                           QStringLiteral("не является целым числом; оставлено %1").arg(current));
  return current;
}

int32_t IntoRange(const char* key, int32_t value, Range range, int32_t replacement, OptionsRead& read) {
  if (value >= range.lowest && value <= range.highest) return value;
  read.problems << KeyLine(key, std::to_string(value),
                           QStringLiteral("вне пределов %1..%2; принято %3")
                               .arg(range.lowest)
                               .arg(range.highest)
                               .arg(replacement));
  return replacement;
}

int32_t Clamp(int32_t value, Range range) {
  return value < range.lowest ? range.lowest : value > range.highest ? range.highest : value;
}

// A text is a setting's own when its parser gives a value whose text is the same, letter case
// aside (the parsers compare that way).
template <typename Parse, typename Text>
bool Recognised(const std::string& text, Parse parse, Text textOf) {
  return platform::AsciiUpper(textOf(parse(text))) == platform::AsciiUpper(text);
}

}  // namespace

const std::array<KeyerKey, 8> kKeyerKeys = {{
    {"TxLead", &ConsoleOptions::txLeadMs, {0, 2000}},
    {"TxTail", &ConsoleOptions::txTailMs, {0, 2000}},
    {"CtsWait", &ConsoleOptions::ctsWaitMs, {0, 10000}},
    {"BusyWait", &ConsoleOptions::busyWaitMs, {0, 60000}},
    {"BusyBackoff", &ConsoleOptions::busyBackoffMs, {0, 5000}},
    {"TxTimeout", &ConsoleOptions::txTimeoutS, {0, 600}},
    {"TxLockout", &ConsoleOptions::txLockoutS, {0, 600}},
    {"RtsInvert", &ConsoleOptions::rtsInvert, {0, 1}},
}};

OptionsRead ReadConsoleOptions(const port::IniFile& ini, const ConsoleOptions& current) {
  OptionsRead read;
  ConsoleOptions& o = read.options;
  o = current;
  const int32_t mode = ReadNumber(ini, "RTS/CTS", current.rtsCtsMode, read);
  // The dialog shows every mode but 0 as RTS/CTS keying, and saves it as 1.
  if (mode != 0 && mode != 1)
    read.problems << KeyLine("RTS/CTS", std::to_string(mode), QStringLiteral("не 0 и не 1; принято 1"));
  o.rtsCtsMode = mode == 0 ? 0 : 1;
  const int32_t delay = ReadNumber(ini, "TxDelay", current.keyingDelayMs, read);
  o.keyingDelayMs = IntoRange("TxDelay", delay, kKeyingDelayRange, Clamp(delay, kKeyingDelayRange), read);
  o.sessionLogFolder = DecodeCp1251(ini.ReadString(kSection, "SessionLog", EncodeCp1251(current.sessionLogFolder)));
  // The dialog sets a line ending it does not know back to none.
  const int32_t ending = ReadNumber(ini, "CRLF", current.lineEnding, read);
  o.lineEnding = IntoRange("CRLF", ending, kLineEndingRange, 0, read);
  o.viewerPath = DecodeCp1251(ini.ReadString(kSection, "Editor", EncodeCp1251(current.viewerPath)));
  // The send line's choices: a word it does not know keeps the current one.
  const std::string sendMode = ini.ReadString(kSection, "SendMode", std::string(SendModeKey(current.sendMode)));
  if (const std::optional<SendMode> parsed = ParseSendModeKey(sendMode))
    o.sendMode = *parsed;
  else
    read.problems << KeyLine("SendMode", sendMode, QStringLiteral("не text и не hex; оставлено %1")
                                                   .arg(QString::fromLatin1(SendModeKey(current.sendMode))));
  const std::string sendCheck = ini.ReadString(kSection, "SendCheck", std::string(CheckKindKey(current.sendCheck)));
  if (const std::optional<CheckKind> parsed = ParseCheckKindKey(sendCheck))
    o.sendCheck = *parsed;
  else
    read.problems << KeyLine("SendCheck", sendCheck,
                             QStringLiteral("не none, crc16, lrc, xor и не sum8; оставлено %1")
                                 .arg(QString::fromLatin1(CheckKindKey(current.sendCheck))));
  for (const KeyerKey& key : kKeyerKeys) {
    const int32_t value = ReadNumber(ini, key.name, current.*key.member, read);
    o.*key.member = IntoRange(key.name, value, key.range, Clamp(value, key.range), read);
  }
  const int32_t gap = ReadNumber(ini, "FrameGap", current.frameGapMs, read);
  o.frameGapMs = IntoRange("FrameGap", gap, kFrameGapRange, Clamp(gap, kFrameGapRange), read);
  return read;
}

QStringList CheckLineSettings(const port::IniFile& ini, const std::string& section) {
  QStringList problems;
  const auto check = [&](const char* key, bool recognised, const std::string& text,
                         const std::string& taken) {
    if (recognised) return;
    problems << QStringLiteral("Ключ %1 раздела [%2]: значение %3 не распознано; принято %4")
                    .arg(QString::fromLatin1(key), DecodeCp1251(section), Quoted(text),
                         DecodeCp1251(taken));
  };
  const auto text = [&](const char* key) -> std::optional<std::string> {
    if (!ini.ValueExists(section, key)) return std::nullopt;
    return ini.ReadString(section, key, "");
  };
  // A setting read by its parser, which puts its default in place of a text it does not know.
  const auto checkParsed = [&](const char* key, auto parse, auto format) {
    if (const auto value = text(key)) check(key, Recognised(*value, parse, format), *value, format(parse(*value)));
  };
  checkParsed("BaudRate", port::ParseBaudRate, port::BaudRateText);
  if (const auto baud = text("BaudRate"); baud && port::ParseBaudRate(*baud) == port::brCustom) {
    const std::string custom = ini.ReadString(section, "CustomBaudRate", "9600");
    check("CustomBaudRate", port::ParseWholeNumber(custom).has_value(), custom, "9600");
  }
  checkParsed("StopBits", port::ParseStopBits, port::StopBitsText);
  checkParsed("DataBits", port::ParseDataBits, port::DataBitsText);
  checkParsed("Parity", port::ParseParity, port::ParityText);
  checkParsed("FlowControl", port::ParseFlowControl, port::FlowControlText);
  return problems;
}

QString SettingsFileUnreadReason(int error) {
  switch (error) {
    case 0:
      return {};
    case EFBIG:
      return QStringLiteral("файл больше %1 КиБ, это не файл настроек").arg(port::kLargestIniFile / 1024);
    case EISDIR:
      return QStringLiteral("на его месте папка");
    case EINVAL:
      return QStringLiteral("это не обычный файл (канал или устройство)");
    case EACCES:
    case EPERM:
      return QStringLiteral("нет прав на чтение");
    default:
      return QStringLiteral("ошибка системы %1").arg(error);
  }
}

}  // namespace velmora::console
