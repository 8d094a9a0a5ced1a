#pragma once
// The checks binary protocols put at the end of a frame, and the verdict on a received frame.
//
// CRC-16/Modbus (polynomial 0xA001 reflected, start 0xFFFF) travels low byte first after the
// frame. LRC is Modbus ASCII's: the two's complement of the 8-bit sum of the frame's bytes, sent
// as two upper-case hex characters before CR LF; for a frame that is itself Modbus ASCII
// (':' then hex pairs) the sum is taken over the bytes the pairs stand for, as the protocol has
// it. XOR and the 8-bit sum are one raw byte each. Pure functions, safe from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::console {

enum class CheckKind { kNone, kCrc16Modbus, kLrc, kXor, kSum8 };

uint16_t Crc16Modbus(std::string_view bytes);
// Two's complement of the 8-bit sum of `bytes`.
uint8_t Lrc8(std::string_view bytes);
uint8_t Xor8(std::string_view bytes);
uint8_t Sum8(std::string_view bytes);

// `frame` with its check appended. LRC goes before a trailing CR LF when the frame has one, and
// brings CR LF when it has not.
std::string AppendCheck(std::string frame, CheckKind kind);

// The settings' words: "none", "crc16", "lrc", "xor", "sum8"; nothing for an unknown word.
std::string_view CheckKindKey(CheckKind kind);
std::optional<CheckKind> ParseCheckKindKey(std::string_view key);

// Whether the frame's last two bytes are the CRC-16/Modbus of the bytes before them (low byte
// first). A frame of fewer than three bytes has no room for one: false.
bool EndsWithValidCrc16Modbus(std::string_view frame);

// The verdict on a Modbus ASCII frame (':' , hex pairs, the LRC pair, optional CR LF): whether
// its LRC matches. Nothing when the frame is not of that form, so a caller can tell "wrong
// check" from "not this protocol".
std::optional<bool> ModbusAsciiLrcMatches(std::string_view frame);

}  // namespace velmora::console
