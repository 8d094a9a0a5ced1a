#pragma once
// The parameters dialog's one entry point: the one place where the operator edits the port's
// line settings, the RTS keying mode and delay, what Enter sends, the viewer program and the
// transmit pane's font.
//
// One call creates the dialog (ParametersDialog) with no owner, centred over the active window,
// fills it from the arguments, shows it modally, and on OK writes the edited values back: the
// line settings into the port inside one settings update, the options through the references,
// name, size and style into `Font`. It destroys the dialog on every path. A CrLfMode above 3 is
// set to 0 before the dialog shows, and stays 0 after Cancel.
//
// User-interface thread only. Errors of the port reach the caller: a failed port listing before
// anything changed, a failed reopen under a new name with the options and font unchanged.

#include <cstdint>

#include <QFont>
#include <QString>

#include "port/com_port.h"

namespace velmora::dialogs {

struct KeyingExtras;

// True when the operator confirmed with OK. `AllowEdit` enables the line settings, the keying
// group and the viewer program; the port box is always enabled.
// `SessionLogFolder`, when given, is shown and edited too (empty: no session log); `Extras`, when
// given, the keyer's group (keying_group.h) below the others; `FrameGapMs`, when given, the frame
// view's silence beside the session log.
bool ExecuteParamBox(port::TCustomComPort& Port, int32_t& TxDelay, int32_t& RtsCtsMode,
                     int32_t& CrLfMode, QString& EditorPath, QFont& Font, bool AllowEdit,
                     QString* SessionLogFolder = nullptr, KeyingExtras* Extras = nullptr,
                     int32_t* FrameGapMs = nullptr);

}  // namespace velmora::dialogs
