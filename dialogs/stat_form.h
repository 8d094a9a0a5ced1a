#pragma once
// The statistics dialog: shows the main window's four traffic counters and lets the operator
// zero them. It keeps no counters of its own: it reads them from, and resets them through, the
// window that owns them (`TrafficCounters`). Shown modally on the user-interface thread.
//
// For now a stand-in that shows nothing; the dialog comes later behind this entry point.

#include <cstdint>

class QWidget;

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

// Creates the dialog owned by `owner`, shows it modally and destroys it.
void ExecuteStatForm(QWidget* owner, TrafficCounters& counters);

}  // namespace velmora::dialogs
