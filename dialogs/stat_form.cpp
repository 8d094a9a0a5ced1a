#include "dialogs/stat_form.h"

namespace velmora::dialogs {

void ExecuteStatForm(QWidget* /*owner*/, TrafficCounters& /*counters*/) {}

}  // namespace velmora::dialogs
