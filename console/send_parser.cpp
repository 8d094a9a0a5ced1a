#include "console/send_parser.h"

#include "console/checksums.h"
#include "console/cp1251.h"
#include "port/text_forms.h"

namespace velmora::console {
namespace {

// A hexadecimal digit's value, -1 for any other character.
int HexDigit(QChar c) { return c.unicode() < 0x80 ? port::HexDigit(static_cast<char>(c.unicode())) : -1; }

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

ParsedLine Failure(QString error) { return ParsedLine{{}, std::move(error)}; }

QString Position(qsizetype index) { return QString::number(index + 1); }

ParsedLine ParseText(QStringView line) {
  ParsedLine parsed;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c != u'\\') {
      const std::optional<uint8_t> byte = UnicodeToCp1251(c.unicode());
      if (!byte)
        return Failure(QStringLiteral("Символ «%1» (позиция %2) не передать: его нет в кодировке CP1251")
                           .arg(c)
                           .arg(Position(i)));
      parsed.bytes.push_back(static_cast<char>(*byte));
      continue;
    }
    if (i + 1 == line.size())
      return Failure(QStringLiteral("Строка кончается на \\ (позиция %1): после \\ нужна буква "
                                    "r, n, t, x или ещё одна \\")
                         .arg(Position(i)));
    const QChar escape = line[++i];
    switch (escape.unicode()) {
      case 'r': parsed.bytes.push_back('\r'); break;
      case 'n': parsed.bytes.push_back('\n'); break;
      case 't': parsed.bytes.push_back('\t'); break;
      case '\\': parsed.bytes.push_back('\\'); break;
      case 'x': {
        const int high = i + 1 < line.size() ? HexDigit(line[i + 1]) : -1;
        const int low = i + 2 < line.size() ? HexDigit(line[i + 2]) : -1;
        if (high < 0 || low < 0)
          return Failure(QStringLiteral("После \\x (позиция %1) нужны две шестнадцатеричные цифры")
                             .arg(Position(i - 1)));
        parsed.bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        break;
      }
      default:
        return Failure(QStringLiteral("Неизвестная последовательность \\%1 (позиция %2): "
                                      "допустимы \\r, \\n, \\t, \\\\ и \\xNN")
                           .arg(escape)
                           .arg(Position(i - 1)));
    }
  }
  return parsed;
}

ParsedLine ParseHex(QStringView line) {
  ParsedLine parsed;
  qsizetype i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    const qsizetype groupStart = i;
    if (line[i] == u'0' && i + 1 < line.size() && (line[i + 1] == u'x' || line[i + 1] == u'X')) i += 2;
    const qsizetype digitsStart = i;
    while (i < line.size() && !IsBlank(line[i])) {
      if (HexDigit(line[i]) < 0)
        return Failure(QStringLiteral("«%1» (позиция %2) не шестнадцатеричная цифра")
                           .arg(line[i])
                           .arg(Position(i)));
      ++i;
    }
    const qsizetype digits = i - digitsStart;
    if (digits == 0)
      return Failure(QStringLiteral("После 0x (позиция %1) нет цифр").arg(Position(groupStart)));
    if (digits == 1) {
      parsed.bytes.push_back(static_cast<char>(HexDigit(line[digitsStart])));
      continue;
    }
    if (digits % 2 != 0)
      return Failure(QStringLiteral("Нечётное число цифр в группе «%1» (позиция %2): байт — две цифры")
                         .arg(line.mid(groupStart, i - groupStart))
                         .arg(Position(groupStart)));
    for (qsizetype d = digitsStart; d < i; d += 2)
      parsed.bytes.push_back(static_cast<char>(HexDigit(line[d]) * 16 + HexDigit(line[d + 1])));
  }
  return parsed;
}

}  // namespace

ParsedLine ParseSendLine(QStringView line, SendMode mode) {
  return mode == SendMode::kHex ? ParseHex(line) : ParseText(line);
}

ParsedLine ParseFrame(QStringView line, SendMode mode, CheckKind check) {
  ParsedLine parsed = ParseSendLine(line, mode);
  if (parsed.Ok() && !parsed.bytes.empty()) parsed.bytes = AppendCheck(std::move(parsed.bytes), check);
  return parsed;
}

std::string_view SendModeKey(SendMode mode) { return mode == SendMode::kHex ? "hex" : "text"; }

std::optional<SendMode> ParseSendModeKey(std::string_view key) {
  if (key == "text") return SendMode::kText;
  if (key == "hex") return SendMode::kHex;
  return std::nullopt;
}

}  // namespace velmora::console
