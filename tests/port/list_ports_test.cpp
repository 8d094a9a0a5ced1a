#include "port/list_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "port/ecomport.h"
#include "tests/support/temp_folder.h"

namespace velmora::port {
namespace {

using velmora::test::TempFolder;
using velmora::test::WriteFileBytes;

class UnusedDevice : public platform::NamedDevice {
 public:
  platform::OpenResult Open() override { return {}; }
};

// A fake /sys/class/tty: entries as the kernel lays them out, with `device` links and `type`.
class ListPortsTest : public ::testing::Test {
 protected:
  void AddTty(const std::string& name, bool deviceLink, const char* type = nullptr) {
    const std::filesystem::path tty = folder_ / name;
    std::filesystem::create_directories(tty);
    if (deviceLink) std::filesystem::create_directory_symlink("../../devices/" + name, tty / "device");
    if (type != nullptr) WriteFileBytes(tty / "type", type);
  }

  std::vector<std::string> List() {
    std::vector<std::string> list{"stale entry"};
    ListSerialPorts(list, directory_, folder_.path());
    return list;
  }

  TempFolder folder_;
  platform::DeviceDirectory directory_;
};

TEST_F(ListPortsTest, ListsHardwareAndSimulatedDevicesSorted) {
  directory_.Add("RADIO", std::make_shared<UnusedDevice>());
  directory_.Add("LOOPBACK", std::make_shared<UnusedDevice>());
  AddTty("ttyUSB0", true);          // USB adapter: no type attribute
  AddTty("ttyAMA0", true, "32\n");  // platform UART (PL011)
  AddTty("ttyS0", true, "4\n");     // a 16550A
  AddTty("ttyS10", true, "4\n");
  AddTty("ttyS2", true, "4\n");
  AddTty("ttyS1", true, "0\n");     // legacy slot without a chip
  AddTty("ttyACM0", true);
  AddTty("ptmx", false);
  AddTty("tty0", false);
  AddTty("console", false);
  AddTty("loopback", true);         // shadowed by the simulated device of that name
  EXPECT_EQ(List(), (std::vector<std::string>{"LOOPBACK", "RADIO", "ttyACM0", "ttyAMA0", "ttyS0", "ttyS10",
                                              "ttyS2", "ttyUSB0"}));
}

TEST_F(ListPortsTest, NoSerialDeviceGivesTheSimulatedOnes) {
  directory_.Add("LOOPBACK", std::make_shared<UnusedDevice>());
  AddTty("tty1", false);
  EXPECT_EQ(List(), std::vector<std::string>{"LOOPBACK"});
  platform::DeviceDirectory empty;
  std::vector<std::string> list{"x"};
  ListSerialPorts(list, empty, folder_.path());
  EXPECT_TRUE(list.empty());
}

TEST_F(ListPortsTest, UnreadableFolderIsError23WithTheSystemNumber) {
  const std::filesystem::path notAFolder = folder_ / "file";
  WriteFileBytes(notAFolder, "x");
  for (const auto& [path, errorNumber] : {std::pair{notAFolder, ENOTDIR},
                                          std::pair{folder_ / "missing", ENOENT}}) {
    std::vector<std::string> list{"kept"};
    try {
      ListSerialPorts(list, directory_, path);
      FAIL() << "no error for " << path;
    } catch (const EComPort& e) {
      EXPECT_EQ(e.ErrorNumber(), 23);
      EXPECT_EQ(e.WinErrorCode(), errorNumber);
      EXPECT_EQ(std::string(e.what()), "Registry error (win error code: " + std::to_string(errorNumber) + ")");
    }
    EXPECT_EQ(list, std::vector<std::string>{"kept"});
  }
}

TEST(ListPorts, ThisMachineListsWithoutError) {
  platform::DeviceDirectory directory;
  directory.Add("LOOPBACK", std::make_shared<UnusedDevice>());
  std::vector<std::string> list;
  ListSerialPorts(list, directory);
  EXPECT_NE(std::find(list.begin(), list.end(), "LOOPBACK"), list.end());
  // Pseudo-terminals and virtual consoles are never offered.
  for (const std::string& name : list) {
    EXPECT_NE(name.rfind("pts", 0), 0u) << name;
    EXPECT_NE(name, "tty0");
    EXPECT_NE(name, "console");
  }
}

}  // namespace
}  // namespace velmora::port
