// The port's save and restore: the groups and keys of its settings, in their fixed order, over
// the INI file or the registry-style store.

#include <string>
#include <string_view>

#include "platform/ascii_case.h"
#include "port/com_port.h"
#include "port/ecomport.h"
#include "port/ini_file.h"
#include "port/registry_store.h"
#include "port/text_forms.h"

namespace velmora::port {

using platform::AsciiUpper;

namespace {

// The two stores behind one face, so the key order is written down once for each direction.
// A reader gets the current value's form as default: the INI file uses it for an absent key,
// the registry ignores it (an absent text reads empty, an absent number is an error).
class SettingsSink {
 public:
  virtual ~SettingsSink() = default;
  virtual void Text(const char* key, const std::string& value) = 0;
  virtual void Number(const char* key, int32_t value) = 0;
};

class SettingsSource {
 public:
  virtual ~SettingsSource() = default;
  virtual std::string Text(const char* key, const std::string& current) = 0;
  virtual int32_t Number(const char* key, int32_t current) = 0;
  virtual bool Has(const char* key) = 0;
};

class IniSink final : public SettingsSink {
 public:
  IniSink(IniFile& ini, const std::string& section) : ini_(ini), section_(section) {}
  void Text(const char* key, const std::string& value) override { ini_.WriteString(section_, key, value); }
  void Number(const char* key, int32_t value) override { ini_.WriteInteger(section_, key, value); }

 private:
  IniFile& ini_;
  const std::string& section_;
};

class IniSource final : public SettingsSource {
 public:
  IniSource(IniFile& ini, const std::string& section) : ini_(ini), section_(section) {}
  std::string Text(const char* key, const std::string& current) override {
    return ini_.ReadString(section_, key, current);
  }
  int32_t Number(const char* key, int32_t current) override {
    return ini_.ReadInteger(section_, key, current);
  }
  bool Has(const char* key) override { return ini_.ValueExists(section_, key); }

 private:
  IniFile& ini_;
  const std::string& section_;
};

class RegistrySink final : public SettingsSink {
 public:
  explicit RegistrySink(RegistryStore& registry) : registry_(registry) {}
  void Text(const char* key, const std::string& value) override { registry_.WriteString(key, value); }
  void Number(const char* key, int32_t value) override { registry_.WriteInteger(key, value); }

 private:
  RegistryStore& registry_;
};

class RegistrySource final : public SettingsSource {
 public:
  explicit RegistrySource(RegistryStore& registry) : registry_(registry) {}
  std::string Text(const char* key, const std::string&) override { return registry_.ReadString(key); }
  int32_t Number(const char* key, int32_t) override { return registry_.ReadInteger(key); }
  bool Has(const char* key) override { return registry_.ValueExists(key); }

