#pragma once
// INI settings files with the semantics of a profile file.
//
// Every call reads or rewrites the file at once; nothing is cached between calls, so two
// objects (or two programs) on one file see each other's writes. Section and key names compare
// without regard to ASCII letter case; everything in the file that a write does not touch
// (other sections and keys, comments, blank lines, their order, CRLF or LF line ends, bytes of
// any code page) is kept as it was. Lines end at LF; a CR before it belongs to the line end,
// so files written on Windows read the same. Keys and values are trimmed of blanks and tabs,
// and one pair of matching quotes around a value is removed. Key names are plain text: "RTS/CTS"
// and "Parity.Check" are keys like any other.
//
// Reads never fail: an absent or unreadable file reads as empty, so every key gives its
// default. Only a regular file of at most kLargestIniFile bytes is read, opened without
// blocking: a FIFO or a device in its place, or a file of megabytes, reads as empty too and is
// never written over; ReadError tells why. A write that cannot be done throws IniFileError ("Unable to write to <file>") and
// leaves the file as it was: the new content goes to a temporary file in the same folder, which
// then replaces the old one in one rename. Texts that would change the file's structure (a line
// break anywhere, '=' or a leading '[' or ';' in a key, ']' in a section name, empty names)
// are refused the same way rather than written.
//
// An IniFile object holds only the path; it may be used from one thread at a time. Concurrent
// writers of one file each keep the file whole, but the last rename wins.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::port {

class IniFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A hundred times any settings file the console writes: a larger file was not written as one.
// Every key read scans the file, so the bound also bounds the time a load takes.
inline constexpr std::uintmax_t kLargestIniFile = 64 * 1024;

class IniFile {
 public:
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The default also when the text is not a whole number; "0x" introduces hexadecimal.
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t defaultValue) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // 0 when the file reads (or is absent, its folder included), else why it reads as empty: the system's error
  // number, EFBIG beyond kLargestIniFile, EINVAL for what is no regular file, EISDIR.
  int ReadError() const;

  // Create the file, the section and the key as needed.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int32_t value);

 private:
  std::optional<std::string> Content(int* error = nullptr) const;

  std::filesystem::path path_;
};

// The file's text format on its own, for the object above and for tests and fuzzing.
// The value of (section, key) in content, or nothing when the key is absent.
std::optional<std::string> FindIniValue(std::string_view content, std::string_view section,
                                        std::string_view key);
// True when WriteString would accept these names and value.
bool IsWritableIniEntry(std::string_view section, std::string_view key, std::string_view value);
// content with (section, key) set to value; only the key's line changes, or one line (and for a
// new section its header) is added. Requires IsWritableIniEntry.
std::string SetIniValue(std::string_view content, std::string_view section, std::string_view key,
                        std::string_view value);

}  // namespace velmora::port
