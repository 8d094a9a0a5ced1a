#include "dialogs/param_box.h"

#include <QApplication>
#include <QWindow>

#include "dialogs/frame_gap_group.h"
#include "dialogs/keying_group.h"
#include "dialogs/parameters_dialog.h"
#include "dialogs/session_log_group.h"

namespace velmora::dialogs {

bool ExecuteParamBox(port::TCustomComPort& Port, int32_t& TxDelay, int32_t& RtsCtsMode,
                     int32_t& CrLfMode, QString& EditorPath, QFont& Font, bool AllowEdit,
                     QString* SessionLogFolder, KeyingExtras* Extras, int32_t* FrameGapMs) {
  ParametersDialog dialog(Port);
  dialog.Fill(Port, TxDelay, RtsCtsMode, CrLfMode, EditorPath, &Font, AllowEdit);
  if (SessionLogFolder) dialog.SessionLogFolder().SetFolder(*SessionLogFolder);
  FrameGapGroup* frameGap = FrameGapMs ? dialog.AddFrameGap() : nullptr;
  if (frameGap) frameGap->Fill(*FrameGapMs);
  KeyingGroup* extras = Extras ? dialog.AddKeyingExtras() : nullptr;
  if (extras) extras->Fill(*Extras);
  if (const QWidget* over = QApplication::activeWindow()) {
    dialog.move(over->frameGeometry().center() - dialog.rect().center());
    // Tied to the window it was opened from without being owned by it: the window manager keeps
    // it above that window, and when that window closes (a stop signal) the program still ends
    // instead of waiting for this dialog.
    dialog.winId();
    if (dialog.windowHandle() && over->windowHandle())
      dialog.windowHandle()->setTransientParent(over->windowHandle());
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.Apply(Port, TxDelay, RtsCtsMode, CrLfMode, EditorPath, &Font);
  if (SessionLogFolder) *SessionLogFolder = dialog.SessionLogFolder().Folder();
  if (extras) *Extras = extras->Values();
  if (frameGap) *FrameGapMs = frameGap->Value();
  return true;
}

}  // namespace velmora::dialogs
