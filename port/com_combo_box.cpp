#include "port/com_combo_box.h"

#include "port/device_description.h"
#include "port/error_display.h"

namespace velmora::port {

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  // The list is shown in the order it was built, never sorted by the box.
  setInsertPolicy(QComboBox::NoInsert);
  selector_.OnItemsChanged = [this] { ShowItems(); };
  selector_.OnItemIndexChanged = [this] { ShowSelection(); };
  // Qt reports `activated` only for the operator's choice, not for a selection made in code.
  connect(this, &QComboBox::activated, this, &TComComboBox::OperatorPicked);
}

TComComboBox::~TComComboBox() {
  // The selector outlives this body and may still move its selection as it lets go of the port.
  selector_.OnItemsChanged = nullptr;
  selector_.OnItemIndexChanged = nullptr;
}

void TComComboBox::ShowItems() {
  const QSignalBlocker quiet(this);
  clear();
  const bool ports = selector_.Kind() == cpPort;
  const auto directory = ports ? selector_.PortDirectory() : nullptr;
  for (const std::string& item : selector_.Items()) {
    addItem(QString::fromLocal8Bit(item));
    if (!ports) continue;
    const std::string description =
        DescribePortDevice(item, *directory, selector_.TtyClassFolder());
    if (!description.empty())
      setItemData(count() - 1, QString::fromLocal8Bit(description), Qt::ToolTipRole);
  }
  setCurrentIndex(selector_.ItemIndex());
}

void TComComboBox::ShowSelection() {
  if (currentIndex() != selector_.ItemIndex()) setCurrentIndex(selector_.ItemIndex());
}

void TComComboBox::OperatorPicked(int index) {
  // A slot is a handler boundary: nothing may be thrown into Qt's event loop.
  try {
    selector_.PickItem(index);
    if (OnChange) OnChange(*this);
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace velmora::port
