#pragma once
// The about dialog: what the program is for and which version it is. Shown modally on the
// user-interface thread, centred over its owner; OK or Esc closes it. Raises nothing.

#include <QDialog>

namespace velmora::dialogs {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* owner);
};

// Creates the dialog owned by `owner`, shows it modally and destroys it, also when the run
// ends by an error or the owner goes first.
void ExecuteAboutBox(QWidget* owner);

}  // namespace velmora::dialogs
