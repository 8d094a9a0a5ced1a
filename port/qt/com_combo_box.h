#pragma once
// TComComboBox: a drop-down list bound to one setting of one serial port.
//
// The box shows its TComSelect (com_select.h): the item texts for ComProperty, the selected
// item, and for the port kind a tooltip on each port with what the system knows of the device
// behind it. When the operator picks an item (mouse or keyboard), the box hands the choice to
// the selector, which stores its value, applies it at once with AutoApply, and raises OnChange.
// Selecting from code (SetText, setCurrentIndex) does neither. The box is a drop-down list: no
// free text can be typed, unless typing is allowed (SetTypingAllowed), as the port's box does
// for a device the list cannot know (a pseudo-terminal, any path); the field then also shows
// the port's value when the list lacks it.
//
// Texts: the engine's single bytes become what the box shows through one process-wide pair of
// conversions (SetTextCodec), the local 8-bit encoding unless the program sets its own, so that
// a port name reads the same here as everywhere else in the window. The tooltips are the
// system's own text and stay in the local encoding.
//
// User-interface thread only. Errors: an error of the port while the operator's choice is
// applied (AutoApply) cannot be handed to Qt; it goes to the application's error display.
// ApplyToPort and SetComProperty raise to their caller.

#include <QComboBox>
#include <functional>
#include <string>

#include "port/com_select.h"

namespace velmora::port {

class TComComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;

  TComSelect& Selector() { return selector_; }
  const TComSelect& Selector() const { return selector_; }

  TCustomComPort* ComPort() const { return selector_.ComPort(); }
  void SetComPort(TCustomComPort* port) { selector_.SetComPort(port); }
  TComProperty ComProperty() const { return selector_.Kind(); }
  void SetComProperty(TComProperty kind) { selector_.SetKind(kind); }
  bool AutoApply() const { return selector_.AutoApply(); }
  void SetAutoApply(bool value) { selector_.SetAutoApply(value); }
  // Text in the port's single bytes, as the engine keeps it.
  std::string Text() const { return selector_.Text(); }
  void SetText(const std::string& text) { selector_.SetText(text); }

  void ApplyToPort() { selector_.ApplyToPort(); }
  void UpdateFromPort() {
    selector_.SelectPortValue();
    ShowSelection();
  }

  void SetTypingAllowed(bool allowed);

  using Decoder = QString (*)(const std::string&);
  using Encoder = std::string (*)(const QString&);
  // Set once, before any box is made; nullptr restores the local 8-bit encoding.
  static void SetTextCodec(Decoder decode, Encoder encode);
  static QString ShownText(const std::string& text);
  static std::string StoredText(const QString& text);

  // After the operator's choice has been stored (and applied).
  std::function<void(TComComboBox& Sender)> OnChange;

 private:
  void ShowItems();
  void ShowSelection();
  void OperatorPicked(int index);

  TComSelect selector_;
  bool typed_ = false;  // the field holds text the operator typed

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace velmora::port
