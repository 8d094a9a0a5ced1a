#pragma once
// The transmit pane: a plain text pane in which the operator types. Its key presses are sent by
// the main window; what is pasted or dropped only enters the pane, as plain text.
//
// Pasting takes the clipboard's text and nothing else, whatever the clipboard holds: Qt 6.4's
// own paste ends the program when the clipboard is empty. User-interface thread only.

#include <QPlainTextEdit>

namespace velmora::console {

class TransmitPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TransmitPane(QWidget* parent = nullptr);

 protected:
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;
};

}  // namespace velmora::console
