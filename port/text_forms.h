#pragma once
// Text forms of the port settings and their parsers.
//
// These are the texts the settings file holds, the selector boxes list and the status bar
// shows. Every function is pure and thread-safe. Parsers never fail: a text they do not
// recognise gives the setting's fallback value. Enumeration texts compare after upper-casing
// ASCII letters only (other bytes, such as CP1251 letters, are compared as they stand), and no
// blanks are trimmed. Text is a string of single bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "port/com_types.h"

namespace velmora::port {

std::string BaudRateText(TBaudRate value);
TBaudRate ParseBaudRate(std::string_view text);  // unrecognised: br9600

std::string StopBitsText(TStopBits value);
TStopBits ParseStopBits(std::string_view text);  // unrecognised: sbOneStopBit

std::string DataBitsText(TDataBits value);
TDataBits ParseDataBits(std::string_view text);  // unrecognised: dbEight

std::string ParityText(TParityBits value);
TParityBits ParseParity(std::string_view text);  // unrecognised: prNone

std::string FlowControlText(TFlowControl value);
TFlowControl ParseFlowControl(std::string_view text);  // unrecognised: fcCustom

std::string DTRControlText(TDTRFlowControl value);
TDTRFlowControl ParseDTRControl(std::string_view text);  // unrecognised: dtrDisable

std::string RTSControlText(TRTSFlowControl value);
TRTSFlowControl ParseRTSControl(std::string_view text);  // unrecognised: rtsDisable

// "Yes" / "No"; only "yes" in any letter case parses as true.
std::string BoolText(bool value);
bool ParseBool(std::string_view text);

// Codes 33..127 as the character itself, every other code as '#' and its decimal code.
// The parser takes '#' followed by a whole number (low 8 bits), else the first character;
// a lone "#" is the character '#', the empty text and a bad number give code 0.
std::string CharText(char value);
char ParseChar(std::string_view text);

// A whole number as the settings file and the character form write it: optional leading
// blanks, an optional sign, then decimal digits or hexadecimal digits after "$" or "0x".
// Nothing may follow. A value outside the 32-bit range is not a whole number, except that
// hexadecimal takes all 32 bits (0xFFFFFFFF is -1), as stored files written elsewhere do.
std::optional<int32_t> ParseWholeNumber(std::string_view text);

// The value of one hexadecimal digit in either letter case; -1 for any other character.
int HexDigit(char c);

}  // namespace velmora::port
