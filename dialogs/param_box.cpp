#include "dialogs/param_box.h"

#include <QApplication>

#include "dialogs/parameters_dialog.h"

namespace velmora::dialogs {

bool ExecuteParamBox(port::TCustomComPort& Port, int32_t& TxDelay, int32_t& RtsCtsMode,
                     int32_t& CrLfMode, QString& EditorPath, QFont& Font, bool AllowEdit) {
  ParametersDialog dialog(Port);
  dialog.Fill(Port, TxDelay, RtsCtsMode, CrLfMode, EditorPath, &Font, AllowEdit);
  if (const QWidget* over = QApplication::activeWindow())
    dialog.move(over->frameGeometry().center() - dialog.rect().center());
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.Apply(Port, TxDelay, RtsCtsMode, CrLfMode, EditorPath, &Font);
  return true;
}

}  // namespace velmora::dialogs
