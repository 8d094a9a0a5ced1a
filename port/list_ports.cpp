#include "port/list_ports.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/ascii_case.h"
#include "port/atomic_file.h"
#include "port/ecomport.h"

namespace velmora::port {

using platform::AsciiLower;
using platform::EqualIgnoringAsciiCase;

namespace {

// Case-insensitive order, with the exact bytes as tie-break so the result never depends on the
// order the folder was read in.
bool TextLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char x = AsciiLower(a[i]);
    const char y = AsciiLower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool SameName(const std::string& a, const std::string& b) { return EqualIgnoringAsciiCase(a, b); }

bool HasHardware(const std::filesystem::path& tty) {
  std::error_code ec;
  // The link's own presence counts; where it points does not matter here.
  if (!std::filesystem::exists(std::filesystem::symlink_status(tty / "device", ec))) return false;
  // The 8250 driver registers every legacy slot; the ones without a chip say type 0. A type
  // that cannot be read leaves the device listed.
  const std::optional<std::string> type = ReadWholeFile(tty / "type");
  if (!type) return true;
  std::string value = *type;
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return value != "0";
}

}  // namespace

void ListSerialPorts(std::vector<std::string>& list, const platform::DeviceDirectory& directory,
                     const std::filesystem::path& ttyClassFolder) {
  const std::vector<std::string> simulated = directory.SimulatedNames();
  std::vector<std::string> names = simulated;

  std::error_code ec;
  std::filesystem::directory_iterator it(ttyClassFolder, ec);
  if (ec) throw EComPort(kErrRegistry, ec.value());
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!HasHardware(it->path())) continue;
    // A simulated device of the same name is what the name opens; list it once.
    if (std::any_of(simulated.begin(), simulated.end(),
                    [&](const std::string& s) { return SameName(s, name); }))
      continue;
    names.push_back(name);
  }
  if (ec) throw EComPort(kErrRegistry, ec.value());

  std::sort(names.begin(), names.end(), TextLess);
  list = std::move(names);
}

}  // namespace velmora::port
