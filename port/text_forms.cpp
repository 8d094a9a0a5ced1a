#include "port/text_forms.h"

#include <array>
#include <cstddef>

#include "platform/ascii_case.h"

namespace velmora::port {

using platform::EqualIgnoringAsciiCase;

namespace {

constexpr std::array<std::string_view, 16> kBaudRateTexts = {
    "Custom", "110",   "300",   "600",   "1200",   "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600",  "115200", "128000", "256000"};
constexpr std::array<std::string_view, 3> kStopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<std::string_view, 4> kDataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<std::string_view, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<std::string_view, 4> kFlowControlTexts = {"Hardware", "Software", "None",
                                                               "Custom"};
constexpr std::array<std::string_view, 3> kDTRControlTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<std::string_view, 4> kRTSControlTexts = {"Disable", "Enable", "Handshake",
                                                              "Toggle"};

template <typename E, std::size_t N>
std::string TextOf(const std::array<std::string_view, N>& texts, E value) {
  const auto index = static_cast<std::size_t>(value);
  // An out-of-range ordinal can only come from a cast; give it no text rather than read past.
  return index < N ? std::string(texts[index]) : std::string();
}

template <typename E, std::size_t N>
E ParseOf(const std::array<std::string_view, N>& texts, std::string_view text, E fallback) {
  for (std::size_t i = 0; i < N; ++i)
    if (EqualIgnoringAsciiCase(texts[i], text)) return static_cast<E>(i);
  return fallback;
}

}  // namespace

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string BaudRateText(TBaudRate value) { return TextOf(kBaudRateTexts, value); }
TBaudRate ParseBaudRate(std::string_view text) { return ParseOf(kBaudRateTexts, text, br9600); }

std::string StopBitsText(TStopBits value) { return TextOf(kStopBitsTexts, value); }
TStopBits ParseStopBits(std::string_view text) {
  return ParseOf(kStopBitsTexts, text, sbOneStopBit);
}

std::string DataBitsText(TDataBits value) { return TextOf(kDataBitsTexts, value); }
TDataBits ParseDataBits(std::string_view text) { return ParseOf(kDataBitsTexts, text, dbEight); }

std::string ParityText(TParityBits value) { return TextOf(kParityTexts, value); }
TParityBits ParseParity(std::string_view text) { return ParseOf(kParityTexts, text, prNone); }

std::string FlowControlText(TFlowControl value) { return TextOf(kFlowControlTexts, value); }
TFlowControl ParseFlowControl(std::string_view text) {
  return ParseOf(kFlowControlTexts, text, fcCustom);
}

std::string DTRControlText(TDTRFlowControl value) { return TextOf(kDTRControlTexts, value); }
TDTRFlowControl ParseDTRControl(std::string_view text) {
  return ParseOf(kDTRControlTexts, text, dtrDisable);
}

std::string RTSControlText(TRTSFlowControl value) { return TextOf(kRTSControlTexts, value); }
TRTSFlowControl ParseRTSControl(std::string_view text) {
  return ParseOf(kRTSControlTexts, text, rtsDisable);
}

std::string BoolText(bool value) { return value ? "Yes" : "No"; }
bool ParseBool(std::string_view text) { return EqualIgnoringAsciiCase(text, "YES"); }

std::string CharText(char value) {
  const auto code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  return "#" + std::to_string(code);
}

char ParseChar(std::string_view text) {
  if (text.empty()) return '\0';
  if (text.front() == '#' && text.size() > 1) {
    const std::optional<int32_t> number = ParseWholeNumber(text.substr(1));
    if (!number) return '\0';
    return static_cast<char>(static_cast<unsigned char>(static_cast<uint32_t>(*number) & 0xFFu));
  }
  return text.front();
}

std::optional<int32_t> ParseWholeNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;

  // The magnitude is gathered in 64 bits and checked after every digit, so no input overflows.
  const uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigit(text[i]) : ((text[i] >= '0' && text[i] <= '9') ? text[i] - '0' : -1);
    if (digit < 0) return std::nullopt;
    magnitude = magnitude * (hex ? 16u : 10u) + static_cast<uint64_t>(digit);
    if (magnitude > limit) return std::nullopt;
  }
  auto bits = static_cast<uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  return static_cast<int32_t>(bits);
}

}  // namespace velmora::port
