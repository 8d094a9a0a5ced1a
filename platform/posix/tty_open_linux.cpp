#include <sys/stat.h>

#include <cerrno>

#include "platform/comm_core.h"
#include "platform/device_directory.h"
#include "platform/posix/device_holders.h"
#include "platform/posix/tty_line_driver_linux.h"
#include "platform/posix/uucp_lock.h"

namespace velmora::platform {

OpenResult OpenSystemDevice(const std::string& path) {
  // Only a terminal can be a serial port, and only a terminal is opened: opening some other
  // character devices does something by itself (a watchdog starts counting down, and resets the
  // machine when nobody feeds it). A path that cannot be looked at is left to the open, which
  // fails the same way and says why.
  struct stat st {};
  const bool found = ::stat(path.c_str(), &st) == 0;
  if (found && !(S_ISCHR(st.st_mode) && posix::IsTerminalDevice(st.st_rdev)))
    return {nullptr, ENOTTY, path + " — не последовательное устройство"};
  // Who else has the device is asked before it is opened: opening raises DTR and RTS, and the
  // driver then drops them, on a line that would be someone else's.
  std::unique_ptr<posix::UucpLock> lock;
  if (found) {
    posix::UucpLock::Acquired acquired = posix::UucpLock::Acquire(path);
    if (acquired.error != 0) return {nullptr, acquired.error, std::move(acquired.detail)};
    lock = std::move(acquired.lock);
    // A scan cut short by its budget finds nobody more: the lock and the exclusive open guard.
    const std::vector<posix::DeviceHolder> holders = posix::ScanDeviceHolders(st.st_rdev).holders;
    if (!holders.empty()) {
      const char* verb = holders.size() == 1 ? "им пользуется " : "им пользуются ";
      return {nullptr, EBUSY, "устройство " + path + " занято: " + verb + posix::DescribeHolders(holders)};
    }
  }

  posix::TtyLineDriver::Opened opened = posix::TtyLineDriver::Open(path);
  if (!opened.driver) return {nullptr, opened.error, std::move(opened.detail)};
  opened.driver->KeepLockUntilClosed(std::move(lock));
  int error = 0;
  std::unique_ptr<CommDevice> device = MakeCommCore(std::move(opened.driver), &error);
  if (!device) {
    if (error == 0) error = ENOMEM;
    return {nullptr, error,
            "устройство " + path + " открылось, но запустить его поток ввода-вывода не удалось"};
  }
  return {std::move(device), 0, {}};
}

}  // namespace velmora::platform
