#pragma once
// The transmit pane: a plain text pane in which the operator types. Its key presses are sent by
// the main window; what is pasted or dropped only enters the pane, as plain text.
//
// Pasting takes the clipboard's text and nothing else, whatever the clipboard holds: Qt 6.4's
// own paste ends the program when the clipboard is empty.
//
// KeysToTransmitPane: a character key typed anywhere in the window (on a button, in the receive
// pane, with the focus nowhere) goes to the transmit pane, which takes the focus, as if it had
// been typed there. Not taken: keys with Alt or Meta (access keys and menus), Tab and
// Shift+Tab (the focus moves), the standard editing shortcuts (Ctrl+C copies in the receive
// pane), keys without a character (arrows, Page Up, Home: the receive pane's selection and
// scrolling), keys typed into a line entry of the window (the send line), and anything in the
// menu bar or in another window (dialogs, menus).
//
// User-interface thread only.

#include <QPlainTextEdit>
#include <QPointer>

namespace velmora::console {

class TransmitPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TransmitPane(QWidget* parent = nullptr);

 protected:
  // A control character typed here (Ctrl+letter) goes to the line before any of the window's
  // shortcuts on the same keys.
  bool event(QEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;
};

class KeysToTransmitPane : public QObject {
  Q_OBJECT

 public:
  // Watches the application's key presses for `window`, for as long as it lives.
  KeysToTransmitPane(QWidget* window, TransmitPane* pane);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  QPointer<TransmitPane> pane_;
  // The key press the pane had last, until a release: one the pane leaves to its parents must
  // not come back to it from them.
  const QEvent* paneKey_ = nullptr;
};

}  // namespace velmora::console
