#include "platform/device_directory.h"

#include <cerrno>
#include <cstdlib>

#include "platform/ascii_case.h"
#include "platform/sim/sim_devices.h"

namespace velmora::platform {

std::shared_ptr<DeviceDirectory> DeviceDirectory::Standard() {
  auto directory = std::make_shared<DeviceDirectory>();
  directory->Add("LOOPBACK", sim::LoopbackPlug::Create()->Endpoint(),
                 "Имитация шлейфовой заглушки: переданное возвращается со скоростью линии; "
                 "RTS управляет CTS, DTR — DSR и DCD");
  auto radio = sim::RadioLink::Create();
  // Noise on the far station's echoes, for trying the link test on the simulated radio.
  if (const char* noise = std::getenv("VELMORA_RADIO_NOISE"))
    if (const auto parsed = sim::RadioLink::ParseNoise(noise)) radio->SetNoise(*parsed);
  directory->Add("RADIO", radio->Endpoint(),
                 "Имитация полудуплексного радиомодема: передает только при поднятом RTS, "
                 "поднимает CTS через 30 мс после RTS; дальняя станция возвращает каждую посылку");
  return directory;
}

void DeviceDirectory::Add(std::string name, std::shared_ptr<NamedDevice> device,
                          std::string description) {
  entries_.push_back({std::move(name), std::move(device), std::move(description)});
}

OpenResult DeviceDirectory::Open(const std::string& portName) const {
  for (const Entry& e : entries_)
    if (EqualIgnoringAsciiCase(e.name, portName)) return e.device->Open();
  if (portName.empty()) return {nullptr, ENOENT, "не задано имя порта"};
  // A bare name stands for a node in /dev and must not lead out of it.
  if (portName.front() != '/' && (portName.find('/') != std::string::npos || portName.find("..") != std::string::npos))
    return {nullptr, EINVAL,
            "\"" + portName + "\" не является именем порта: укажите имя устройства, например ttyUSB0, "
                "или полный путь, например /dev/ttyUSB0"};
  return OpenSystemDevice(SystemDevicePath(portName));
}

std::vector<std::string> DeviceDirectory::SimulatedNames() const {
  std::vector<std::string> names;
  for (const Entry& e : entries_) names.push_back(e.name);
  return names;
}

std::optional<std::string> DeviceDirectory::SimulatedDescription(
    const std::string& portName) const {
  for (const Entry& e : entries_)
    if (EqualIgnoringAsciiCase(e.name, portName)) return e.description;
  return std::nullopt;
}

std::string SystemDevicePath(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  return "/dev/" + portName;
}

}  // namespace velmora::platform
