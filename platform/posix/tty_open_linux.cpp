#include <sys/stat.h>

#include <cerrno>

#include "platform/comm_core.h"
#include "platform/device_directory.h"
#include "platform/posix/device_holders.h"
#include "platform/posix/tty_line_driver_linux.h"
#include "platform/posix/uucp_lock.h"

namespace velmora::platform {

OpenResult OpenSystemDevice(const std::string& path) {
  // Only a character device can be a serial port: anything else is refused before it is opened.
  // A path that cannot be looked at is left to the open, which says why.
  struct stat st {};
  const bool found = ::stat(path.c_str(), &st) == 0;
  if (found && !S_ISCHR(st.st_mode)) return {nullptr, ENOTTY, path + " is not a serial device"};
  // Who else has the device is asked before it is opened: opening raises DTR and RTS, and the
  // driver then drops them, on a line that would be someone else's.
  std::unique_ptr<posix::UucpLock> lock;
  if (found && posix::IsTerminalDevice(st.st_rdev)) {
    posix::UucpLock::Acquired acquired = posix::UucpLock::Acquire(path);
    if (acquired.error != 0) return {nullptr, acquired.error, std::move(acquired.detail)};
    lock = std::move(acquired.lock);
    const std::vector<posix::DeviceHolder> holders = posix::FindDeviceHolders(st.st_rdev);
    if (!holders.empty()) return {nullptr, EBUSY, path + " is in use by " + posix::DescribeHolders(holders)};
  }

  posix::TtyLineDriver::Opened opened = posix::TtyLineDriver::Open(path);
  if (!opened.driver) return {nullptr, opened.error, std::move(opened.detail)};
  opened.driver->KeepLockUntilClosed(std::move(lock));
  int error = 0;
  std::unique_ptr<CommDevice> device = MakeCommCore(std::move(opened.driver), &error);
  if (!device) {
    if (error == 0) error = ENOMEM;
    return {nullptr, error, "the device " + path + " opened, but its I/O thread could not be started"};
  }
  return {std::move(device), 0, {}};
}

}  // namespace velmora::platform
