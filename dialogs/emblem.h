#pragma once
// The program's emblem for the about dialog: a radio mast sending waves beside a line that
// carries a character's bits, drawn in code with the 16 colours of the classic palette
// (142 × 71 pixels, one colour table of 16 entries). Pure drawing; any thread.

#include <QImage>

namespace velmora::dialogs {

QImage DrawEmblem();

}  // namespace velmora::dialogs
