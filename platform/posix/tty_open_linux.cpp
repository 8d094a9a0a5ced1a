#include <cerrno>

#include "platform/comm_core.h"
#include "platform/device_directory.h"
#include "platform/posix/tty_line_driver_linux.h"

namespace velmora::platform {

OpenResult OpenSystemDevice(const std::string& path) {
  posix::TtyLineDriver::Opened opened = posix::TtyLineDriver::Open(path);
  if (!opened.driver) return {nullptr, opened.error, std::move(opened.detail)};
  int error = 0;
  std::unique_ptr<CommDevice> device = MakeCommCore(std::move(opened.driver), &error);
  if (!device) {
    if (error == 0) error = ENOMEM;
    return {nullptr, error, "the device " + path + " opened, but its I/O thread could not be started"};
  }
  return {std::move(device), 0, {}};
}

}  // namespace velmora::platform
