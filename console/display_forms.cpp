#include "console/display_forms.h"

#include <array>
#include <cstring>

namespace velmora::console {

namespace {

// Each byte's whole form, "41." or "01000001.", looked up rather than formatted: the hex and
// binary views carry the full line rate.
template <size_t Width>
using FormTable = std::array<std::array<char, Width>, 256>;

constexpr FormTable<3> MakeHexTable() {
  constexpr char kDigits[] = "0123456789ABCDEF";
  FormTable<3> table{};
  for (unsigned b = 0; b < 256; ++b) table[b] = {kDigits[b >> 4], kDigits[b & 15], '.'};
  return table;
}

constexpr FormTable<9> MakeBinTable() {
  FormTable<9> table{};
  for (unsigned b = 0; b < 256; ++b) {
    for (unsigned bit = 0; bit < 8; ++bit) table[b][bit] = (b & (0x80u >> bit)) ? '1' : '0';
    table[b][8] = '.';
  }
  return table;
}

constexpr FormTable<3> kHex = MakeHexTable();
constexpr FormTable<9> kBin = MakeBinTable();

template <size_t Width>
std::string Expand(std::string_view text, const FormTable<Width>& table) {
  std::string out(text.size() * Width, '\0');
  char* dst = out.data();
  for (char c : text) {
    std::memcpy(dst, table[static_cast<uint8_t>(c)].data(), Width);
    dst += Width;
  }
  return out;
}

}  // namespace

std::string ByteToBin(uint8_t byte) { return std::string(kBin[byte].data(), 8); }

std::string ToHexText(std::string_view text) { return Expand(text, kHex); }

std::string ToBinText(std::string_view text) { return Expand(text, kBin); }

}  // namespace velmora::console
