#include "console/transmit_pane.h"

#include <QMimeData>

namespace velmora::console {

TransmitPane::TransmitPane(QWidget* parent) : QPlainTextEdit(parent) {}

bool TransmitPane::canInsertFromMimeData(const QMimeData* source) const {
  return source != nullptr && source->hasText();
}

void TransmitPane::insertFromMimeData(const QMimeData* source) {
  if (!canInsertFromMimeData(source)) return;
  const QString text = source->text();
  if (!text.isEmpty()) insertPlainText(text);
}

}  // namespace velmora::console
