#include "platform/device_directory.h"

#include <cerrno>

#include "platform/ascii_case.h"
#include "platform/sim/sim_devices.h"

namespace velmora::platform {

std::shared_ptr<DeviceDirectory> DeviceDirectory::Standard() {
  auto directory = std::make_shared<DeviceDirectory>();
  directory->Add("LOOPBACK", sim::LoopbackPlug::Create()->Endpoint());
  directory->Add("RADIO", sim::RadioLink::Create()->Endpoint());
  return directory;
}

void DeviceDirectory::Add(std::string name, std::shared_ptr<NamedDevice> device) {
  entries_.push_back({std::move(name), std::move(device)});
}

OpenResult DeviceDirectory::Open(const std::string& portName) const {
  for (const Entry& e : entries_)
    if (EqualIgnoringAsciiCase(e.name, portName)) return e.device->Open();
  if (portName.empty()) return {nullptr, ENOENT, "no port name given"};
  // A bare name stands for a node in /dev and must not lead out of it.
  if (portName.front() != '/' && (portName.find('/') != std::string::npos || portName.find("..") != std::string::npos))
    return {nullptr, EINVAL,
            "\"" + portName + "\" is not a port name: give a device name such as ttyUSB0 or a full path such as " +
                "/dev/ttyUSB0"};
  return OpenSystemDevice(SystemDevicePath(portName));
}

std::vector<std::string> DeviceDirectory::SimulatedNames() const {
  std::vector<std::string> names;
  for (const Entry& e : entries_) names.push_back(e.name);
  return names;
}

std::string SystemDevicePath(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  return "/dev/" + portName;
}

}  // namespace velmora::platform
