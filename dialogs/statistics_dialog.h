#pragma once
// The statistics dialog: shows the main window's four traffic counters and lets the operator
// zero them. It keeps no counters of its own: it reads them from, and resets them through, the
// window that owns them (`TrafficCounters`). The figures are read when the dialog opens and
// after each clearing, not while it stays open. Enter and Esc both close it; clearing takes the
// "&Очистить" button (a click, Space on it, or its access key).
//
// Shown modally on the user-interface thread; raises nothing of its own.

#include <cstdint>

#include <QDialog>

class QLabel;
class QPushButton;

namespace velmora::dialogs {

class TrafficCounters {
 public:
  struct Figures {
    int32_t RxCount = 0;
    int32_t TxCount = 0;
    int32_t ComErrorCount = 0;
    int32_t BufErrorCount = 0;
  };
  virtual Figures CounterFigures() const = 0;
  virtual void ResetCounters() = 0;

 protected:
  ~TrafficCounters() = default;
};

class StatisticsDialog : public QDialog {
  Q_OBJECT

 public:
  StatisticsDialog(TrafficCounters& counters, QWidget* owner);

 private:
  void ShowFigures();
  void ClearCounters();
  void PlaceOnOwnersScreen(QWidget* owner);

  TrafficCounters& counters_;
  QLabel* receivedBytes_ = nullptr;
  QLabel* transmittedBytes_ = nullptr;
  QLabel* lineErrorEvents_ = nullptr;
  QLabel* bufferWarnings_ = nullptr;
  QPushButton* clearButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
};

// Creates the dialog owned by `owner`, shows it modally and destroys it, also when the run
// ends by an error or the owner goes first.
void ExecuteStatForm(QWidget* owner, TrafficCounters& counters);

}  // namespace velmora::dialogs
