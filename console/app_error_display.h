#pragma once
// The program's error display: a message box with the error's message, shown over the active
// window. Installed with port::SetErrorDisplay at start-up.
//
// A message that arrives on another thread (the port's monitor) is handed to the
// user-interface thread and shown there, without making the sender wait.

#include "port/error_display.h"

namespace velmora::console {

port::ErrorDisplay MessageBoxErrorDisplay();

}  // namespace velmora::console
