// libFuzzer target: the INI text format reader and writer.
//
// Input: one byte choosing names, then the file's content. Checks that reading never fails,
// that a written key reads back as written, that no other key's value changes, and that a
// write is one edit inside a line or between lines of the old content.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "port/ini_file.h"

namespace {

using velmora::port::FindIniValue;
using velmora::port::IsWritableIniEntry;
using velmora::port::SetIniValue;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

bool SameName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::vector<std::string_view> Lines(std::string_view s) {
  std::vector<std::string_view> lines;
  while (!s.empty()) {
    const std::size_t lf = s.find('\n');
    lines.push_back(s.substr(0, lf));
    if (lf == std::string_view::npos) break;
    s.remove_prefix(lf + 1);
  }
  return lines;
}

// Names taken from the content itself, so the fuzzer reaches existing sections and keys.
std::vector<std::string> NamesIn(std::string_view content, char open, char close) {
  std::vector<std::string> names;
  for (std::string_view line : Lines(content)) {
    const std::size_t a = line.find(open);
    if (a == std::string_view::npos) continue;
    const std::size_t b = line.find(close, a + 1);
    if (open == '[')
      names.emplace_back(line.substr(a + 1, b == std::string_view::npos ? line.npos : b - a - 1));
    else
      names.emplace_back(line.substr(0, a));
    if (names.size() == 8) break;
  }
  return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string_view content(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> sections = NamesIn(content, '[', ']');
  std::vector<std::string> keys = NamesIn(content, '=', '=');
  sections.push_back("ComPort1");
  keys.push_back("RTS/CTS");
  for (const std::string& s : sections)
    for (const std::string& k : keys) (void)FindIniValue(content, s, k);

  const std::string& section = sections[selector % sections.size()];
  const std::string& key = keys[(selector / 16) % keys.size()];
  const std::string value = "v" + std::to_string(selector);
  if (!IsWritableIniEntry(section, key, value)) return 0;

  const std::string updated = SetIniValue(content, section, key, value);
  Check(FindIniValue(updated, section, key) == value);

  // Every other (section, key) reads as before.
  for (const std::string& s : sections)
    for (const std::string& k : keys)
      if (!SameName(s, section) || !SameName(k, key))
        Check(FindIniValue(updated, s, k) == FindIniValue(content, s, k));

  // One contiguous edit that spans no line end of the old content: a value replaced in its
  // line, or lines added between two old ones (or at the end).
  std::size_t prefix = 0;
  while (prefix < content.size() && prefix < updated.size() && content[prefix] == updated[prefix])
    ++prefix;
  std::size_t suffix = 0;
  while (suffix < content.size() - prefix && suffix < updated.size() - prefix &&
         content[content.size() - 1 - suffix] == updated[updated.size() - 1 - suffix])
    ++suffix;
  const std::string_view removed = content.substr(prefix, content.size() - prefix - suffix);
  Check(removed.find('\n') == std::string_view::npos);
  return 0;
}
