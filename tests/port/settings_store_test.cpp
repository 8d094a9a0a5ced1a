#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "port/com_port.h"
#include "port/ecomport.h"
#include "port/ini_file.h"
#include "port/registry_store.h"
#include "tests/support/temp_folder.h"
#include "tests/support/com_error_expect.h"
#include "tests/support/fake_device.h"

namespace velmora::port {
namespace {

using velmora::test::ReadFileBytes;
using velmora::test::TempFolder;
using velmora::test::WriteFileBytes;

const TComSettingGroups kAllGroups{sgLine, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgMisc};

// A port whose registry-style store lives in the test's folder.
class TestPort : public TComPort {
 public:
  TestPort(std::string name, std::filesystem::path registryFolder)
      : TComPort(std::move(name)), registryFolder_(std::move(registryFolder)) {}
  std::filesystem::path RegistryFolder() const override { return registryFolder_; }

 private:
  std::filesystem::path registryFolder_;
};

// Every setting of every group away from its default.
void SetEverything(TCustomComPort& port) {
  port.SetPort("ttyUSB3");
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.SetEventChar('\n');
  port.SetDiscardNull(true);
  port.Parity().SetBits(prMark);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Buffer().SetOutputSize(4096);
  port.Buffer().SetInputSize(2048);
  port.Timeouts().SetReadInterval(5);
  port.Timeouts().SetReadTotalConstant(6);
  port.Timeouts().SetReadTotalMultiplier(7);
  port.Timeouts().SetWriteTotalConstant(8);
  port.Timeouts().SetWriteTotalMultiplier(9);
  port.FlowControl().SetControlRTS(rtsToggle);
  port.FlowControl().SetControlDTR(dtrEnable);
  port.FlowControl().SetDSRSensitivity(true);
  port.FlowControl().SetOutCTSFlow(true);
  port.FlowControl().SetOutDSRFlow(true);
  port.FlowControl().SetTxContinueOnXoff(true);
  port.FlowControl().SetXonXoffIn(true);
  port.FlowControl().SetXonXoffOut(false);
  port.FlowControl().SetXoffChar('\xA0');
  port.FlowControl().SetXonChar('X');
}

void ExpectSameSettings(const TCustomComPort& a, const TCustomComPort& b) {
  EXPECT_EQ(a.Port(), b.Port());
  EXPECT_EQ(a.CurrentLineValues(), b.CurrentLineValues());
  EXPECT_EQ(a.Timeouts().Values(), b.Timeouts().Values());
  EXPECT_EQ(a.Buffer().Values(), b.Buffer().Values());
}

// Settings errors carry no system number.
void ExpectSettingsError(const std::function<void()>& call, int number) {
  velmora::test::ExpectComError(call, number, -1);
}

class IniSettingsTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::string path_ = (folder_ / "ZORVA.INI").string();
  TestPort port_{"ComPort1", folder_ / "registry"};
};

TEST_F(IniSettingsTest, DefaultsSaveSixKeysInOrder) {
  port_.SaveSettings(skIniFile, path_);
  EXPECT_EQ(ReadFileBytes(path_),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=None\n");
}

TEST_F(IniSettingsTest, EveryGroupRoundTripsInItsKeyOrder) {
  port_.SetStoredGroups(kAllGroups);
  SetEverything(port_);
  port_.SaveSettings(skIniFile, path_);
  EXPECT_EQ(ReadFileBytes(path_),
            "[ComPort1]\nPort=ttyUSB3\nBaudRate=Custom\nCustomBaudRate=250000\nStopBits=2\n"
            "DataBits=7\nParity=Mark\nFlowControl=Custom\n"
            "EventChar=#10\nDiscardNull=Yes\n"
            "Parity.Check=Yes\nParity.Replace=Yes\nParity.ReplaceChar=?\n"
            "Buffer.OutputSize=4096\nBuffer.InputSize=2048\n"
            "Timeouts.ReadInterval=5\nTimeouts.ReadTotalConstant=6\nTimeouts.ReadTotalMultiplier=7\n"
            "Timeouts.WriteTotalConstant=8\nTimeouts.WriteTotalMultiplier=9\n"
            "FlowControl.ControlRTS=Toggle\nFlowControl.ControlDTR=Enable\n"
            "FlowControl.DSRSensitivity=Yes\nFlowControl.OutCTSFlow=Yes\nFlowControl.OutDSRFlow=Yes\n"
            "FlowControl.TxContinueOnXoff=Yes\nFlowControl.XonXoffIn=Yes\nFlowControl.XonXoffOut=No\n"
            "FlowControl.XoffChar=#160\nFlowControl.XonChar=X\n");

  TestPort restored("ComPort1", folder_ / "registry");
  restored.SetStoredGroups(kAllGroups);
  restored.RestoreSettings(skIniFile, path_);
  ExpectSameSettings(restored, port_);
  EXPECT_EQ(restored.UpdateCount(), 0);
}

TEST_F(IniSettingsTest, CustomBaudRateIsWrittenOnlyWithCustomAndReadOnlyAfterIt) {
  port_.SetBaudRate(brCustom);
  port_.SetCustomBaudRate(1000);
  port_.SaveSettings(skIniFile, path_);
  port_.SetBaudRate(br9600);
  port_.SaveSettings(skIniFile, path_);
  // The earlier number stays in the file...
  EXPECT_EQ(IniFile(path_).ReadString("ComPort1", "BaudRate", ""), "9600");
  EXPECT_EQ(IniFile(path_).ReadString("ComPort1", "CustomBaudRate", ""), "1000");

  // ...and a restore at a table rate ignores it.
  TestPort other("ComPort1", folder_ / "registry");
  other.SetCustomBaudRate(4321);
  other.RestoreSettings(skIniFile, path_);
  EXPECT_EQ(other.BaudRate(), br9600);
  EXPECT_EQ(other.CustomBaudRate(), 4321);

  // "Custom" without its number gives 9600.
  WriteFileBytes(path_, "[ComPort1]\nBaudRate=Custom\n");
  other.RestoreSettings(skIniFile, path_);
  EXPECT_EQ(other.BaudRate(), brCustom);
  EXPECT_EQ(other.CustomBaudRate(), 9600);
}

TEST_F(IniSettingsTest, MissingKeysAndMissingFileLeaveSettingsUnchanged) {
  port_.SetStoredGroups(kAllGroups);
  SetEverything(port_);
  TestPort before("ComPort1", folder_ / "registry");
  SetEverything(before);

  port_.RestoreSettings(skIniFile, (folder_ / "absent.ini").string());
  ExpectSameSettings(port_, before);

  // Every key but one present with the values the port already has; "FlowControl.OutDSRFlow"
  // and "Port" are absent, and the file's "CustomBaudRate" is kept.
  port_.SaveSettings(skIniFile, path_);
  std::string content = ReadFileBytes(path_);
  for (const char* line : {"FlowControl.OutDSRFlow=Yes\n", "Port=ttyUSB3\n"})
    content.erase(content.find(line), std::string(line).size());
  WriteFileBytes(path_, "[Other]\nPort=COM9\n" + content);
  port_.RestoreSettings(skIniFile, path_);
  ExpectSameSettings(port_, before);
}

TEST_F(IniSettingsTest, IntegersTakeHexAndIgnoreNonNumbers) {
  port_.SetStoredGroups({sgBuffer, sgTimeouts});
  WriteFileBytes(path_,
                 "[ComPort1]\nBuffer.OutputSize=0x400\nBuffer.InputSize=abc\n"
                 "Timeouts.ReadInterval=\nTimeouts.WriteTotalConstant=-0\n");
  port_.Buffer().SetOutputSize(64);
  port_.Buffer().SetInputSize(128);
  port_.RestoreSettings(skIniFile, path_);
  EXPECT_EQ(port_.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port_.Buffer().InputSize(), 128);
  EXPECT_EQ(port_.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port_.Timeouts().WriteTotalConstant(), 0);
}

TEST_F(IniSettingsTest, HandWrittenFileInAnyLetterCaseReadsTheSame) {
  port_.SetStoredGroups({sgLine, sgFlowControl});
  WriteFileBytes(path_,
                 "; written by hand on Windows\r\n[COMPORT1]\r\nport=COM4\r\nbaudrate=custom\r\n"
                 "CUSTOMBAUDRATE=0x3D090\r\nstopbits=1.5\r\ndatabits=6\r\nPARITY=even\r\n"
                 "flowcontrol=HARDWARE\r\nflowcontrol.controldtr=handshake\r\n");
  port_.RestoreSettings(skIniFile, path_);
  EXPECT_EQ(port_.Port(), "COM4");
  EXPECT_EQ(port_.BaudRate(), brCustom);
  EXPECT_EQ(port_.CustomBaudRate(), 250000);
  EXPECT_EQ(port_.StopBits(), sbOne5StopBits);
  EXPECT_EQ(port_.DataBits(), dbSix);
  EXPECT_EQ(port_.Parity().Bits(), prEven);
  EXPECT_EQ(port_.FlowControl().FlowControl(), fcHardware);
  EXPECT_EQ(port_.FlowControl().ControlDTR(), dtrHandshake);
}

TEST_F(IniSettingsTest, FlowControlKeysOverrideTheCompositeAndUnknownTextKeepsFlags) {
  port_.SetStoredGroups({sgLine, sgFlowControl});
  WriteFileBytes(path_, "[ComPort1]\nFlowControl=Software\nFlowControl.XonXoffOut=No\n");
  port_.RestoreSettings(skIniFile, path_);
  EXPECT_TRUE(port_.FlowControl().XonXoffIn());
  EXPECT_FALSE(port_.FlowControl().XonXoffOut());

  port_.SetStoredGroups({sgLine});
  port_.FlowControl().SetFlowControl(fcHardware);
  WriteFileBytes(path_, "[ComPort1]\nFlowControl=RTS/CTS\n");  // not a text of the table
  port_.RestoreSettings(skIniFile, path_);
  EXPECT_EQ(port_.FlowControl().FlowControl(), fcHardware);
}

TEST_F(IniSettingsTest, SaveKeepsTheRestOfTheFile) {
  WriteFileBytes(path_,
                 "; Velmora settings\r\n[Velmora]\r\nRTS/CTS=1\r\nEditor=C:\\\xD0\xE5\xE4.exe\r\n\r\n"
                 "[comport1]\r\nport=COM2\r\nParity.Check=Yes\r\n");
  port_.SaveSettings(skIniFile, path_);
  EXPECT_EQ(ReadFileBytes(path_),
            "; Velmora settings\r\n[Velmora]\r\nRTS/CTS=1\r\nEditor=C:\\\xD0\xE5\xE4.exe\r\n\r\n"
            "[comport1]\r\nport=COM1\r\nParity.Check=Yes\r\nBaudRate=9600\r\nStopBits=1\r\n"
            "DataBits=8\r\nParity=None\r\nFlowControl=None\r\n");
}

TEST_F(IniSettingsTest, UnwritableFileIsError16) {
  std::filesystem::create_directory(path_);
  ExpectSettingsError([&] { port_.SaveSettings(skIniFile, path_); }, kErrStoreSettings);
  ExpectSettingsError([&] { port_.SaveSettings(skIniFile, (folder_ / "none" / "x.ini").string()); }, kErrStoreSettings);
  // A port without a name has no section to write.
  TestPort unnamed("", folder_ / "registry");
  ExpectSettingsError([&] { unnamed.SaveSettings(skIniFile, (folder_ / "y.ini").string()); }, kErrStoreSettings);
}

// Errors of any class inside save and restore come out as 16 and 17; the update bracket of a
// failed restore is closed.
class FailingPort : public TestPort {
 public:
  using TestPort::TestPort;
  void WriteIniSettings(IniFile&) override { throw std::runtime_error("disk on fire"); }
  void ReadIniSettings(IniFile& ini) override {
    TestPort::ReadIniSettings(ini);
    throw std::logic_error("after reading");
  }
};

TEST_F(IniSettingsTest, AnyFailureBecomesTheStoreErrorAndTheBracketCloses) {
  FailingPort port("ComPort1", folder_ / "registry");
  ExpectSettingsError([&] { port.SaveSettings(skIniFile, path_); }, kErrStoreSettings);
  WriteFileBytes(path_, "[ComPort1]\nPort=COM5\n");
  ExpectSettingsError([&] { port.RestoreSettings(skIniFile, path_); }, kErrLoadSettings);
  EXPECT_EQ(port.UpdateCount(), 0);
  EXPECT_EQ(port.Port(), "COM5");  // read before the failure: kept
}

// An open port restored from a file that names another device: the new device is opened at
// once, and everything else reaches it in one batch when the restore ends.
class RestoreOpenPortTest : public IniSettingsTest {
 protected:
  RestoreOpenPortTest() {
    directory_->Add("REC1", first_);
    directory_->Add("REC2", second_);
    port_.SetDeviceDirectory(directory_);
    port_.SetEvents({});  // no monitor thread: only the configuration calls matter here
    port_.SetPort("REC1");
    port_.OpenPort();
    first_->ClearCalls();
    WriteFileBytes(path_,
                   "[ComPort1]\nPort=REC2\nBaudRate=19200\nStopBits=2\nDataBits=7\nParity=Even\n"
                   "FlowControl=Hardware\n");
  }

  static long Count(const std::vector<std::string>& names, const std::string& name) {
    return std::count(names.begin(), names.end(), name);
  }

  std::shared_ptr<velmora::test::FakeDevice> first_ = std::make_shared<velmora::test::FakeDevice>();
  std::shared_ptr<velmora::test::FakeDevice> second_ = std::make_shared<velmora::test::FakeDevice>();
  std::shared_ptr<platform::DeviceDirectory> directory_ = std::make_shared<platform::DeviceDirectory>();
};

TEST_F(RestoreOpenPortTest, ReopensAtOnceAndAppliesTheRestOnceAtTheEnd) {
  port_.RestoreSettings(skIniFile, path_);

  const std::vector<std::string> old = first_->CallNames();
  EXPECT_EQ(Count(old, "Close"), 1);
  EXPECT_EQ(Count(old, "SetCommState"), 0);
  EXPECT_FALSE(first_->IsOpen());

  const std::vector<std::string> calls = second_->CallNames();
  ASSERT_TRUE(second_->IsOpen());
  EXPECT_EQ(calls.front(), "Open");
  EXPECT_EQ(Count(calls, "SetupComm"), 1);
  EXPECT_EQ(Count(calls, "SetCommState"), 1);
  EXPECT_EQ(Count(calls, "SetCommTimeouts"), 1);
  const std::optional<platform::Dcb> dcb = second_->LastDcb();
  ASSERT_TRUE(dcb.has_value());
  EXPECT_EQ(dcb->BaudRate, 19200u);
  EXPECT_EQ(dcb->ByteSize, 7);
  EXPECT_EQ(dcb->StopBits, 2);
  EXPECT_EQ(dcb->Parity, 2);
  EXPECT_EQ(dcb->fOutxCtsFlow, 1);
  EXPECT_EQ(port_.UpdateCount(), 0);
}

TEST_F(RestoreOpenPortTest, DeviceRefusingTheFinalApplyIsError17) {
  second_->Fail("SetCommState", EINVAL);
  ExpectSettingsError([&] { port_.RestoreSettings(skIniFile, path_); }, kErrLoadSettings);
  EXPECT_EQ(port_.UpdateCount(), 0);
  EXPECT_EQ(port_.Port(), "REC2");
  EXPECT_EQ(port_.BaudRate(), br19200);
}

class RegistrySettingsTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::filesystem::path registry_ = folder_ / "registry";
  TestPort port_{"ComPort1", registry_};
};

TEST_F(RegistrySettingsTest, OpenSettingsKeyChoosesTheRootByName) {
  struct Case {
    const char* path;
    RegistryStore::Root root;
    const char* key;  // the key that must now exist, or null when nothing is opened
  } cases[] = {
      {"HKEY_LOCAL_MACHINE\\A\\B", RegistryStore::Root::kLocalMachine, "A\\B\\ComPort1"},
      {"hkey_local_machine\\A\\B", RegistryStore::Root::kLocalMachine, "A\\B\\ComPort1"},
      {"HKEY_CURRENT_USER\\Software\\Velmora\\", RegistryStore::Root::kCurrentUser,
       "Software\\Velmora\\ComPort1"},
      {"HKLM\\A\\B", RegistryStore::Root::kCurrentUser, "A\\B\\ComPort1"},
      {"Software\\Velmora", RegistryStore::Root::kCurrentUser, "Velmora\\ComPort1"},
      {"HKEY_LOCAL_MACHINE", RegistryStore::Root::kCurrentUser, nullptr},
      {"HKEY_LOCAL_MACHINE\\", RegistryStore::Root::kLocalMachine, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TempFolder folder;
    RegistryStore registry(folder.path());
    TCustomComPort::OpenSettingsKey(registry, c.path, "ComPort1");
    EXPECT_EQ(registry.RootKey(), c.root);
    EXPECT_EQ(registry.HasOpenKey(), c.key != nullptr);
    if (c.key == nullptr) continue;
    RegistryStore check(folder.path(), c.root);
    EXPECT_TRUE(check.OpenKey(c.key, false));
  }
}

TEST_F(RegistrySettingsTest, EveryGroupRoundTrips) {
  port_.SetStoredGroups(kAllGroups);
  SetEverything(port_);
  port_.SaveSettings(skRegistry, "HKEY_CURRENT_USER\\Software\\Velmora");

  RegistryStore raw(registry_);
  ASSERT_TRUE(raw.OpenKey("Software\\Velmora\\ComPort1", false));
  EXPECT_EQ(raw.ReadString("BaudRate"), "Custom");
  EXPECT_EQ(raw.ReadInteger("CustomBaudRate"), 250000);
  EXPECT_THROW(raw.ReadString("Buffer.InputSize"), RegistryError);  // a number value

  TestPort restored("ComPort1", registry_);
  restored.SetStoredGroups(kAllGroups);
  restored.RestoreSettings(skRegistry, "hkey_current_user\\software\\velmora");
  ExpectSameSettings(restored, port_);
}

TEST_F(RegistrySettingsTest, AbsentNumberEndsTheRestoreWith17) {
  RegistryStore raw(registry_);
  ASSERT_TRUE(raw.OpenKey("Software\\ComPort1", true));
  raw.WriteString("Port", "COM7");
  port_.SetStoredGroups({sgLine, sgBuffer});
  port_.SetDataBits(dbFive);
  ExpectSettingsError([&] { port_.RestoreSettings(skRegistry, "HKEY_CURRENT_USER\\Software"); }, kErrLoadSettings);
  EXPECT_EQ(port_.Port(), "COM7");
  // Absent texts read empty and parse to their fallbacks.
  EXPECT_EQ(port_.DataBits(), dbEight);
  EXPECT_EQ(port_.Buffer().InputSize(), 1024);
  EXPECT_EQ(port_.UpdateCount(), 0);
}

TEST_F(RegistrySettingsTest, PathWithoutKeyFailsBothWaysAndChangesNothing) {
  port_.SetPort("COM3");
  for (const char* path : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\", ""}) {
    SCOPED_TRACE(path);
    ExpectSettingsError([&] { port_.SaveSettings(skRegistry, path); }, kErrStoreSettings);
    ExpectSettingsError([&] { port_.RestoreSettings(skRegistry, path); }, kErrLoadSettings);
    EXPECT_EQ(port_.Port(), "COM3");
    EXPECT_EQ(port_.UpdateCount(), 0);
  }
}

TEST_F(RegistrySettingsTest, StoreWithoutFolderFails) {
  TestPort homeless("ComPort1", "");
  ExpectSettingsError([&] { homeless.SaveSettings(skRegistry, "HKEY_CURRENT_USER\\Software"); }, kErrStoreSettings);
}

}  // namespace
}  // namespace velmora::port
