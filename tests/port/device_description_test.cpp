#include "port/device_description.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/fake_device.h"

namespace velmora::port {
namespace {

namespace fs = std::filesystem;
using velmora::test::TempFolder;
using velmora::test::WriteFileBytes;

// A fake sysfs: class/tty/<name>/device links into devices/, laid out as the kernel does for
// a USB adapter (the tty below an interface of the USB device) and for an on-board UART.
class DeviceDescriptionTest : public ::testing::Test {
 protected:
  fs::path Ttys() const { return root_ / "class/tty"; }

  void AddUsbAdapter(const std::string& tty, const std::string& usbPath, const std::string& maker,
                     const std::string& product, const std::string& serial) {
    const fs::path usb = root_ / "devices" / usbPath;
    const fs::path ttyDevice = usb / (usbPath.substr(usbPath.rfind('/') + 1) + ":1.0") / tty;
    fs::create_directories(ttyDevice);
    WriteFileBytes(usb / "idVendor", "0403\n");
    WriteFileBytes(usb / "idProduct", "6001\n");
    if (!maker.empty()) WriteFileBytes(usb / "manufacturer", maker + "\n");
    WriteFileBytes(usb / "product", product + "\n");
    if (!serial.empty()) WriteFileBytes(usb / "serial", serial + "\n");
    fs::create_directories(Ttys() / tty);
    fs::create_directory_symlink(ttyDevice, Ttys() / tty / "device");
  }

  // Since Linux 6.5 the tty's device is the serial core's "port", below its "ctrl", below the
  // chip's own device; before, the tty's device was the chip's.
  void AddUart(const std::string& tty, bool serialCoreDevices) {
    const fs::path chip = root_ / "devices/pnp0" / (tty + "-chip");
    fs::path device = chip;
    fs::create_directories(chip);
    fs::create_directories(root_ / "bus/pnp/drivers/serial");
    fs::create_directory_symlink(root_ / "bus/pnp/drivers/serial", chip / "driver");
    if (serialCoreDevices) {
      for (const char* layer : {"ctrl", "port"}) {
        device /= layer;
        fs::create_directories(device);
        fs::create_directories(root_ / "bus/serial-base/drivers" / layer);
        fs::create_directory_symlink(root_ / "bus/serial-base/drivers" / layer, device / "driver");
      }
    }
    fs::create_directories(Ttys() / tty);
    fs::create_directory_symlink(device, Ttys() / tty / "device");
    WriteFileBytes(Ttys() / tty / "type", "4\n");
    WriteFileBytes(Ttys() / tty / "port", "0x3F8\n");
    WriteFileBytes(Ttys() / tty / "irq", "4\n");
  }

  std::string Describe(const std::string& name) { return DescribePortDevice(name, directory_, Ttys()); }

  TempFolder root_;
  platform::DeviceDirectory directory_;
};

TEST_F(DeviceDescriptionTest, TwoUsbAdaptersOfOneKindDifferBySerialNumber) {
  AddUsbAdapter("ttyUSB0", "usb1/1-1", "FTDI", "FT232R USB UART", "A50285BI");
  AddUsbAdapter("ttyUSB1", "usb1/1-2", "FTDI", "FT232R USB UART", "A9XKQ2L1");
  AddUsbAdapter("ttyACM0", "usb1/1-3", "", "CDC modem", "");
  EXPECT_EQ(Describe("ttyUSB0"), "USB: FTDI FT232R USB UART, серийный номер A50285BI (0403:6001)");
  EXPECT_EQ(Describe("ttyUSB1"), "USB: FTDI FT232R USB UART, серийный номер A9XKQ2L1 (0403:6001)");
  EXPECT_EQ(Describe("ttyACM0"), "USB: CDC modem (0403:6001)");
}

TEST_F(DeviceDescriptionTest, AnOnBoardUartGivesItsDriverChipAddressAndInterrupt) {
  AddUart("ttyS0", false);
  AddUart("ttyS1", true);
  EXPECT_EQ(Describe("ttyS0"), "Последовательный порт (драйвер serial): 16550A UART, адрес 0x3F8, прерывание 4");
  EXPECT_EQ(Describe("ttyS1"), "Последовательный порт (драйвер serial): 16550A UART, адрес 0x3F8, прерывание 4");
}

TEST_F(DeviceDescriptionTest, APathIsFollowedToItsTty) {
  AddUsbAdapter("ttyUSB0", "usb1/1-1", "Prolific", "PL2303", "");
  // As /dev/serial/by-id/... points at /dev/ttyUSB0.
  WriteFileBytes(root_ / "ttyUSB0", "");
  fs::create_symlink(root_ / "ttyUSB0", root_ / "usb-Prolific_PL2303-if00-port0");
  EXPECT_EQ(Describe((root_ / "usb-Prolific_PL2303-if00-port0").string()), "USB: Prolific PL2303 (0403:6001)");
}

TEST_F(DeviceDescriptionTest, SimulatedDevicesSayWhatTheySimulateAndUnknownNamesSayNothing) {
  directory_.Add("SIM", std::make_shared<velmora::test::FakeDevice>());
  const auto standard = platform::DeviceDirectory::Standard();
  EXPECT_EQ(Describe("sim"), "Имитируемое устройство");
  EXPECT_NE(DescribePortDevice("LOOPBACK", *standard, Ttys()).find("заглушк"), std::string::npos);
  EXPECT_NE(DescribePortDevice("radio", *standard, Ttys()).find("радиомодем"), std::string::npos);
  EXPECT_EQ(Describe("/dev/pts/4"), "Псевдотерминал");
  EXPECT_EQ(Describe("ttyUSB9"), "");
  EXPECT_EQ(Describe(""), "");
  EXPECT_EQ(Describe("../../etc"), "");
}

}  // namespace
}  // namespace velmora::port
