#include "port/device_description.h"

#include <cctype>
#include <optional>
#include <system_error>
#include <vector>

#include "port/atomic_file.h"

namespace velmora::port {

namespace {

namespace fs = std::filesystem;

// A sysfs attribute without its line end; nothing when absent or empty.
std::optional<std::string> Attribute(const fs::path& path) {
  std::optional<std::string> value = ReadWholeFile(path);
  if (!value) return std::nullopt;
  while (!value->empty() && std::isspace(static_cast<unsigned char>(value->back()))) value->pop_back();
  if (value->empty()) return std::nullopt;
  return value;
}

void Append(std::string& text, const std::string& separator, const std::optional<std::string>& part) {
  if (!part) return;
  if (!text.empty()) text += separator;
  text += *part;
}

// The USB device a tty hangs off: the nearest folder above its device that has vendor ids
// (the tty's own folder is an interface of that device, or below one).
std::optional<fs::path> UsbDeviceFolder(const fs::path& deviceFolder) {
  fs::path folder = deviceFolder;
  for (int level = 0; level < 4 && folder.has_relative_path(); ++level) {
    std::error_code ec;
    if (fs::exists(folder / "idVendor", ec)) return folder;
    folder = folder.parent_path();
  }
  return std::nullopt;
}

std::string DescribeUsb(const fs::path& usb) {
  std::string text = "USB";
  std::string what;
  Append(what, " ", Attribute(usb / "manufacturer"));
  Append(what, " ", Attribute(usb / "product"));
  if (!what.empty()) text += ": " + what;
  if (const auto serial = Attribute(usb / "serial")) text += ", серийный номер " + *serial;
  const auto vendor = Attribute(usb / "idVendor");
  const auto product = Attribute(usb / "idProduct");
  if (vendor && product) text += " (" + *vendor + ":" + *product + ")";
  return text;
}

// The 8250 driver's port types (include/uapi/linux/serial_core.h) that machines still carry.
std::optional<std::string> UartName(const std::optional<std::string>& type) {
  if (!type) return std::nullopt;
  static const std::vector<std::pair<std::string, std::string>> kNames = {
      {"1", "8250"}, {"2", "16450"}, {"3", "16550"}, {"4", "16550A"}, {"5", "Cirrus"},
      {"6", "16650"}, {"7", "16650V2"}, {"8", "16750"}, {"9", "Startech"}, {"10", "16C950"},
      {"11", "16654"}, {"12", "16850"}};
  for (const auto& [number, name] : kNames)
    if (*type == number) return name + " UART";
  return std::nullopt;
}

// The driver of the hardware: since Linux 6.5 the tty hangs off the serial core's own "port"
// and "ctrl" devices, whose drivers say nothing; the chip's driver is above them.
std::optional<std::string> HardwareDriver(const fs::path& deviceFolder) {
  fs::path folder = deviceFolder;
  for (int level = 0; level < 3 && folder.has_relative_path(); ++level) {
    std::error_code ec;
    const fs::path driver = fs::read_symlink(folder / "driver", ec);
    if (!ec && driver.string().find("/serial-base/") == std::string::npos && !driver.filename().empty())
      return driver.filename().string();
    folder = folder.parent_path();
  }
  return std::nullopt;
}

std::string DescribeOtherTty(const fs::path& tty, const fs::path& deviceFolder) {
  std::string text = "Последовательный порт";
  if (const auto driver = HardwareDriver(deviceFolder)) text += " (драйвер " + *driver + ")";
  std::string where;
  Append(where, ", ", UartName(Attribute(tty / "type")));
  const auto port = Attribute(tty / "port");
  if (port && *port != "0x0") Append(where, ", ", "адрес " + *port);
  const auto irq = Attribute(tty / "irq");
  if (irq && *irq != "0") Append(where, ", ", "прерывание " + *irq);
  if (!where.empty()) text += ": " + where;
  return text;
}

// The tty a port name stands for: a bare name is itself, a path is followed to its device.
std::string TtyName(const std::string& portName) {
  if (portName.empty() || portName.front() != '/') return portName;
  std::error_code ec;
  const fs::path real = fs::canonical(portName, ec);
  return ec ? fs::path(portName).filename().string() : real.filename().string();
}

}  // namespace

std::string DescribePortDevice(const std::string& portName,
                               const platform::DeviceDirectory& directory,
                               const fs::path& ttyClassFolder) {
  if (const auto simulated = directory.SimulatedDescription(portName))
    return simulated->empty() ? std::string("Имитируемое устройство") : *simulated;
  if (portName.rfind("/dev/pts/", 0) == 0) return "Псевдотерминал";

  const std::string name = TtyName(portName);
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const fs::path tty = ttyClassFolder / name;
  std::error_code ec;
  const fs::path deviceFolder = fs::canonical(tty / "device", ec);
  if (ec) return {};
  if (const auto usb = UsbDeviceFolder(deviceFolder)) return DescribeUsb(*usb);
  return DescribeOtherTty(tty, deviceFolder);
}

}  // namespace velmora::port
