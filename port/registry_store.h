#pragma once
// A registry-style settings store for POSIX systems: keys in a tree under two roots
// (HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE), each key holding named string and 32-bit number
// values.
//
// The store lives in one folder per user (DefaultFolder(): $XDG_CONFIG_HOME/Velmora/registry,
// else ~/.config/Velmora/registry); the constructor takes the folder, so tests use their own.
// A key is a subfolder per path element, its values one small file in it; key and value names
// compare without regard to ASCII letter case. Every call reads or rewrites that file at once,
// and a rewrite replaces it whole (temporary file and rename), so a crash never leaves half a
// file. Any byte may appear in names and strings: they are escaped on disk, and path elements
// cannot leave the store's folder.
//
// Errors: opening a key reports failure by its result (the key then stays closed). Writes
// throw RegistryError when no key is open or the file cannot be written. ReadString gives the
// empty text for an absent value or with no key open, and throws for a number value;
// ReadInteger throws for an absent value, a string value or with no key open. An object is
// used from one thread at a time.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velmora::port {

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RegistryStore {
 public:
  enum class Root : uint8_t { kCurrentUser, kLocalMachine };

  explicit RegistryStore(std::filesystem::path folder, Root root = Root::kCurrentUser);

  // The per-user folder from the environment; empty when neither variable is set.
  static std::filesystem::path DefaultFolder();

  Root RootKey() const { return root_; }
  void SetRootKey(Root root);  // closes the open key

  // Opens keyPath (elements separated by backslashes) under the root, creating the missing
  // keys when canCreate. An empty path is the root itself. Empty elements (a leading, doubled
  // or trailing backslash) and elements longer than 255 bytes are refused. The key open
  // before is closed in every case.
  bool OpenKey(std::string_view keyPath, bool canCreate);
  void CloseKey();
  bool HasOpenKey() const { return key_.has_value(); }

  void WriteString(std::string_view name, std::string_view value);
  void WriteInteger(std::string_view name, int32_t value);
  std::string ReadString(std::string_view name) const;
  int32_t ReadInteger(std::string_view name) const;
  bool ValueExists(std::string_view name) const;

 private:
  struct Value {
    bool isNumber = false;
    std::string data;
  };
  std::optional<Value> Find(std::string_view name) const;
  void Write(std::string_view name, const Value& value);
  std::filesystem::path ValuesFile() const;

  std::filesystem::path folder_;
  Root root_;
  std::optional<std::filesystem::path> key_;  // the open key's folder
};

}  // namespace velmora::port
