#include "dialogs/about_box.h"

namespace velmora::dialogs {

void ExecuteAboutBox(QWidget* /*owner*/) {}

}  // namespace velmora::dialogs
