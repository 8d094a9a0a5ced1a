#pragma once
// The parameters dialog's group of the keyer's additions (console/keyer.h): lead and tail
// times, the CTS wait, the busy-channel hold-off, the transmitter time-out with its lock-out,
// and RTS polarity. Each is off at zero (unchecked), as an operator who never opens the group
// has it. The keying mode chosen in the dialog enables what applies to it: the lead time and
// the CTS wait belong to RTS/CTS keying (in delay mode the keying delay is the lead).
// User-interface thread only.

#include <cstdint>

#include <QGroupBox>
#include <QList>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace velmora::dialogs {

struct KeyingExtras {
  int32_t leadMs = 0;
  int32_t tailMs = 0;
  int32_t ctsWaitMs = 0;
  int32_t busyWaitMs = 0;
  int32_t busyBackoffMs = 0;
  int32_t timeoutS = 0;
  int32_t lockoutS = 0;
  bool rtsInvert = false;
};

class KeyingGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit KeyingGroup(QWidget* parent = nullptr);

  // The spin boxes bring values into their ranges.
  void Fill(const KeyingExtras& extras);
  KeyingExtras Values() const;
  void EnableForMode(bool rtsCtsMode);
  // In the order Tab visits them.
  QList<QWidget*> TabStops() const;

 private:
  QSpinBox* AddRow(int row, int column, const char* name, const QString& caption, int highest,
                   const QString& tip);

  QSpinBox* lead_ = nullptr;
  QSpinBox* tail_ = nullptr;
  QSpinBox* ctsWait_ = nullptr;
  QSpinBox* busyWait_ = nullptr;
  QSpinBox* busyBackoff_ = nullptr;
  QSpinBox* timeout_ = nullptr;
  QSpinBox* lockout_ = nullptr;
  QCheckBox* invert_ = nullptr;
  QLabel* leadLabel_ = nullptr;
  QLabel* ctsWaitLabel_ = nullptr;
};

}  // namespace velmora::dialogs
