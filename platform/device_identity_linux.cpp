#include "platform/device_identity.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::platform {

namespace {

namespace fs = std::filesystem;

// The USB device sits a few levels above the tty's device (interface, then usb-serial port);
// the walk is bounded so that a strange tree cannot send it up to the root.
constexpr int kLevelsToUsbDevice = 5;

std::optional<std::string> Attribute(const fs::path& path) {
  std::ifstream file(path);
  if (!file) return std::nullopt;
  std::string value((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back()))) value.pop_back();
  return value;
}

}  // namespace

std::optional<DeviceIdentity> ReadDeviceIdentity(const std::string& devicePath,
                                                 const std::string& sysfsRoot) {
  std::error_code ec;
  // A link (by-id, by-path, one of the operator's own) names the node it points to.
  const fs::path node = fs::canonical(devicePath, ec);
  if (ec) return std::nullopt;
  const std::string name = node.filename().string();
  if (name.empty()) return std::nullopt;
  fs::path folder = fs::canonical(fs::path(sysfsRoot) / "class" / "tty" / name / "device", ec);
  if (ec) return std::nullopt;
  for (int level = 0; level < kLevelsToUsbDevice && folder.has_relative_path(); ++level) {
    const std::optional<std::string> vendor = Attribute(folder / "idVendor");
    const std::optional<std::string> product = Attribute(folder / "idProduct");
    if (vendor && product && !vendor->empty() && !product->empty())
      return DeviceIdentity{*vendor, *product, Attribute(folder / "serial").value_or(std::string())};
    folder = folder.parent_path();
  }
  return std::nullopt;
}

std::string DescribeIdentity(const DeviceIdentity& identity) {
  std::string text = identity.vendorId + ":" + identity.productId;
  if (!identity.serial.empty()) text += ", серийный номер " + identity.serial;
  return text;
}

}  // namespace velmora::platform
