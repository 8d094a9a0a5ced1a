#include "port/com_select.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "port/ecomport.h"
#include "tests/support/temp_folder.h"
#include "tests/support/fake_device.h"

namespace velmora::port {
namespace {

using Items = std::vector<std::string>;
using velmora::test::FakeDevice;

// Ports listed from a directory of the test's own and an empty tty folder: the list is exactly
// the simulated names the test adds.
class SelectTest : public ::testing::Test {
 protected:
  SelectTest() { port.SetDeviceDirectory(directory); }

  std::shared_ptr<FakeDevice> AddDevice(const std::string& name) {
    auto device = std::make_shared<FakeDevice>();
    directory->Add(name, device);
    return device;
  }
  void UsePorts(TComSelect& select) { select.SetPortSource(directory, ttys.path()); }

  velmora::test::TempFolder ttys;
  std::shared_ptr<platform::DeviceDirectory> directory = std::make_shared<platform::DeviceDirectory>();
  TComPort port{"ComPort1"};
};

TEST_F(SelectTest, ItemListsPerKindAndTheFirstItemSelectedWhenUnbound) {
  struct Row {
    TComProperty kind;
    Items items;
  };
  const Row rows[] = {
      {cpBaudRate, {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400",
                    "56000", "57600", "115200", "128000", "256000"}},
      {cpDataBits, {"5", "6", "7", "8"}},
      {cpStopBits, {"1", "1.5", "2"}},
      {cpParity, {"None", "Odd", "Even", "Mark", "Space"}},
      {cpFlowControl, {"Hardware", "Software", "None", "Custom"}},
  };
  for (const Row& row : rows) {
    TComSelect select;
    select.SetKind(row.kind);
    EXPECT_EQ(select.Items(), row.items) << int(row.kind);
    EXPECT_EQ(select.ItemIndex(), 0) << int(row.kind);
    EXPECT_EQ(select.Text(), row.items.front()) << int(row.kind);
  }
}

TEST_F(SelectTest, BoundSelectorsSelectAndStoreThePortsValues) {
  port.SetBaudRate(br9600);
  port.SetDataBits(dbSeven);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prEven);
  port.FlowControl().SetFlowControl(fcSoftware);
  struct Row {
    TComProperty kind;
    std::string text;
  };
  for (const Row& row : {Row{cpBaudRate, "9600"}, Row{cpDataBits, "7"}, Row{cpStopBits, "1.5"},
                         Row{cpParity, "Even"}, Row{cpFlowControl, "Software"}}) {
    TComSelect select;
    select.SetKind(row.kind);
    select.SetComPort(&port);
    EXPECT_EQ(select.Text(), row.text) << int(row.kind);
  }
  TComSelect baud;
  baud.SetComPort(&port);  // bound first, then the kind: the same result
  baud.SetKind(cpBaudRate);
  EXPECT_EQ(baud.Text(), "9600");
  EXPECT_EQ(baud.SelectedBaudRate(), br9600);
}

TEST_F(SelectTest, AStoredValueGoesBackUnchangedForEveryKind) {
  port.SetBaudRate(br115200);
  port.SetDataBits(dbSix);
  port.SetStopBits(sbTwoStopBits);
  port.Parity().SetBits(prSpace);
  port.FlowControl().SetFlowControl(fcHardware);
  for (TComProperty kind : {cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl}) {
    TComSelect select;
    select.SetKind(kind);
    select.SetComPort(&port);
    select.ApplyToPort();
  }
  EXPECT_EQ(port.BaudRate(), br115200);
  EXPECT_EQ(port.DataBits(), dbSix);
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);
  EXPECT_EQ(port.Parity().Bits(), prSpace);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
}

TEST_F(SelectTest, PortNameMatchesWithoutLetterCaseAndApplyingWritesTheListsSpelling) {
  AddDevice("COM1");
  AddDevice("COM2");
  port.SetPort("com1");
  TComSelect select;
  UsePorts(select);
  select.SetKind(cpPort);
  select.SetComPort(&port);
  EXPECT_EQ(select.Items(), (Items{"COM1", "COM2"}));
  EXPECT_EQ(select.Text(), "COM1");
  EXPECT_EQ(select.SelectedPort(), "COM1");
  select.ApplyToPort();
  EXPECT_EQ(port.Port(), "COM1");
}

