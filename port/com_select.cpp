#include "port/com_select.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "platform/ascii_case.h"
#include "port/text_forms.h"

namespace velmora::port {

using platform::EqualIgnoringAsciiCase;

namespace {

template <typename Enum>
void AppendTexts(std::vector<std::string>& items, int count, std::string (*text)(Enum)) {
  for (int i = 0; i < count; ++i) items.push_back(text(static_cast<Enum>(i)));
}

// The by-id links of `folder` (full paths) placed beside the kernel names they lead to. A link
// whose device is not listed (or that leads nowhere: a device just unplugged) goes at the end;
// one that cannot be read is left out. A missing folder (no USB serial device plugged in) adds
// nothing.
void AddStableNames(std::vector<std::string>& items, const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  if (folder.empty()) return;
  std::vector<std::pair<std::string, std::string>> links;  // (kernel name, link path)
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkError;
    const fs::path target = fs::canonical(it->path(), linkError);
    links.emplace_back(linkError ? std::string() : target.filename().string(), it->path().string());
  }
  std::sort(links.begin(), links.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  std::vector<std::string> placed;
  placed.reserve(items.size() + links.size());
  for (const std::string& item : items) {
    placed.push_back(item);
    for (auto& [kernelName, path] : links) {
      if (path.empty() || kernelName.empty() || !EqualIgnoringAsciiCase(kernelName, item)) continue;
      placed.push_back(std::move(path));
      path.clear();
    }
  }
  for (auto& link : links)
    if (!link.second.empty()) placed.push_back(std::move(link.second));
  items = std::move(placed);
}

}  // namespace

TComSelect::~TComSelect() {
  if (port_) port_->RemoveFreeNotification(this);
}

void TComSelect::SetPortSource(std::shared_ptr<const platform::DeviceDirectory> directory,
                               std::filesystem::path ttyClassFolder,
                               std::optional<std::filesystem::path> byIdFolder) {
  directory_ = std::move(directory);
  // A test's own tty tree must not be mixed with the machine's real links.
  const bool systemTtys = ttyClassFolder == std::filesystem::path(kSystemTtyClassFolder);
  byIdFolder_ = byIdFolder ? std::move(*byIdFolder)
                           : (systemTtys ? std::filesystem::path(kSystemByIdFolder) : std::filesystem::path());
  ttyClassFolder_ = std::move(ttyClassFolder);
}

std::shared_ptr<const platform::DeviceDirectory> TComSelect::PortDirectory() const {
  if (directory_) return directory_;
  if (port_ && port_->Directory()) return port_->Directory();
  return platform::DeviceDirectory::Standard();
}

void TComSelect::SetKind(TComProperty kind) {
  kind_ = kind;
  FillItems();
  if (items_.empty()) return;
  if (!port_) {
    SetItemIndex(0);
    return;
  }
  SelectPortValue();
}

void TComSelect::FillItems() {
  items_.clear();
  itemIndex_ = -1;
  try {
    switch (kind_) {
      case cpNone: break;
      case cpPort:
        ListSerialPorts(items_, *PortDirectory(), ttyClassFolder_);
        AddStableNames(items_, byIdFolder_);
        break;
      case cpBaudRate: AppendTexts(items_, br256000 + 1, &BaudRateText); break;
      case cpDataBits: AppendTexts(items_, dbEight + 1, &DataBitsText); break;
      case cpStopBits: AppendTexts(items_, sbTwoStopBits + 1, &StopBitsText); break;
      case cpParity: AppendTexts(items_, prSpace + 1, &ParityText); break;
      case cpFlowControl: AppendTexts(items_, fcCustom + 1, &FlowControlText); break;
    }
  } catch (...) {
    // The view must not keep showing the old items.
    items_.clear();
    if (OnItemsChanged) OnItemsChanged();
    throw;
  }
  if (OnItemsChanged) OnItemsChanged();
}

void TComSelect::SetComPort(TCustomComPort* port) {
  if (port == port_) return;
  if (port_) port_->RemoveFreeNotification(this);
  port_ = port;
  if (!port_) return;
  port_->FreeNotification(this);
  SelectPortValue();
}

void TComSelect::SetItemIndex(int index) {
  if (index < -1 || index >= static_cast<int>(items_.size())) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  if (OnItemIndexChanged) OnItemIndexChanged();
}

std::string TComSelect::Text() const {
  return itemIndex_ >= 0 ? items_[static_cast<size_t>(itemIndex_)] : std::string();
}

void TComSelect::SetText(const std::string& text) {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (EqualIgnoringAsciiCase(items_[i], text)) {
      SetItemIndex(static_cast<int>(i));
      return;
    }
  }
}

void TComSelect::PickItem(int index) {
  SetItemIndex(index);
  TakeText(Text());
  if (autoApply_) ApplyToPort();
  if (OnChange) OnChange();
}

void TComSelect::TakeText(const std::string& text) {
  switch (kind_) {
    case cpNone: break;
    case cpPort: selectedPort_ = text; break;
    case cpBaudRate: selectedBaudRate_ = ParseBaudRate(text); break;
    case cpDataBits: selectedDataBits_ = ParseDataBits(text); break;
    case cpStopBits: selectedStopBits_ = ParseStopBits(text); break;
    case cpParity: selectedParity_ = ParseParity(text); break;
    case cpFlowControl: selectedFlowControl_ = ParseFlowControl(text); break;
  }
}

void TComSelect::ApplyToPort() {
  if (!port_) return;
  switch (kind_) {
    case cpNone: break;
    case cpPort: port_->SetPort(selectedPort_); break;
    case cpBaudRate: port_->SetBaudRate(selectedBaudRate_); break;
    case cpDataBits: port_->SetDataBits(selectedDataBits_); break;
    case cpStopBits: port_->SetStopBits(selectedStopBits_); break;
    case cpParity: port_->Parity().SetBits(selectedParity_); break;
    case cpFlowControl: port_->FlowControl().SetFlowControl(selectedFlowControl_); break;
  }
}

std::string TComSelect::PortValueText() const {
  switch (kind_) {
    case cpNone: break;
    case cpPort: return port_->Port();
    case cpBaudRate: return BaudRateText(port_->BaudRate());
    case cpDataBits: return DataBitsText(port_->DataBits());
    case cpStopBits: return StopBitsText(port_->StopBits());
    case cpParity: return ParityText(port_->Parity().Bits());
    case cpFlowControl: return FlowControlText(port_->FlowControl().FlowControl());
  }
  return {};
}

bool TComSelect::UpdateFromPort(int& index) {
  if (!port_ || kind_ == cpNone) return false;
  const std::string value = PortValueText();
  index = -1;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (EqualIgnoringAsciiCase(items_[i], value)) {
      index = static_cast<int>(i);
      break;
    }
  }
  if (index >= 0) TakeText(items_[static_cast<size_t>(index)]);
  return true;
}

void TComSelect::SelectPortValue() {
  int index = -1;
  if (UpdateFromPort(index)) SetItemIndex(index);
}

void TComSelect::PortDestroying(TCustomComPort& port) {
  if (&port != port_) return;
  port_ = nullptr;
  if (!items_.empty()) SetItemIndex(0);
}

}  // namespace velmora::port
