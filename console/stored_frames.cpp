#include "console/stored_frames.h"

#include <charconv>
#include <vector>

#include "console/cp1251.h"
#include "port/ini_file.h"

namespace velmora::console {
namespace {

constexpr char kSection[] = "Frames";

std::string KeyName(size_t index) { return "F" + std::to_string(index + 1); }

}  // namespace

QStringList SendModeCaptions() { return {QStringLiteral("Текст"), QStringLiteral("Hex")}; }

QStringList CheckKindCaptions() {
  return {QStringLiteral("Без контроля"), QStringLiteral("CRC-16/Modbus"), QStringLiteral("LRC"),
          QStringLiteral("XOR"), QStringLiteral("Сумма (8 бит)")};
}

std::string StoredFrameValue(const StoredFrame& frame) {
  if (frame.Empty()) return {};
  return EncodeCp1251(frame.name) + ';' + std::string(SendModeKey(frame.mode)) + ';' +
         std::string(CheckKindKey(frame.check)) + ';' + std::to_string(frame.periodMs) + ';' +
         EncodeCp1251(frame.line);
}

std::optional<StoredFrame> ParseStoredFrameValue(std::string_view value, QString* problem) {
  problem->clear();
  if (value.empty()) return std::nullopt;
  std::vector<std::string_view> fields;
  for (int i = 0; i < 4; ++i) {
    const size_t end = value.find(';');
    if (end == std::string_view::npos) {
      *problem = QStringLiteral("нужно имя;режим;контроль;период;строка");
      return std::nullopt;
    }
    fields.push_back(value.substr(0, end));
    value.remove_prefix(end + 1);
  }
  StoredFrame frame;
  frame.name = DecodeCp1251(fields[0]);
  frame.line = DecodeCp1251(value);
  const std::optional<SendMode> mode = ParseSendModeKey(fields[1]);
  const std::optional<CheckKind> check = ParseCheckKindKey(fields[2]);
  int period = -1;
  const auto [end, error] = std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), period);
  if (!mode) {
    *problem = QStringLiteral("режим не text и не hex");
  } else if (!check) {
    *problem = QStringLiteral("контроль не none, crc16, lrc, xor и не sum8");
  } else if (error != std::errc() || end != fields[3].data() + fields[3].size() || period < 0 ||
             period > kLongestPollPeriodMs) {
    *problem = QStringLiteral("период не число миллисекунд от 0 до %1").arg(kLongestPollPeriodMs);
  } else {
    frame.mode = *mode;
    frame.check = *check;
    frame.periodMs = period;
    *problem = StoredFrameProblem(frame);
  }
  if (!problem->isEmpty()) return std::nullopt;
  return frame;
}

StoredFrames ReadStoredFrames(const port::IniFile& ini, QStringList* problems) {
  StoredFrames frames;
  for (size_t i = 0; i < frames.size(); ++i) {
    const std::string key = KeyName(i);
    const std::string value = ini.ReadString(kSection, key, "");
    QString problem;
    if (std::optional<StoredFrame> frame = ParseStoredFrameValue(value, &problem))
      frames[i] = std::move(*frame);
    else if (!problem.isEmpty())
      *problems << QStringLiteral("Ключ %1 раздела [Frames]: «%2» — %3; клавиша свободна")
                       .arg(QString::fromLatin1(key), DecodeCp1251(value), problem);
  }
  return frames;
}

void WriteStoredFrames(port::IniFile& ini, const StoredFrames& frames) {
  for (size_t i = 0; i < frames.size(); ++i) {
    const std::string key = KeyName(i);
    const std::string value = StoredFrameValue(frames[i]);
    // A file that never had frames stays without the section.
    if (value.empty() && !ini.ValueExists(kSection, key)) continue;
    ini.WriteString(kSection, key, value);
  }
}

QString StoredFrameProblem(const StoredFrame& frame) {
  if (frame.Empty()) return {};
  if (frame.name.contains(u';')) return QStringLiteral("в имени не может быть «;»");
  // The file trims a value's blanks: a text that ends in one would come back without it.
  if (frame.mode == SendMode::kText && frame.line.back().isSpace())
    return QStringLiteral("текст не может кончаться пробелом: в конце пишите \\x20");
  if (frame.periodMs < 0 || frame.periodMs > kLongestPollPeriodMs)
    return QStringLiteral("период не от 0 до %1 мс").arg(kLongestPollPeriodMs);
  const ParsedLine parsed = ParseSendLine(frame.line, frame.mode);
  if (!parsed.Ok()) return parsed.error;
  return {};
}

}  // namespace velmora::console