 private:
  RegistryStore& registry_;
};

constexpr int32_t kCustomBaudRateDefault = 9600;

void WriteGroups(const TCustomComPort& port, SettingsSink& out) {
  const TComSettingGroups groups = port.StoredGroups();
  if (groups.Has(sgLine)) {
    out.Text("Port", port.Port());
    out.Text("BaudRate", BaudRateText(port.BaudRate()));
    if (port.BaudRate() == brCustom) out.Number("CustomBaudRate", port.CustomBaudRate());
    out.Text("StopBits", StopBitsText(port.StopBits()));
    out.Text("DataBits", DataBitsText(port.DataBits()));
    out.Text("Parity", ParityText(port.Parity().Bits()));
    out.Text("FlowControl", FlowControlText(port.FlowControl().FlowControl()));
  }
  if (groups.Has(sgMisc)) {
    out.Text("EventChar", CharText(port.EventChar()));
    out.Text("DiscardNull", BoolText(port.DiscardNull()));
  }
  if (groups.Has(sgParity)) {
    const TComParity& parity = port.Parity();
    out.Text("Parity.Check", BoolText(parity.Check()));
    out.Text("Parity.Replace", BoolText(parity.Replace()));
    out.Text("Parity.ReplaceChar", CharText(parity.ReplaceChar()));
  }
  if (groups.Has(sgBuffer)) {
    out.Number("Buffer.OutputSize", port.Buffer().OutputSize());
    out.Number("Buffer.InputSize", port.Buffer().InputSize());
  }
  if (groups.Has(sgTimeouts)) {
    const TComTimeouts& t = port.Timeouts();
    out.Number("Timeouts.ReadInterval", t.ReadInterval());
    out.Number("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    out.Number("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    out.Number("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    out.Number("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (groups.Has(sgFlowControl)) {
    const TComFlowControl& f = port.FlowControl();
    out.Text("FlowControl.ControlRTS", RTSControlText(f.ControlRTS()));
    out.Text("FlowControl.ControlDTR", DTRControlText(f.ControlDTR()));
    out.Text("FlowControl.DSRSensitivity", BoolText(f.DSRSensitivity()));
    out.Text("FlowControl.OutCTSFlow", BoolText(f.OutCTSFlow()));
    out.Text("FlowControl.OutDSRFlow", BoolText(f.OutDSRFlow()));
    out.Text("FlowControl.TxContinueOnXoff", BoolText(f.TxContinueOnXoff()));
    out.Text("FlowControl.XonXoffIn", BoolText(f.XonXoffIn()));
    out.Text("FlowControl.XonXoffOut", BoolText(f.XonXoffOut()));
    out.Text("FlowControl.XoffChar", CharText(f.XoffChar()));
    out.Text("FlowControl.XonChar", CharText(f.XonChar()));
  }
}

// Each value goes to its setter as soon as it is read, so a restore that fails part-way keeps
// what it had read; inside RestoreSettings the update bracket holds the device back meanwhile.
void ReadGroups(TCustomComPort& port, SettingsSource& in) {
  const TComSettingGroups groups = port.StoredGroups();
  auto flag = [&](const char* key, bool current) { return ParseBool(in.Text(key, BoolText(current))); };
  auto character = [&](const char* key, char current) {
    return ParseChar(in.Text(key, CharText(current)));
  };

  if (groups.Has(sgLine)) {
    port.SetPort(in.Text("Port", port.Port()));
    port.SetBaudRate(ParseBaudRate(in.Text("BaudRate", BaudRateText(port.BaudRate()))));
    // Only a "Custom" just read brings its number along; a number left behind by an earlier
    // save at a table rate is ignored. A stored "Custom" without its number means 9600; but
    // when "BaudRate" itself is absent nothing was stored, and the number stays as it is.
    if (port.BaudRate() == brCustom) {
      const int32_t fallback = in.Has("BaudRate") ? kCustomBaudRateDefault : port.CustomBaudRate();
      port.SetCustomBaudRate(in.Number("CustomBaudRate", fallback));
    }
    port.SetStopBits(ParseStopBits(in.Text("StopBits", StopBitsText(port.StopBits()))));
    port.SetDataBits(ParseDataBits(in.Text("DataBits", DataBitsText(port.DataBits()))));
    port.Parity().SetBits(ParseParity(in.Text("Parity", ParityText(port.Parity().Bits()))));
    port.FlowControl().SetFlowControl(ParseFlowControl(
        in.Text("FlowControl", FlowControlText(port.FlowControl().FlowControl()))));
  }
  if (groups.Has(sgMisc)) {
    port.SetEventChar(character("EventChar", port.EventChar()));
    port.SetDiscardNull(flag("DiscardNull", port.DiscardNull()));
  }
  if (groups.Has(sgParity)) {
    TComParity& parity = port.Parity();
    parity.SetCheck(flag("Parity.Check", parity.Check()));
    parity.SetReplace(flag("Parity.Replace", parity.Replace()));
    parity.SetReplaceChar(character("Parity.ReplaceChar", parity.ReplaceChar()));
  }
  if (groups.Has(sgBuffer)) {
    TComBuffer& buffer = port.Buffer();
    buffer.SetOutputSize(in.Number("Buffer.OutputSize", buffer.OutputSize()));
    buffer.SetInputSize(in.Number("Buffer.InputSize", buffer.InputSize()));
  }
  if (groups.Has(sgTimeouts)) {
    TComTimeouts& t = port.Timeouts();
    t.SetReadInterval(in.Number("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(in.Number("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(in.Number("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(in.Number("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(in.Number("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (groups.Has(sgFlowControl)) {
    // After the composite "FlowControl" of the line group, so these override it.
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(ParseRTSControl(in.Text("FlowControl.ControlRTS", RTSControlText(f.ControlRTS()))));
    f.SetControlDTR(ParseDTRControl(in.Text("FlowControl.ControlDTR", DTRControlText(f.ControlDTR()))));
    f.SetDSRSensitivity(flag("FlowControl.DSRSensitivity", f.DSRSensitivity()));
    f.SetOutCTSFlow(flag("FlowControl.OutCTSFlow", f.OutCTSFlow()));
    f.SetOutDSRFlow(flag("FlowControl.OutDSRFlow", f.OutDSRFlow()));
    f.SetTxContinueOnXoff(flag("FlowControl.TxContinueOnXoff", f.TxContinueOnXoff()));
    f.SetXonXoffIn(flag("FlowControl.XonXoffIn", f.XonXoffIn()));
    f.SetXonXoffOut(flag("FlowControl.XonXoffOut", f.XonXoffOut()));
    f.SetXoffChar(character("FlowControl.XoffChar", f.XoffChar()));
    f.SetXonChar(character("FlowControl.XonChar", f.XonChar()));
  }
}

}  // namespace

void TCustomComPort::SaveSettings(TComStoreKind kind, const std::string& path) {
  try {
    if (kind == skIniFile) {
      IniFile ini(path);
      WriteIniSettings(ini);
    } else {
      RegistryStore registry(RegistryFolder(), RegistryStore::Root::kCurrentUser);
      OpenSettingsKey(registry, path, Name());
      WriteRegistrySettings(registry);
    }
  } catch (...) {
    // The caller learns only that the store failed; the store's own message is not kept.
    throw EComPort(kErrStoreSettings);
  }
}

void TCustomComPort::RestoreSettings(TComStoreKind kind, const std::string& path) {
  bool failed = false;
  BeginSettingsUpdate();
  try {
    if (kind == skIniFile) {
      IniFile ini(path);
      ReadIniSettings(ini);
    } else {
      RegistryStore registry(RegistryFolder(), RegistryStore::Root::kCurrentUser);
      OpenSettingsKey(registry, path, Name());
      // Reading a key that could not be opened would blank every text setting; refuse instead.
      if (!registry.HasOpenKey()) throw RegistryError("settings key not open");
      ReadRegistrySettings(registry);
    }
  } catch (...) {
    failed = true;
  }
  // Closed also after a failure, so the port is not left holding its settings back; this is
  // where an open port receives everything read, once.
  try {
    EndSettingsUpdate();
  } catch (...) {
    failed = true;
  }
  if (failed) throw EComPort(kErrLoadSettings);
}

void TCustomComPort::OpenSettingsKey(RegistryStore& registry, const std::string& path,
                                     const std::string& name) {
  const std::size_t backslash = path.find('\\');
  if (backslash == std::string::npos) return;
  const std::string root = AsciiUpper(std::string_view(path).substr(0, backslash));
  if (root == "HKEY_LOCAL_MACHINE")
    registry.SetRootKey(RegistryStore::Root::kLocalMachine);
  else if (root == "HKEY_CURRENT_USER")
    registry.SetRootKey(RegistryStore::Root::kCurrentUser);
  std::string key = path.substr(backslash + 1);
  if (key.empty() || key.back() != '\\') key += '\\';
  key += name;
  // An empty key path gives "\name", which the store refuses: nothing is opened.
  registry.OpenKey(key, true);
}

std::filesystem::path TCustomComPort::RegistryFolder() const { return RegistryStore::DefaultFolder(); }

void TCustomComPort::WriteRegistrySettings(RegistryStore& registry) {
  RegistrySink sink(registry);
  WriteGroups(*this, sink);
}

void TCustomComPort::WriteIniSettings(IniFile& ini) {
  IniSink sink(ini, Name());
  WriteGroups(*this, sink);
}

void TCustomComPort::ReadRegistrySettings(RegistryStore& registry) {
  RegistrySource source(registry);
  ReadGroups(*this, source);
}

void TCustomComPort::ReadIniSettings(IniFile& ini) {
  IniSource source(ini, Name());
  ReadGroups(*this, source);
}

}  // namespace velmora::port
