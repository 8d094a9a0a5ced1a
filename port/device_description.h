#pragma once
// What the system knows of the device behind a port name, in one line for the operator, so
// that two adapters of the same kind can be told apart in the port list. The line is in Russian
// (UTF-8), as every text of the window; names the device gives (maker, product, driver, chip)
// stay as the system has them.
//
// A simulated device says what it simulates. A USB adapter gives its maker, product, serial
// number and vendor:product ids from sysfs; another tty with hardware gives its driver and, for
// a UART, its chip, I/O address and interrupt. A name that starts with '/' is followed to the
// tty it stands for (a /dev/serial/by-id/... link). Empty when nothing is known.
//
// Pure reads of the file system; safe to call from any thread; never raises.

#include <filesystem>
#include <string>

#include "platform/device_directory.h"
#include "port/list_ports.h"

namespace velmora::port {

std::string DescribePortDevice(const std::string& portName,
                               const platform::DeviceDirectory& directory,
                               const std::filesystem::path& ttyClassFolder = kSystemTtyClassFolder);

}  // namespace velmora::port
