#pragma once
// What a USB serial adapter is, as opposed to the name the system gave it: its vendor and
// product ids and its serial number, read from sysfs.
//
// A replugged adapter gets its old kernel name back only while no other adapter took it; a
// different adapter plugged in meanwhile is handed the same /dev/ttyUSB0. Remembering the
// identity at open tells the two apart before a reopen.
//
// The device path is followed through links (/dev/serial/by-id/...) to its node; the node's
// name finds `<sysfs>/class/tty/<name>/device`, and the nearest folder above that device with
// `idVendor` and `idProduct` is the USB device. A tty without one (a board UART, a
// pseudo-terminal, a path that is no device) has no identity.
//
// Pure reads of the file system; safe from any thread; never raises. `sysfsRoot` is a parameter
// so that tests can give a stand-in tree.

#include <optional>
#include <string>

namespace velmora::platform {

inline constexpr const char* kSystemSysfsRoot = "/sys";

struct DeviceIdentity {
  std::string vendorId;   // "0403"
  std::string productId;  // "6001"
  std::string serial;     // empty when the adapter has none
  bool operator==(const DeviceIdentity&) const = default;
};

std::optional<DeviceIdentity> ReadDeviceIdentity(const std::string& devicePath,
                                                 const std::string& sysfsRoot = kSystemSysfsRoot);

// "0403:6001, серийный номер A1B2C3" (without the serial number when there is none), for the
// operator.
std::string DescribeIdentity(const DeviceIdentity& identity);

}  // namespace velmora::platform
