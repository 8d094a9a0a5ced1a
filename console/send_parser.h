#pragma once
// The bytes a line of the send line stands for.
//
// Text: each character goes out as its CP1251 byte, as a typed key does, with the escapes \r \n
// \t \\ and \xNN (exactly two hex digits) for bytes no key types. Hex: byte values in hex,
// with or without blanks between them ("01 03 00 01" or "01030001"); a group of one digit is
// one byte ("1 3" is 01 03), a group may open with "0x". Whatever cannot be read gives an error
// in the operator's words naming the place (1-based character position), and no bytes: a line is
// sent whole or not at all. Pure functions, safe from any thread.

#include <optional>
#include <string>
#include <string_view>

#include <QString>

namespace velmora::console {

enum class SendMode { kText, kHex };

struct ParsedLine {
  std::string bytes;
  QString error;  // empty when the line was read
  bool Ok() const { return error.isEmpty(); }
};

ParsedLine ParseSendLine(QStringView line, SendMode mode);

// The settings' words: "text", "hex"; nothing for an unknown word.
std::string_view SendModeKey(SendMode mode);
std::optional<SendMode> ParseSendModeKey(std::string_view key);

}  // namespace velmora::console

namespace velmora::console {

enum class CheckKind;

// The frame a line sends: its bytes with the check appended. An empty line is an empty frame,
// without a check: there is nothing to protect.
ParsedLine ParseFrame(QStringView line, SendMode mode, CheckKind check);

}  // namespace velmora::console
