#pragma once
// The parameters dialog's group for the frame view: the silence that ends a frame, in
// milliseconds, 0 for 3.5 character times at the port's line settings (the key "FrameGap").
// The group owns no setting: Fill shows a value, Value gives the edited one back; the dialog
// that places the group writes it into the options on OK. User-interface thread only.

#include <cstdint>

#include <QGroupBox>

class QSpinBox;

namespace velmora::dialogs {

class FrameGapGroup : public QGroupBox {
  Q_OBJECT

 public:
  static constexpr int32_t kHighestMs = 10000;

  explicit FrameGapGroup(QWidget* parent = nullptr);

  // A value outside 0..kHighestMs shows as the nearest end.
  void Fill(int32_t frameGapMs);
  int32_t Value() const;
  QSpinBox* Field() const { return field_; }

 private:
  QSpinBox* field_;
};

}  // namespace velmora::dialogs
