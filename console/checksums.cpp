#include "console/checksums.h"

#include <array>

#include "port/text_forms.h"

namespace velmora::console {
namespace {

// The bytes a run of hex pairs stands for; nothing when the run is odd or holds a non-hex
// character.
std::optional<std::string> DecodeHexPairs(std::string_view pairs) {
  if (pairs.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(pairs.size() / 2);
  for (size_t i = 0; i < pairs.size(); i += 2) {
    const int high = port::HexDigit(pairs[i]);
    const int low = port::HexDigit(pairs[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

void AppendHexByte(std::string& out, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0x0F]);
}

constexpr std::array<std::string_view, 5> kKeys = {"none", "crc16", "lrc", "xor", "sum8"};

}  // namespace

// A byte at a time from a table: every received frame is checked, at a flood's rate too.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    uint16_t crc = static_cast<uint16_t>(b);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    table[b] = crc;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

uint16_t Crc16Modbus(std::string_view bytes) {
  uint16_t crc = 0xFFFF;
  for (const char c : bytes) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ static_cast<uint8_t>(c)) & 0xFF]);
  return crc;
}

uint8_t Lrc8(std::string_view bytes) { return static_cast<uint8_t>(-Sum8(bytes)); }

uint8_t Xor8(std::string_view bytes) {
  uint8_t x = 0;
  for (const char c : bytes) x ^= static_cast<uint8_t>(c);
  return x;
}

uint8_t Sum8(std::string_view bytes) {
  uint8_t sum = 0;
  for (const char c : bytes) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string AppendCheck(std::string frame, CheckKind kind) {
  switch (kind) {
    case CheckKind::kNone:
      break;
    case CheckKind::kCrc16Modbus: {
      const uint16_t crc = Crc16Modbus(frame);
      frame.push_back(static_cast<char>(crc & 0xFF));
      frame.push_back(static_cast<char>(crc >> 8));
      break;
    }
    case CheckKind::kLrc: {
      std::string_view body = frame;
      const bool had_crlf = body.ends_with("\r\n");
      if (had_crlf) body.remove_suffix(2);
      std::optional<std::string> decoded;
      if (body.starts_with(':')) decoded = DecodeHexPairs(body.substr(1));
      std::string out(body);
      AppendHexByte(out, Lrc8(decoded ? *decoded : body));
      out += "\r\n";
      return out;
    }
    case CheckKind::kXor:
      frame.push_back(static_cast<char>(Xor8(frame)));
      break;
    case CheckKind::kSum8:
      frame.push_back(static_cast<char>(Sum8(frame)));
      break;
  }
  return frame;
}

std::string_view CheckKindKey(CheckKind kind) { return kKeys[static_cast<size_t>(kind)]; }

std::optional<CheckKind> ParseCheckKindKey(std::string_view key) {
  for (size_t i = 0; i < kKeys.size(); ++i)
    if (kKeys[i] == key) return static_cast<CheckKind>(i);
  return std::nullopt;
}

bool EndsWithValidCrc16Modbus(std::string_view frame) {
  if (frame.size() < 3) return false;
  const uint16_t crc = Crc16Modbus(frame.substr(0, frame.size() - 2));
  return static_cast<uint8_t>(frame[frame.size() - 2]) == (crc & 0xFF) &&
         static_cast<uint8_t>(frame[frame.size() - 1]) == (crc >> 8);
}

std::optional<bool> ModbusAsciiLrcMatches(std::string_view frame) {
  if (!frame.starts_with(':')) return std::nullopt;
  frame.remove_prefix(1);
  if (frame.ends_with("\r\n")) frame.remove_suffix(2);
  const std::optional<std::string> bytes = DecodeHexPairs(frame);
  // The address, at least a function code, and the LRC itself.
  if (!bytes || bytes->size() < 3) return std::nullopt;
  const std::string_view body(bytes->data(), bytes->size() - 1);
  return Lrc8(body) == static_cast<uint8_t>(bytes->back());
}

}  // namespace velmora::console
