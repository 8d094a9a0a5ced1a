#pragma once
// TComSelect: a setting selector without the toolkit.
//
// A selector edits one setting of one port it does not own: the port name, the baud rate, the
// data bits, the stop bits, the parity or the flow-control kind (its Kind). It builds the item
// texts for that setting, keeps which item is selected, finds the port's current value among
// the items, stores the value of the item the operator picked, and writes the stored value into
// the port either at once (AutoApply) or when asked (ApplyToPort). The Qt combo box
// (com_combo_box.h) is a view of one selector; the selection lives here so that all of it can
// be tested without a window.
//
// Selecting from code (SetItemIndex, SetText) moves the selection only; PickItem is the
// operator's choice, which also stores the item's value, applies it with AutoApply and raises
// OnChange.
//
// The bound port is not owned. The selector asks the port to say when it is destroyed, then
// lets go of it and selects item 0; a selector destroyed first withdraws that request.
//
// Threads: the thread that owns the port. Errors: listing the ports raises EComPort kErrRegistry
// out of SetKind(cpPort) and leaves the list empty; an error of the port while a value is written
// (a reopen under a new name) passes to the caller of ApplyToPort, or of PickItem with
// AutoApply.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_directory.h"
#include "port/com_port.h"
#include "port/com_types.h"
#include "port/list_ports.h"

namespace velmora::port {

// The system's stable names for serial devices: links named after the device's maker, product
// and serial number, which stay the same whichever socket an adapter is plugged into.
inline constexpr const char* kSystemByIdFolder = "/dev/serial/by-id";

enum TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TComSelect final : private TPortObserver {
 public:
  TComSelect() = default;
  ~TComSelect();
  TComSelect(const TComSelect&) = delete;
  TComSelect& operator=(const TComSelect&) = delete;

  // Where the port list comes from: the simulated devices of `directory`, the ttys of
  // `ttyClassFolder` and the links of `byIdFolder` (by default the system's /dev/serial/by-id
  // when the ttys are the system's, none otherwise). Without a directory the bound port's is
  // used, else the standard one. Takes effect at the next SetKind.
  void SetPortSource(std::shared_ptr<const platform::DeviceDirectory> directory,
                     std::filesystem::path ttyClassFolder = kSystemTtyClassFolder,
                     std::optional<std::filesystem::path> byIdFolder = std::nullopt);
  const std::filesystem::path& TtyClassFolder() const { return ttyClassFolder_; }
  // The directory the port list is (or would be) built from.
  std::shared_ptr<const platform::DeviceDirectory> PortDirectory() const;

  TComProperty Kind() const { return kind_; }
  // Rebuilds the items for `kind` (for cpPort: the listed ports, each kernel name followed by
  // the full paths of the /dev/serial/by-id links that lead to it, in name order, and links to
  // devices not listed at the end); then, if there are any, selects item 0 with no port bound,
  // or the port's current value (none when it is not listed) with one.
  void SetKind(TComProperty kind);
  // Rebuilds the items for Kind; the selection is left to the caller.
  void FillItems();
  const std::vector<std::string>& Items() const { return items_; }

  TCustomComPort* ComPort() const { return port_; }
  // Binding another port selects its current value; binding none leaves the selection.
  void SetComPort(TCustomComPort* port);

  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }

  // -1 when nothing is selected. An index outside the list selects nothing.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  // The selected item's text, empty with no selection.
  std::string Text() const;
  // Selects the item of that text, letter case not regarded; an unknown text changes nothing.
  void SetText(const std::string& text);

  // The operator picked item `index`: select it, TakeText, ApplyToPort with AutoApply, OnChange.
  void PickItem(int index);
  std::function<void()> OnChange;

  // Stores the value `text` stands for (the text itself for cpPort; nothing for cpNone).
  void TakeText(const std::string& text);
  // Writes the stored value into the bound port; nothing without a port or with cpNone.
  void ApplyToPort();
  // Finds the port's current value among the items (letter case not regarded) and stores the
  // value of the item found. False without a port or with cpNone (no index produced); else
  // true with `index` the item's position or -1 (the stored value then stays as it was).
  bool UpdateFromPort(int& index);
  // UpdateFromPort, then selects the index found.
  void SelectPortValue();

  // The stored values; only the one of Kind is ever used.
  const std::string& SelectedPort() const { return selectedPort_; }
  TBaudRate SelectedBaudRate() const { return selectedBaudRate_; }
  TDataBits SelectedDataBits() const { return selectedDataBits_; }
  TStopBits SelectedStopBits() const { return selectedStopBits_; }
  TParityBits SelectedParity() const { return selectedParity_; }
  TFlowControl SelectedFlowControl() const { return selectedFlowControl_; }

  // For the view: the items were rebuilt / the selection moved (also when the port went away).
  std::function<void()> OnItemsChanged;
  std::function<void()> OnItemIndexChanged;

 private:
  void PortDestroying(TCustomComPort& port) override;
  std::string PortValueText() const;

  std::string selectedPort_;
  TBaudRate selectedBaudRate_ = brCustom;
  TDataBits selectedDataBits_ = dbFive;
  TStopBits selectedStopBits_ = sbOneStopBit;
  TParityBits selectedParity_ = prNone;
  TFlowControl selectedFlowControl_ = fcHardware;
  std::vector<std::string> items_;
  TComProperty kind_ = cpNone;
  TCustomComPort* port_ = nullptr;
  bool autoApply_ = false;
  int itemIndex_ = -1;
  std::shared_ptr<const platform::DeviceDirectory> directory_;
  std::filesystem::path ttyClassFolder_ = kSystemTtyClassFolder;
  std::filesystem::path byIdFolder_ = kSystemByIdFolder;
};

}  // namespace velmora::port
