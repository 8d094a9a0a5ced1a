#include "port/qt/com_combo_box.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "port/device_description.h"
#include "port/error_display.h"

namespace velmora::port {

namespace {

TComComboBox::Decoder gDecode = nullptr;
TComComboBox::Encoder gEncode = nullptr;

}  // namespace

void TComComboBox::SetTextCodec(Decoder decode, Encoder encode) {
  gDecode = decode;
  gEncode = encode;
}

QString TComComboBox::ShownText(const std::string& text) {
  return gDecode ? gDecode(text) : QString::fromLocal8Bit(text);
}

std::string TComComboBox::StoredText(const QString& text) {
  return gEncode ? gEncode(text) : text.toLocal8Bit().toStdString();
}

void TComComboBox::SetTypingAllowed(bool allowed) {
  setEditable(allowed);
  if (!allowed) return;
  setInsertPolicy(QComboBox::NoInsert);
  // Completing inline would put a longer listed name into the field while a shorter one is
  // typed (ttyUSB1 becoming ttyUSB10), and that name would be the one taken.
  setCompleter(nullptr);
  connect(lineEdit(), &QLineEdit::textEdited, this, [this] { typed_ = true; });
  ShowSelection();
}

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

void TComComboBox::keyPressEvent(QKeyEvent* event) {
  // Home and End choose the first and the last item, as in the drop-down list, until the
  // operator types in the field; in text being typed they move the cursor.
  if (isEditable() && !typed_ && event->modifiers() == Qt::NoModifier &&
      (event->key() == Qt::Key_Home || event->key() == Qt::Key_End) && count() > 0) {
    const int index = event->key() == Qt::Key_Home ? 0 : count() - 1;
    if (index != currentIndex()) {
      setCurrentIndex(index);
      emit activated(index);
    }
    event->accept();
    return;
  }
  QComboBox::keyPressEvent(event);
}

void TComComboBox::ShowItems() {
  const QSignalBlocker quiet(this);
  clear();
  const bool ports = selector_.Kind() == cpPort;
  const auto directory = ports ? selector_.PortDirectory() : nullptr;
  for (const std::string& item : selector_.Items()) {
    addItem(ShownText(item));
    if (!ports) continue;
    const std::string description =
        DescribePortDevice(item, *directory, selector_.TtyClassFolder());
    if (!description.empty())
      setItemData(count() - 1, QString::fromLocal8Bit(description), Qt::ToolTipRole);
  }
  setCurrentIndex(selector_.ItemIndex());
  ShowSelection();
}

void TComComboBox::ShowSelection() {
  if (currentIndex() != selector_.ItemIndex()) setCurrentIndex(selector_.ItemIndex());
  // A port the list lacks is still the port in use: the field says which.
  if (isEditable() && selector_.ItemIndex() < 0 && selector_.Kind() == cpPort && ComPort()) {
    const QSignalBlocker quiet(this);
    setEditText(ShownText(ComPort()->Port()));
  }
}

void TComComboBox::OperatorPicked(int index) {
  // A slot is a handler boundary: nothing may be thrown into Qt's event loop.
  typed_ = false;
  try {
    selector_.PickItem(index);
    if (OnChange) OnChange(*this);
  } catch (...) {
    ShowCurrentException();
  }
}

}  // namespace velmora::port
