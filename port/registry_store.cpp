#include "port/registry_store.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/ascii_case.h"
#include "port/atomic_file.h"
#include "port/text_forms.h"

namespace velmora::port {

using platform::AsciiLower;
using platform::EqualIgnoringAsciiCase;

namespace {

constexpr std::string_view kValuesFileName = "@values";  // '@' never survives name escaping
constexpr std::size_t kMaxKeyNameLength = 255;

bool SameName(std::string_view a, std::string_view b) { return EqualIgnoringAsciiCase(a, b); }

void AppendEscapedByte(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('%');
  out.push_back(kHex[c >> 4]);
  out.push_back(kHex[c & 0x0F]);
}

// A key name as a folder name: letters folded (names compare without case), and everything but
// letters, digits, '_', '-' and blanks escaped, so "..", "/" and "@values" cannot occur.
std::string FolderNameOf(std::string_view keyName) {
  std::string out;
  for (char raw : keyName) {
    const char c = AsciiLower(raw);
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' || c == ' ')
      out.push_back(c);
    else
      AppendEscapedByte(out, static_cast<unsigned char>(c));
  }
  return out;
}

// Names and data in the values file: one value per line, so line breaks, '%' and '=' are
// escaped, and with them every other control byte.
std::string EscapeField(std::string_view s) {
  std::string out;
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '%' || c == '=')
      AppendEscapedByte(out, c);
    else
      out.push_back(ch);
  }
  return out;
}

std::optional<std::string> UnescapeField(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      out.push_back(s[i]);
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    const int high = HexDigit(s[i + 1]);
    const int low = HexDigit(s[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

struct Entry {
  std::string name;
  bool isNumber = false;
  std::string data;
};

// Lines "s name=data" or "n name=decimal"; a line that does not read is skipped, so one damaged
// line costs that value only.
std::vector<Entry> ParseValues(std::string_view content) {
  std::vector<Entry> entries;
  while (!content.empty()) {
    std::size_t lf = content.find('\n');
    const std::string_view line = content.substr(0, lf);
    content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
    if (line.size() < 3 || (line[0] != 's' && line[0] != 'n') || line[1] != ' ') continue;
    const std::size_t eq = line.find('=', 2);
    if (eq == std::string_view::npos) continue;
    std::optional<std::string> name = UnescapeField(line.substr(2, eq - 2));
    std::optional<std::string> data = UnescapeField(line.substr(eq + 1));
    if (!name || !data) continue;
    entries.push_back({std::move(*name), line[0] == 'n', std::move(*data)});
  }
  return entries;
}

std::string FormatValues(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) {
    out.append(e.isNumber ? "n " : "s ");
    out.append(EscapeField(e.name)).append("=").append(EscapeField(e.data)).append("\n");
  }
  return out;
}

std::string_view RootFolderName(RegistryStore::Root root) {
  return root == RegistryStore::Root::kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

}  // namespace

RegistryStore::RegistryStore(std::filesystem::path folder, Root root)
    : folder_(std::move(folder)), root_(root) {}

std::filesystem::path RegistryStore::DefaultFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "Velmora" / "registry";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0')
    return std::filesystem::path(home) / ".config" / "Velmora" / "registry";
  return {};
}

void RegistryStore::SetRootKey(Root root) {
  CloseKey();
  root_ = root;
}

bool RegistryStore::OpenKey(std::string_view keyPath, bool canCreate) {
  CloseKey();
  if (folder_.empty()) return false;
  std::filesystem::path key = folder_ / RootFolderName(root_);
  if (!keyPath.empty()) {
    for (;;) {
      const std::size_t slash = keyPath.find('\\');
      const std::string_view element = keyPath.substr(0, slash);
      if (element.empty() || element.size() > kMaxKeyNameLength) return false;
      key /= FolderNameOf(element);
      if (slash == std::string_view::npos) break;
      keyPath.remove_prefix(slash + 1);
    }
  }
  std::error_code ec;
  if (canCreate) std::filesystem::create_directories(key, ec);
  if (ec || !std::filesystem::is_directory(key, ec)) return false;
  key_ = std::move(key);
  return true;
}

void RegistryStore::CloseKey() { key_.reset(); }

std::filesystem::path RegistryStore::ValuesFile() const { return *key_ / kValuesFileName; }

std::optional<RegistryStore::Value> RegistryStore::Find(std::string_view name) const {
  if (!key_) return std::nullopt;
  const std::optional<std::string> content = ReadWholeFile(ValuesFile());
  if (!content) return std::nullopt;
  for (Entry& e : ParseValues(*content))
    if (SameName(e.name, name)) return Value{e.isNumber, std::move(e.data)};
  return std::nullopt;
}

void RegistryStore::Write(std::string_view name, const Value& value) {
  const std::string failed = "Failed to set data for '" + std::string(name) + "'";
  if (!key_) throw RegistryError(failed);
  int error = 0;
  std::optional<std::string> content = ReadWholeFile(ValuesFile(), &error);
  if (!content && error != ENOENT) throw RegistryError(failed);
  std::vector<Entry> entries = ParseValues(content.value_or(std::string()));
  bool replaced = false;
  for (Entry& e : entries) {
    if (!SameName(e.name, name)) continue;
    e.isNumber = value.isNumber;
    e.data = value.data;
    replaced = true;
    break;
  }
  if (!replaced) entries.push_back({std::string(name), value.isNumber, value.data});
  if (ReplaceFileContents(ValuesFile(), FormatValues(entries)) != 0) throw RegistryError(failed);
}

void RegistryStore::WriteString(std::string_view name, std::string_view value) {
  Write(name, Value{false, std::string(value)});
}

void RegistryStore::WriteInteger(std::string_view name, int32_t value) {
  Write(name, Value{true, std::to_string(value)});
}

std::string RegistryStore::ReadString(std::string_view name) const {
  const std::optional<Value> value = Find(name);
  if (!value) return {};
  if (value->isNumber) throw RegistryError("Invalid data type for '" + std::string(name) + "'");
  return value->data;
}

int32_t RegistryStore::ReadInteger(std::string_view name) const {
  const std::optional<Value> value = Find(name);
  if (!value) throw RegistryError("Failed to get data for '" + std::string(name) + "'");
  if (!value->isNumber) throw RegistryError("Invalid data type for '" + std::string(name) + "'");
  // Numbers are written by WriteInteger only; a hand-damaged one is not a number.
  int32_t number = 0;
  const char* first = value->data.data();
  const char* last = first + value->data.size();
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last || first == last)
    throw RegistryError("Invalid data type for '" + std::string(name) + "'");
  return number;
}

bool RegistryStore::ValueExists(std::string_view name) const { return Find(name).has_value(); }

}  // namespace velmora::port
