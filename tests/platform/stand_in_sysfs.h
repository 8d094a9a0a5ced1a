#pragma once
// A stand-in for /sys under a temporary folder, shaped as the kernel lays out a USB serial
// adapter: class/tty/<name>/device links to the usb-serial port below the adapter's interface,
// and the USB device folder above holds idVendor, idProduct and serial.

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_folder.h"

namespace velmora::test {

class StandInSysfs {
 public:
  std::string Root() const { return folder_.path().string(); }

  // The tty `name` (the node's file name) on a USB adapter; an empty serial leaves the file out.
  // Called again for the same name, it moves the tty to another adapter, as a replug does.
  void PlugUsbAdapter(const std::string& name, const std::string& vendor, const std::string& product,
                      const std::string& serial) {
    namespace fs = std::filesystem;
    const fs::path usb = folder_ / ("devices/usb1/1-" + std::to_string(++adapters_));
    const fs::path port = usb / "1-1:1.0" / name;
    fs::create_directories(port);
    Write(usb / "idVendor", vendor);
    Write(usb / "idProduct", product);
    if (!serial.empty()) Write(usb / "serial", serial);
    Unplug(name);
    fs::create_directories(folder_ / "class/tty" / name);
    fs::create_directory_symlink(port, folder_ / "class/tty" / name / "device");
  }
  // A tty with hardware but no USB device above it, as a board UART.
  void AddBoardUart(const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path port = folder_ / "devices/platform/serial8250" / name;
    fs::create_directories(port);
    Unplug(name);
    fs::create_directories(folder_ / "class/tty" / name);
    fs::create_directory_symlink(port, folder_ / "class/tty" / name / "device");
  }
  void Unplug(const std::string& name) {
    std::error_code ec;
    std::filesystem::remove_all(folder_ / "class/tty" / name, ec);
  }

 private:
  static void Write(const std::filesystem::path& path, const std::string& value) {
    std::ofstream(path) << value << '\n';
  }
  TempFolder folder_;
  int adapters_ = 0;
};

}  // namespace velmora::test
