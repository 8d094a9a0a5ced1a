#pragma once
// The dialogs' font: the system's interface family at 8 points, the size their layouts were
// drawn for. User-interface thread.

class QWidget;

namespace velmora::dialogs {

void UseDialogFont(QWidget* dialog);

}  // namespace velmora::dialogs