TEST_F(SelectTest, PortNameNotListedSelectsNothingAndApplyBeforeAnyChoiceWritesTheEmptyName) {
  AddDevice("COM1");
  port.SetPort("/dev/pts/7");
  TComSelect select;
  UsePorts(select);
  select.SetKind(cpPort);
  select.SetComPort(&port);
  EXPECT_EQ(select.ItemIndex(), -1);
  EXPECT_EQ(select.Text(), "");
  int index = 5;
  EXPECT_TRUE(select.UpdateFromPort(index));
  EXPECT_EQ(index, -1);
  select.ApplyToPort();
  EXPECT_EQ(port.Port(), "");
}

// The stable /dev/serial/by-id names stand right after the kernel name they lead to; a link
// to a device the list lacks, or to none (unplugged a moment ago), comes last; picking one
// stores its full path.
TEST_F(SelectTest, PortListOffersTheByIdNamesBesideTheKernelNames) {
  namespace fs = std::filesystem;
  for (const char* tty : {"ttyUSB0", "ttyUSB1"}) {
    fs::create_directories(ttys / tty);
    fs::create_directory_symlink("../../devices/" + std::string(tty), ttys / tty / "device");
  }
  velmora::test::TempFolder dev;
  velmora::test::TempFolder byId;
  for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) velmora::test::WriteFileBytes(dev / node, "");
  fs::create_symlink(dev / "ttyUSB1", byId / "usb-FTDI_FT232R_A9XKQ2L1-if00-port0");
  fs::create_symlink(dev / "ttyUSB0", byId / "usb-Prolific_PL2303-if00-port0");
  fs::create_symlink(dev / "ttyUSB0", byId / "usb-FTDI_FT232R_A50285BI-if00-port0");
  fs::create_symlink(dev / "ttyACM0", byId / "usb-Modem_CDC-if00");
  fs::create_symlink(dev / "gone", byId / "usb-Gone-if00-port0");
  AddDevice("LOOP");
  TComSelect select;
  select.SetPortSource(directory, ttys.path(), byId.path());
  select.SetKind(cpPort);
  const std::string links = byId.path().string() + "/";
  EXPECT_EQ(select.Items(), (Items{"LOOP", "ttyUSB0", links + "usb-FTDI_FT232R_A50285BI-if00-port0",
                                   links + "usb-Prolific_PL2303-if00-port0", "ttyUSB1",
                                   links + "usb-FTDI_FT232R_A9XKQ2L1-if00-port0", links + "usb-Gone-if00-port0",
                                   links + "usb-Modem_CDC-if00"}));
  select.PickItem(2);
  EXPECT_EQ(select.SelectedPort(), links + "usb-FTDI_FT232R_A50285BI-if00-port0");

  // No by-id folder (no USB serial device plugged in) adds nothing; a test's own ttys never see
  // the machine's links.
  TComSelect plain;
  plain.SetPortSource(directory, ttys.path(), byId / "missing");
  plain.SetKind(cpPort);
  EXPECT_EQ(plain.Items(), (Items{"LOOP", "ttyUSB0", "ttyUSB1"}));
  UsePorts(plain);
  plain.SetKind(cpPort);
  EXPECT_EQ(plain.Items(), (Items{"LOOP", "ttyUSB0", "ttyUSB1"}));
}

TEST_F(SelectTest, APickIsStoredAndReachesThePortAtOnceOnlyWithAutoApply) {
  port.SetDataBits(dbSeven);
  TComSelect select;
  select.SetKind(cpDataBits);
  select.SetComPort(&port);
  int changes = 0;
  select.OnChange = [&] { ++changes; };

  select.PickItem(3);
  EXPECT_EQ(select.Text(), "8");
  EXPECT_EQ(select.SelectedDataBits(), dbEight);
  EXPECT_EQ(port.DataBits(), dbSeven);
  select.ApplyToPort();
  EXPECT_EQ(port.DataBits(), dbEight);

  select.SetAutoApply(true);
  select.PickItem(0);
  EXPECT_EQ(port.DataBits(), dbFive);
  EXPECT_EQ(changes, 2);

  // A selection made in code stores nothing and raises nothing.
  select.SetItemIndex(2);
  select.SetText("8");
  EXPECT_EQ(select.SelectedDataBits(), dbFive);
  EXPECT_EQ(changes, 2);
}

