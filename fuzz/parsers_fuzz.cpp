// libFuzzer target: the text-form parsers and the whole-number reader.
//
// Every parser must accept any bytes and give a value inside its enumeration, whose text parses
// back to the same value; numbers that read must print back to the same value.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "port/text_forms.h"

namespace {

using namespace velmora::port;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

template <typename E, typename TextFn, typename ParseFn>
void CheckEnum(std::string_view text, int count, TextFn toText, ParseFn parse) {
  const E value = parse(text);
  Check(static_cast<int>(value) < count);
  Check(parse(toText(value)) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  CheckEnum<TBaudRate>(text, 16, BaudRateText, ParseBaudRate);
  CheckEnum<TStopBits>(text, 3, StopBitsText, ParseStopBits);
  CheckEnum<TDataBits>(text, 4, DataBitsText, ParseDataBits);
  CheckEnum<TParityBits>(text, 5, ParityText, ParseParity);
  CheckEnum<TFlowControl>(text, 4, FlowControlText, ParseFlowControl);
  CheckEnum<TDTRFlowControl>(text, 3, DTRControlText, ParseDTRControl);
  CheckEnum<TRTSFlowControl>(text, 4, RTSControlText, ParseRTSControl);

  const bool flag = ParseBool(text);
  Check(ParseBool(BoolText(flag)) == flag);

  const char c = ParseChar(text);
  Check(ParseChar(CharText(c)) == c);

  if (const std::optional<int32_t> number = ParseWholeNumber(text)) {
    Check(ParseWholeNumber(std::to_string(*number)) == number);
    // A decimal text that reads is the number itself, apart from blanks, sign and zeros.
    if (text.find_first_of("$xX") == std::string_view::npos) {
      std::string digits;
      for (char ch : text)
        if (ch >= '0' && ch <= '9') digits.push_back(ch);
      const std::size_t nonZero = digits.find_first_not_of('0');
      digits = nonZero == std::string::npos ? "0" : digits.substr(nonZero);
      std::string printed = std::to_string(*number);
      if (printed.front() == '-') printed.erase(0, 1);
      Check(digits == printed);
    }
  }
  return 0;
}
