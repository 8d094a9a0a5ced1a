#include "console/cp1251.h"

#include <array>

namespace velmora::console {

namespace {

// 0x80 … 0xBF; 0xC0 … 0xFF are U+0410 … U+044F in order, 0x00 … 0x7F are ASCII.
constexpr std::array<char16_t, 64> kUpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr std::array<char16_t, 256> MakeDecodeTable() {
  std::array<char16_t, 256> table{};
  for (unsigned b = 0; b < 0x80; ++b) table[b] = static_cast<char16_t>(b);
  for (unsigned b = 0x80; b < 0xC0; ++b) table[b] = kUpperHalf[b - 0x80];
  for (unsigned b = 0xC0; b < 0x100; ++b) table[b] = static_cast<char16_t>(0x0410 + (b - 0xC0));
  return table;
}

constexpr std::array<char16_t, 256> kDecode = MakeDecodeTable();

}  // namespace

char16_t Cp1251ToUnicode(uint8_t byte) { return kDecode[byte]; }

std::optional<uint8_t> UnicodeToCp1251(char16_t ch) {
  if (ch < 0x80) return static_cast<uint8_t>(ch);
  if (ch >= 0x0410 && ch <= 0x044F) return static_cast<uint8_t>(0xC0 + (ch - 0x0410));
  for (size_t i = 0; i < kUpperHalf.size(); ++i)
    if (kUpperHalf[i] == ch) return static_cast<uint8_t>(0x80 + i);
  return std::nullopt;
}

void AppendDecodedCp1251(QString& out, std::string_view bytes) {
  const qsizetype start = out.size();
  out.resize(start + static_cast<qsizetype>(bytes.size()));
  QChar* dst = out.data() + start;
  for (char c : bytes) *dst++ = QChar(kDecode[static_cast<uint8_t>(c)]);
}

std::string EncodeCp1251(QStringView text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (QChar ch : text)
    bytes.push_back(static_cast<char>(UnicodeToCp1251(ch.unicode()).value_or('?')));
  return bytes;
}

QString DecodeCp1251(std::string_view bytes) {
  QString out;
  AppendDecodedCp1251(out, bytes);
  return out;
}

}  // namespace velmora::console
