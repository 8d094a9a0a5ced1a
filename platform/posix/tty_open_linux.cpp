#include <sys/stat.h>

#include <cerrno>

#include "platform/comm_core.h"
#include "platform/device_directory.h"
#include "platform/posix/tty_line_driver_linux.h"

namespace velmora::platform {

OpenResult OpenSystemDevice(const std::string& path) {
  // Only a character device can be a serial port: anything else is refused before it is opened.
  // A path that cannot be looked at is left to the open, which says why.
  struct stat node {};
  if (::stat(path.c_str(), &node) == 0 && !S_ISCHR(node.st_mode))
    return {nullptr, ENOTTY, path + " is not a serial device"};
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