TEST_F(SelectTest, TextSelectsWithoutLetterCaseAndAnUnknownTextChangesNothing) {
  TComSelect select;
  select.SetKind(cpParity);
  select.SetText("even");
  EXPECT_EQ(select.Text(), "Even");
  select.SetText("Sometimes");
  EXPECT_EQ(select.Text(), "Even");
  select.SetItemIndex(17);
  EXPECT_EQ(select.ItemIndex(), -1);
  EXPECT_EQ(select.Text(), "");
}

TEST_F(SelectTest, ADestroyedPortIsLetGoAndTheFirstItemSelected) {
  auto doomed = std::make_unique<TComPort>("Doomed");
  doomed->SetBaudRate(br19200);
  TComSelect select;
  select.SetKind(cpBaudRate);
  select.SetComPort(doomed.get());
  ASSERT_EQ(select.Text(), "19200");
  int moves = 0;
  select.OnItemIndexChanged = [&] { ++moves; };

  doomed.reset();
  EXPECT_EQ(select.ComPort(), nullptr);
  EXPECT_EQ(select.ItemIndex(), 0);
  EXPECT_EQ(moves, 1);
  select.ApplyToPort();  // nothing to write into, and nothing dangling (ASan)
  select.SelectPortValue();
  EXPECT_EQ(select.ItemIndex(), 0);
}

TEST_F(SelectTest, ASelectorGoneFirstOrReboundLeavesThePortsNoticeBehind) {
  auto other = std::make_unique<TComPort>("Other");
  {
    TComSelect select;
    select.SetKind(cpBaudRate);
    select.SetComPort(&port);
    select.SetComPort(other.get());  // the first port no longer tells this selector
  }
  other.reset();  // would reach the destroyed selector if it had not withdrawn (ASan)
  TComSelect rebound;
  rebound.SetKind(cpBaudRate);
  rebound.SetComPort(&port);
  rebound.SetComPort(nullptr);
  EXPECT_EQ(rebound.Text(), "9600");  // binding none leaves the selection
}

TEST_F(SelectTest, KindNoneHasNoItemsAndNeitherAppliesNorUpdates) {
  TComSelect select;
  select.SetComPort(&port);
  select.SetKind(cpNone);
  EXPECT_TRUE(select.Items().empty());
  EXPECT_EQ(select.ItemIndex(), -1);
  int index = 3;
  EXPECT_FALSE(select.UpdateFromPort(index));
  EXPECT_EQ(index, 3);
  select.PickItem(0);
  select.ApplyToPort();
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
}

TEST_F(SelectTest, AFailedPortListingIsError23AndLeavesTheListEmpty) {
  TComSelect select;
  select.SetKind(cpBaudRate);
  int rebuilt = 0;
  select.OnItemsChanged = [&] { ++rebuilt; };
  select.SetPortSource(directory, ttys / "missing");
  try {
    select.SetKind(cpPort);
    FAIL() << "listing a missing folder succeeded";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrRegistry);
    EXPECT_EQ(e.WinErrorCode(), ENOENT);
  }
  EXPECT_TRUE(select.Items().empty());
  EXPECT_EQ(select.ItemIndex(), -1);
  EXPECT_EQ(rebuilt, 1);
}

TEST_F(SelectTest, AReopenThatFailsOnAPickPassesOutWithTheNewNameStored) {
  AddDevice("GOOD");
  AddDevice("BAD")->Fail("Open", EACCES);
  port.SetPort("GOOD");
  port.SetEvents({});
  port.OpenPort();
  TComSelect select;
  UsePorts(select);
  select.SetKind(cpPort);
  select.SetComPort(&port);
  select.SetAutoApply(true);
  bool changed = false;
  select.OnChange = [&] { changed = true; };
  try {
    select.PickItem(0);  // "BAD"
    FAIL() << "the reopen did not fail";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrOpen);
    EXPECT_EQ(e.WinErrorCode(), EACCES);
  }
  EXPECT_EQ(port.Port(), "BAD");
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(changed);
}

}  // namespace
}  // namespace velmora::port
