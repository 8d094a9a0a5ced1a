#pragma once
// The serial devices an operator can pick, by the names a port opens them with.
//
// On Linux these are the ttys under /sys/class/tty that have hardware behind them: an entry
// needs a `device` link, and a legacy UART slot whose `type` is 0 (no chip found) is left out,
// so pseudo-terminals, virtual consoles and empty ttyS slots do not appear. The simulated
// devices of the given directory are always added. The list is sorted as text without regard to
// letter case (ttyS10 before ttyS2).
//
// Errors: when the tty folder cannot be read at all, EComPort kErrRegistry with the system's error
// number; a machine without serial devices is no error and gives the simulated devices alone.
// Safe to call from any thread.

#include <filesystem>
#include <string>
#include <vector>

#include "platform/device_directory.h"

namespace velmora::port {

inline constexpr const char* kSystemTtyClassFolder = "/sys/class/tty";

// Replaces the content of list. ttyClassFolder is a parameter so tests can use a fake tree.
void ListSerialPorts(std::vector<std::string>& list, const platform::DeviceDirectory& directory,
                     const std::filesystem::path& ttyClassFolder = kSystemTtyClassFolder);

}  // namespace velmora::port
