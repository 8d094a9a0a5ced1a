#pragma once
// FramesDialog: the frames kept on F1–F12, one row per key — name, mode, check, repeat period
// (0 sends once) and the line. OK is taken only when every row can be stored and sent: the first
// row that cannot is named under the table with the reason, its line gets the focus, and the
// dialog stays. A row with neither name nor line is a free key.
//
// The dialog owns no frames: it is filled with the caller's and gives back the edited ones.
// Controls by object name: FrameName1 … FrameName12, FrameMode1 …, FrameCheck1 …,
// FramePeriod1 …, FrameLine1 …, FramesError. User-interface thread only; raises nothing.

#include <array>

#include <QDialog>

#include "console/stored_frames.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace velmora::dialogs {

class FramesDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FramesDialog(const console::StoredFrames& frames, QWidget* parent = nullptr);

  // The frames as the rows now stand (names and hex lines trimmed).
  console::StoredFrames Frames() const;
  QString ErrorText() const;

  void accept() override;

 private:
  struct Row {
    QLineEdit* name = nullptr;
    QComboBox* mode = nullptr;
    QComboBox* check = nullptr;
    QSpinBox* period = nullptr;
    QLineEdit* line = nullptr;
  };
  std::array<Row, console::kStoredFrameCount> rows_;
  QLabel* errorLabel_ = nullptr;
};

// Runs the dialog; true and `frames` edited when the operator confirmed.
bool ExecuteFramesDialog(console::StoredFrames& frames, QWidget* owner);

}  // namespace velmora::dialogs
