#include "dialogs/dialog_font.h"

#include <QApplication>
#include <QWidget>

namespace velmora::dialogs {

void UseDialogFont(QWidget* dialog) {
  QFont font = QApplication::font();
  font.setPointSize(8);
  dialog->setFont(font);
}

}  // namespace velmora::dialogs
