// The identity of the adapter behind a device path, read from a stand-in sysfs tree.
#include "platform/device_identity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/platform/stand_in_sysfs.h"
#include "tests/support/temp_folder.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;

class DeviceIdentityTest : public ::testing::Test {
 protected:
  // A device node stand-in: only its file name matters to sysfs.
  std::string Node(const std::string& name) {
    const fs::path path = dev / name;
    test::WriteFileBytes(path, "");
    return path.string();
  }
  test::StandInSysfs sysfs;
  test::TempFolder dev;
};

TEST_F(DeviceIdentityTest, AUsbAdapterIsKnownByItsIdsAndSerialNumber) {
  sysfs.PlugUsbAdapter("ttyUSB0", "0403", "6001", "A1B2C3");
  const auto identity = ReadDeviceIdentity(Node("ttyUSB0"), sysfs.Root());
  ASSERT_TRUE(identity);
  EXPECT_EQ(*identity, (DeviceIdentity{"0403", "6001", "A1B2C3"}));
  EXPECT_EQ(DescribeIdentity(*identity), "0403:6001, серийный номер A1B2C3");
}

// The adapter is found through a by-id style link, and its absent serial number is no failure.
TEST_F(DeviceIdentityTest, ALinkIsFollowedToItsNode) {
  sysfs.PlugUsbAdapter("ttyACM0", "2341", "0043", "");
  const std::string node = Node("ttyACM0");
  const fs::path link = dev / "usb-Arduino-if00";
  fs::create_symlink(node, link);
  const auto identity = ReadDeviceIdentity(link.string(), sysfs.Root());
  ASSERT_TRUE(identity);
  EXPECT_EQ(*identity, (DeviceIdentity{"2341", "0043", ""}));
  EXPECT_EQ(DescribeIdentity(*identity), "2341:0043");
}

// Two adapters of the same kind differ by their serial numbers; a replug moves the name.
TEST_F(DeviceIdentityTest, AnotherAdapterAtTheSameNameReadsDifferently) {
  const std::string node = Node("ttyUSB0");
  sysfs.PlugUsbAdapter("ttyUSB0", "0403", "6001", "RADIO1");
  const auto first = ReadDeviceIdentity(node, sysfs.Root());
  sysfs.PlugUsbAdapter("ttyUSB0", "0403", "6001", "OTHER2");
  const auto second = ReadDeviceIdentity(node, sysfs.Root());
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
}

TEST_F(DeviceIdentityTest, NoIdentityWithoutAUsbDevice) {
  sysfs.AddBoardUart("ttyS0");
  EXPECT_FALSE(ReadDeviceIdentity(Node("ttyS0"), sysfs.Root()));            // a board UART
  EXPECT_FALSE(ReadDeviceIdentity(Node("ttyUSB9"), sysfs.Root()));          // not in sysfs (unplugged)
  EXPECT_FALSE(ReadDeviceIdentity((dev / "none").string(), sysfs.Root()));  // no node at all
  EXPECT_FALSE(ReadDeviceIdentity(Node("ttyUSB0"), (dev / "nosys").string()));
}

}  // namespace
}  // namespace velmora::platform
