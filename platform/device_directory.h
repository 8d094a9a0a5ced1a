#pragma once
// Port names to devices.
//
// A directory knows the simulated devices by their plain names (matched without regard to
// letter case, before anything else) and sends every other name to the system: on POSIX a bare
// name means /dev/<name> (one with '/' or ".." in it is refused: it must not lead out of /dev), a
// name that starts with '/' is used as it stands.
//
// A directory is an ordinary object: the program makes one and hands it to its ports; tests
// make their own with the simulated devices they steer.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/comm_device.h"

namespace velmora::platform {

// Something that can be opened by name: one end of a simulated line.
class NamedDevice {
 public:
  virtual ~NamedDevice() = default;
  virtual OpenResult Open() = 0;  // fails with EBUSY while already open
};

class DeviceDirectory {
 public:
  // A directory with the simulated devices an operator can pick: "LOOPBACK" and "RADIO".
  // A refused name's reason (OpenResult's detail) is a sentence for the operator, in Russian.
  static std::shared_ptr<DeviceDirectory> Standard();

  // `description` says in one line what the device simulates, for the operator (in Russian,
  // UTF-8, as the window shows it).
  void Add(std::string name, std::shared_ptr<NamedDevice> device, std::string description = {});
  OpenResult Open(const std::string& portName) const;
  std::vector<std::string> SimulatedNames() const;
  // The simulated device's description (letter case of the name not regarded); nothing for a
  // name the directory does not simulate.
  std::optional<std::string> SimulatedDescription(const std::string& portName) const;

 private:
  struct Entry {
    std::string name;
    std::shared_ptr<NamedDevice> device;
    std::string description;
  };
  std::vector<Entry> entries_;
};

// The system path a port name stands for.
std::string SystemDevicePath(const std::string& portName);

// Opens a system serial device (tty, pseudo-terminal) exclusively.
OpenResult OpenSystemDevice(const std::string& path);

}  // namespace velmora::platform
