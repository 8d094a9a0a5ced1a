#pragma once
// The receive pane's display forms of received bytes: two upper-case hexadecimal digits and
// "." per byte, or eight binary digits (most significant first) and "." per byte.
// Pure functions, safe from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::console {

std::string ByteToBin(uint8_t byte);
std::string ToHexText(std::string_view text);
std::string ToBinText(std::string_view text);

}  // namespace velmora::console
