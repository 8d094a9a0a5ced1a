#pragma once
// Windows-1251 ↔ Unicode, one byte per character.
//
// The console exchanges single-byte text with its peers: a typed character goes out as its one
// CP1251 byte, received bytes are shown through CP1251. The byte 0x98, which the code page leaves
// undefined, stands for U+0098 so that every byte has a character and back. Pure functions,
// safe from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

namespace velmora::console {

char16_t Cp1251ToUnicode(uint8_t byte);
// The byte for `ch`, or nothing when CP1251 has no such character.
std::optional<uint8_t> UnicodeToCp1251(char16_t ch);

QString DecodeCp1251(std::string_view bytes);
// One byte per character; a character the code page cannot hold becomes '?'.
std::string EncodeCp1251(QStringView text);
// Appends the decoded bytes to `out` without a temporary string.
void AppendDecodedCp1251(QString& out, std::string_view bytes);

}  // namespace velmora::console
