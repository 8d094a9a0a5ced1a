#include "port/com_port.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "port/ecomport.h"
#include "tests/port/core_fixture.h"
#include "tests/port/core_pty_termios.h"
#include "tests/support/pty_pair.h"

// The port on a real kernel tty: a pseudo-terminal the test makes, opened by its slave path.
namespace velmora::port {
namespace {

using Names = std::vector<std::string>;

// The port, opened on the pair's slave.
class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
    port.SetPort(pty.SlavePath());
    port.OnBeforeOpen = [this](TCustomComPort&) { seen.push_back("BeforeOpen"); };
    port.OnAfterOpen = [this](TCustomComPort&) { seen.push_back("AfterOpen"); };
    port.OnBeforeClose = [this](TCustomComPort&) { seen.push_back("BeforeClose"); };
    port.OnAfterClose = [this](TCustomComPort&) { seen.push_back("AfterClose"); };
    port.OnCTSChange = [this](TCustomComPort&, bool on) { seen.push_back(on ? "CTS=1" : "CTS=0"); };
    port.OnDSRChange = [this](TCustomComPort&, bool on) { seen.push_back(on ? "DSR=1" : "DSR=0"); };
    port.OnRLSDChange = [this](TCustomComPort&, bool on) { seen.push_back(on ? "RLSD=1" : "RLSD=0"); };
    // The backend opens ttys: a failure here is a regression, never a reason to skip.
    port.OpenPort();
  }

  // Declared before the port: its destructor closes the port and reports to `seen`.
  velmora::test::PtyPair pty;
  Names seen;
  TComPort port{"ComPort1"};
};

TEST_F(PtyPortTest, DefaultSettingsReachTheKernel) {
  velmora::port::test::KernelLine line;
  ASSERT_TRUE(velmora::port::test::ReadKernelLine(pty.Master(), line)) << errno;
  EXPECT_EQ(line.outputSpeed, 9600u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_FALSE(line.parity);
  EXPECT_FALSE(line.twoStopBits);
  EXPECT_FALSE(line.rtsCts);
  EXPECT_FALSE(line.xonXoff);
}

TEST_F(PtyPortTest, AChangedRateReachesTheKernelAtOnce) {
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(1000);
  velmora::port::test::KernelLine line;
  ASSERT_TRUE(velmora::port::test::ReadKernelLine(pty.Master(), line)) << errno;
  EXPECT_EQ(line.outputSpeed, 1000u);
  port.SetBaudRate(br115200);
  ASSERT_TRUE(velmora::port::test::ReadKernelLine(pty.Master(), line)) << errno;
  EXPECT_EQ(line.outputSpeed, 115200u);
}

TEST_F(PtyPortTest, HandlersInOrderWithTheLinesOff) {
  // A pseudo-terminal has no modem lines: they read as off.
  EXPECT_EQ(seen, (Names{"BeforeOpen", "AfterOpen", "CTS=0", "DSR=0", "RLSD=0"}));
  seen.clear();
  port.ClosePort();
  EXPECT_EQ(seen, (Names{"CTS=0", "DSR=0", "RLSD=0", "BeforeClose", "AfterClose"}));
  EXPECT_EQ(port.Handle(), nullptr);
}

TEST_F(PtyPortTest, ASecondPortOnTheSameTtyIsRefusedWithOne) {
  TComPort second("ComPort2");
  second.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
  second.SetPort(pty.SlavePath());
  int beforeOpen = 0;
  second.OnBeforeOpen = [&](TCustomComPort&) { ++beforeOpen; };
  try {
    second.OpenPort();
    FAIL() << "the tty was opened twice";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrOpen);
    EXPECT_GT(e.WinErrorCode(), 0);
  }
  EXPECT_EQ(beforeOpen, 1);
  EXPECT_FALSE(second.Connected());
  EXPECT_TRUE(port.Connected());
  // Free again once the first port let go.
  port.ClosePort();
  second.OpenPort();
  EXPECT_TRUE(second.Connected());
}

TEST(PtyMissingTest, AMissingDevicePathRaisesOneWithENOENT) {
  TComPort port("ComPort1");
  port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
  port.SetPort("/dev/velmora-no-such-tty");
  try {
    port.OpenPort();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrOpen);
    EXPECT_EQ(e.WinErrorCode(), ENOENT);
  }
  EXPECT_FALSE(port.Connected());
}

}  // namespace
}  // namespace velmora::port
