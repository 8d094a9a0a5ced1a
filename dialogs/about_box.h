#pragma once
// The about dialog: what the program is for and its version. Shown modally on the
// user-interface thread; it has no behaviour beyond showing and closing.
//
// For now a stand-in that shows nothing; the dialog comes later behind this entry point.

class QWidget;

namespace velmora::dialogs {

// Creates the dialog owned by `owner`, shows it modally and destroys it.
void ExecuteAboutBox(QWidget* owner);

}  // namespace velmora::dialogs
