#pragma once
// The parameters dialog: the one place where the operator edits the port's line settings, the
// RTS keying mode and delay, what Enter sends, the viewer program and the transmit pane's font.
//
// One call shows it modally and, on OK, writes the edited values back through the references
// (the line settings into the port, inside one settings update). Runs on the user-interface
// thread. Errors of the port reach the caller.
//
// For now a stand-in that shows nothing and returns false (as if the operator cancelled); the
// dialog itself comes later behind this same entry point.

#include <cstdint>

#include <QFont>
#include <QString>

#include "port/com_port.h"

namespace velmora::dialogs {

// True when the operator confirmed with OK.
bool ExecuteParamBox(port::TCustomComPort& Port, int32_t& TxDelay, int32_t& RtsCtsMode,
                     int32_t& CrLfMode, QString& EditorPath, QFont& Font, bool AllowEdit);

}  // namespace velmora::dialogs
