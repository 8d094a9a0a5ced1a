#include "port/ini_file.h"

#include <cerrno>
#include <cstddef>

#include "platform/ascii_case.h"
#include "port/atomic_file.h"
#include "port/text_forms.h"

namespace velmora::port {

using platform::EqualIgnoringAsciiCase;

namespace {

constexpr std::string_view kBlanks = " \t\r";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) { return EqualIgnoringAsciiCase(a, b); }

// One line of the file: its text, its own line end ("\r\n", "\n", or none on the last line), and
// where it starts in the file, so that untouched bytes are written back as they were.
struct Line {
  std::string_view text;
  std::string_view end;
  std::size_t offset = 0;
};

// The lines of a file one at a time: a file of a hundred million empty lines costs no more
// memory than its bytes.
class LineCursor {
 public:
  explicit LineCursor(std::string_view content) : content_(content) {}
  bool Next(Line& line) {
    if (position_ >= content_.size()) return false;
    const std::string_view rest = content_.substr(position_);
    const std::size_t lf = rest.find('\n');
    line.offset = position_;
    if (lf == std::string_view::npos) {
      line.text = rest;
      line.end = {};
      position_ = content_.size();
      return true;
    }
    std::size_t textEnd = lf;
    if (textEnd > 0 && rest[textEnd - 1] == '\r') --textEnd;
    line.text = rest.substr(0, textEnd);
    line.end = rest.substr(textEnd, lf + 1 - textEnd);
    position_ += lf + 1;
    return true;
  }

