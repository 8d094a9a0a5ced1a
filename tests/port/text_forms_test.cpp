#include "port/text_forms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velmora::port {
namespace {

// Every value's text parses back to that value, in any ASCII letter case.
template <typename E, typename TextFn, typename ParseFn>
void ExpectRoundTrips(int count, TextFn text, ParseFn parse) {
  for (int i = 0; i < count; ++i) {
    const auto value = static_cast<E>(i);
    const std::string t = text(value);
    ASSERT_FALSE(t.empty()) << i;
    EXPECT_EQ(parse(t), value) << t;
    std::string lower = t;
    for (char& c : lower) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
    EXPECT_EQ(parse(lower), value) << lower;
  }
}

TEST(TextForms, EveryEnumerationTextParsesBack) {
  ExpectRoundTrips<TBaudRate>(16, BaudRateText, ParseBaudRate);
  ExpectRoundTrips<TStopBits>(3, StopBitsText, ParseStopBits);
  ExpectRoundTrips<TDataBits>(4, DataBitsText, ParseDataBits);
  ExpectRoundTrips<TParityBits>(5, ParityText, ParseParity);
  ExpectRoundTrips<TFlowControl>(4, FlowControlText, ParseFlowControl);
  ExpectRoundTrips<TDTRFlowControl>(3, DTRControlText, ParseDTRControl);
  ExpectRoundTrips<TRTSFlowControl>(4, RTSControlText, ParseRTSControl);
}

TEST(TextForms, TextsAreTheStoredOnes) {
  EXPECT_EQ(BaudRateText(brCustom), "Custom");
  EXPECT_EQ(BaudRateText(br256000), "256000");
  EXPECT_EQ(StopBitsText(sbOne5StopBits), "1.5");
  EXPECT_EQ(DataBitsText(dbFive), "5");
  EXPECT_EQ(ParityText(prSpace), "Space");
  EXPECT_EQ(FlowControlText(fcHardware), "Hardware");
  EXPECT_EQ(DTRControlText(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSControlText(rtsToggle), "Toggle");
  EXPECT_EQ(BoolText(true), "Yes");
  EXPECT_EQ(BoolText(false), "No");
}

TEST(TextForms, UnrecognisedTextsGiveTheFallbacks) {
  for (const char* text : {"", "9601", " 9600", "9600 ", "brCustom", "CUSTOM\xE0"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParseBaudRate(text), br9600);
  }
  EXPECT_EQ(ParseBaudRate("custom"), brCustom);
  EXPECT_EQ(ParseBaudRate("cUsToM"), brCustom);
  EXPECT_EQ(ParseStopBits("1,5"), sbOneStopBit);
  EXPECT_EQ(ParseDataBits("9"), dbEight);
  EXPECT_EQ(ParseParity("Hardware"), prNone);
  EXPECT_EQ(ParseFlowControl("hardware"), fcHardware);
  EXPECT_EQ(ParseFlowControl("RTS/CTS"), fcCustom);
  EXPECT_EQ(ParseFlowControl(""), fcCustom);
  EXPECT_EQ(ParseDTRControl("Toggle"), dtrDisable);  // a value of the RTS table only
  EXPECT_EQ(ParseRTSControl("x"), rtsDisable);
  // The two tables that hold "None" are separate.
  EXPECT_EQ(ParseParity("None"), prNone);
  EXPECT_EQ(ParseFlowControl("None"), fcNone);
  EXPECT_EQ(ParseFlowControl("NONE"), fcNone);
}

TEST(TextForms, OnlyYesIsTrue) {
  for (const char* yes : {"yes", "YES", "Yes", "yEs"}) EXPECT_TRUE(ParseBool(yes)) << yes;
  for (const char* no : {"True", "1", "Y", "", "No", "yes ", " yes"}) EXPECT_FALSE(ParseBool(no)) << no;
}

struct CharTextCase {
  int code;
  const char* text;
};

TEST(TextForms, CharTextWritesPrintableAsciiAsItself) {
  const CharTextCase cases[] = {{33, "!"},     {127, "\x7F"},  {128, "#128"}, {32, "#32"},
                                {0, "#0"},     {17, "#17"},    {19, "#19"},   {65, "A"},
                                {35, "#"},     {255, "#255"},  {200, "#200"}};
  for (const CharTextCase& c : cases) {
    EXPECT_EQ(CharText(static_cast<char>(c.code)), c.text) << c.code;
    // And back again: every code survives its own text.
    EXPECT_EQ(static_cast<unsigned char>(ParseChar(c.text)), c.code) << c.code;
  }
}

TEST(TextForms, ParseCharCases) {
  const CharTextCase cases[] = {
      {65, "#65"},  {65, "#321"},   {0, "#x"},      {'#', "#"},     {'A', "AB"},
      {0, ""},      {255, "#-1"},   {16, "#$10"},   {16, "#0x10"},  {16, "#0X10"},
      {65, "#  65"}, {65, "#+65"},  {0, "#65 "},    {0, "#6 5"},    {0, "#$"},
      {0, "#0x"},   {0, "#99999999999"}, {0xFF, "#0xFFFFFFFF"}, {0, "##"},
      {' ', " A"},
  };
  for (const CharTextCase& c : cases) {
    EXPECT_EQ(static_cast<unsigned char>(ParseChar(c.text)), c.code) << '"' << c.text << '"';
  }
}

TEST(TextForms, WholeNumbers) {
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"1024", 1024},
      {"0x400", 1024},
      {"$400", 1024},
      {"-1", -1},
      {"  7", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"0xFFFFFFFF", -1},
      {"0x100000000", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"12 ", std::nullopt},
      {"abc", std::nullopt},
      {"0x", std::nullopt},
      {"1e3", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseWholeNumber(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
}  // namespace velmora::port