 private:
  std::string_view content_;
  std::size_t position_ = 0;
};

enum class LineKind { kOther, kSection, kKey };

struct Parsed {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section or key name, trimmed
  std::string_view value;  // the key's value, trimmed, quotes not yet removed
  std::size_t valueStart = 0;  // offset of the text after '=' in the line
};

Parsed ParseLine(std::string_view text, bool firstLine) {
  Parsed p;
  std::size_t skipped = 0;
  if (firstLine && text.substr(0, kUtf8Mark.size()) == kUtf8Mark) skipped = kUtf8Mark.size();
  text.remove_prefix(skipped);
  const std::string_view body = Trim(text);
  if (body.empty() || body.front() == ';') return p;
  if (body.front() == '[') {
    std::string_view name = body.substr(1);
    const std::size_t close = name.find(']');
    if (close != std::string_view::npos) name = name.substr(0, close);
    p.kind = LineKind::kSection;
    p.name = Trim(name);
    return p;
  }
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::kKey;
  p.name = Trim(text.substr(0, eq));
  p.value = Trim(text.substr(eq + 1));
  // A rewrite keeps the file's layout up to the value: the key as spelt and blanks around '='.
  const std::size_t afterBlanks = text.find_first_not_of(" \t", eq + 1);
  p.valueStart = skipped + (afterBlanks == std::string_view::npos ? text.size() : afterBlanks);
  return p;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

// Where (section, key) is in the file: the key's value (its bytes' place in the file), or
// failing that the line after which a new key of the section goes; neither when the section is
// absent. Also the line end new lines get: the file's own (its first), LF for a file without.
struct Location {
  std::optional<std::size_t> valueBegin;  // offset in the file; the value runs to its line's text end
  std::size_t valueEnd = 0;
  std::string_view value;
  std::optional<std::size_t> insertAt;  // offset just after the line a new key follows
  bool insertNeedsLineEnd = false;      // that line is the last and has no line end
  std::string_view lastLineText;
  bool lastLineHasEnd = true;
  std::string_view lineEnd = "\n";
};

Location Locate(std::string_view content, std::string_view section, std::string_view key) {
  Location where;
  bool inSection = false;
  bool inFirstSection = false;
  bool lineEndSeen = false;
  bool firstLine = true;
  LineCursor lines(content);
  Line line;
  while (lines.Next(line)) {
    if (!lineEndSeen && !line.end.empty()) {
      where.lineEnd = line.end;
      lineEndSeen = true;
    }
    where.lastLineText = line.text;
    where.lastLineHasEnd = !line.end.empty();
    const Parsed p = ParseLine(line.text, firstLine);
    firstLine = false;
    const auto markInsertPoint = [&] {
      where.insertAt = line.offset + line.text.size() + line.end.size();
      where.insertNeedsLineEnd = line.end.empty();
    };
    if (p.kind == LineKind::kSection) {
      inSection = SameName(p.name, section);
      inFirstSection = inSection && !where.insertAt;
      if (inFirstSection) markInsertPoint();
      continue;
    }
    if (!inSection || p.kind != LineKind::kKey) continue;
    if (SameName(p.name, key)) {
      where.valueBegin = line.offset + p.valueStart;
      where.valueEnd = line.offset + line.text.size();
      where.value = Unquote(p.value);
      return where;
    }
    // A new key goes after the last key of the first section of the name, so that comments
    // and blank lines leading into the next section stay with that section.
    if (inFirstSection) markInsertPoint();
  }
  return where;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

std::optional<std::string> FindIniValue(std::string_view content, std::string_view section,
                                        std::string_view key) {
  const Location where = Locate(content, section, key);
  if (!where.valueBegin) return std::nullopt;
  return std::string(where.value);
}

bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value) {
  // Names must read back as themselves: no surrounding blanks (reading trims them), nothing
  // that starts a comment or a section, nothing that ends a name early.
  if (section.empty() || Trim(section) != section || HasLineBreak(section) ||
      section.find(']') != std::string_view::npos)
    return false;
  if (key.empty() || Trim(key) != key || HasLineBreak(key) ||
      key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';')
    return false;
  return !HasLineBreak(value);
}

std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value) {
  const Location where = Locate(content, section, key);
  const std::string_view end = where.lineEnd;

  std::string out;
  out.reserve(content.size() + section.size() + key.size() + value.size() + 8);

  if (where.valueBegin) {
    // Keep the key as the file spells it (and any blanks before '='); replace what follows.
    out.append(content.substr(0, *where.valueBegin));
    out.append(value);
    out.append(content.substr(where.valueEnd));
    return out;
  }

  if (where.insertAt) {
    out.append(content.substr(0, *where.insertAt));
    if (where.insertNeedsLineEnd) out.append(end);
    out.append(key).append("=").append(value).append(end);
    out.append(content.substr(*where.insertAt));
    return out;
  }

  out.append(content);
  if (!content.empty()) {
    if (!where.lastLineHasEnd) out.append(end);
    if (!Trim(where.lastLineText).empty()) out.append(end);  // a blank line between sections
  }
  out.append("[").append(section).append("]").append(end);
  out.append(key).append("=").append(value).append(end);
  return out;
}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}

std::optional<std::string> IniFile::Content(int* error) const {
  return ReadWholeFile(path_, error, kLargestIniFile);
}

int IniFile::ReadError() const {
  int error = 0;
  // Nothing there (a part of the path that is a file is no folder either) reads as empty by
  // rule, not by failure.
  if (Content(&error) || error == ENOENT || error == ENOTDIR) return 0;
  return error;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const std::optional<std::string> content = Content();
  if (!content) return std::string(defaultValue);
  std::optional<std::string> value = FindIniValue(*content, section, key);
  return value ? std::move(*value) : std::string(defaultValue);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                             int32_t defaultValue) const {
  const std::optional<int32_t> number = ParseWholeNumber(ReadString(section, key, ""));
  return number.value_or(defaultValue);
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  const std::optional<std::string> content = Content();
  return content && FindIniValue(*content, section, key).has_value();
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  const std::string refused = "Unable to write to " + path_.string();
  if (!IsWritableIniEntry(section, key, value)) throw IniFileError(refused);
  int error = 0;
  std::optional<std::string> content = Content(&error);
  // Only a missing file starts empty; a file that exists but cannot be read (a FIFO, one too
  // large to be a settings file) must not be replaced by one holding just this key.
  if (!content && error != ENOENT) throw IniFileError(refused);
  const std::string updated = SetIniValue(content.value_or(std::string()), section, key, value);
  if (ReplaceFileContents(path_, updated) != 0) throw IniFileError(refused);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace velmora::port
