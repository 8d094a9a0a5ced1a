#include "console/transmit_pane.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
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

namespace {

bool IsTypedCharacter(const QKeyEvent& key) {
  if (key.text().isEmpty()) return false;
  if (key.modifiers() & (Qt::AltModifier | Qt::MetaModifier)) return false;
  if (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab) return false;
  for (QKeySequence::StandardKey shortcut :
       {QKeySequence::Copy, QKeySequence::SelectAll, QKeySequence::Paste, QKeySequence::Cut,
        QKeySequence::Undo, QKeySequence::Redo})
    if (key.matches(shortcut)) return false;
  return true;
}

}  // namespace

KeysToTransmitPane::KeysToTransmitPane(QWidget* window, TransmitPane* pane)
    : QObject(window), window_(window), pane_(pane) {
  // The application's filter rather than each widget's: a key reaches the widget with the focus,
  // whichever it is, and the window's widgets are not all made by the window itself.
  qApp->installEventFilter(this);
}

bool TransmitPane::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers held = key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const QString text = key->text();
    if (held == Qt::ControlModifier && text.size() == 1 && text[0].unicode() < 0x20) {
      event->accept();
      return true;
    }
  }
  return QPlainTextEdit::event(event);
}

bool KeysToTransmitPane::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyRelease) paneKey_ = nullptr;
  if (event->type() != QEvent::KeyPress || !pane_) return false;
  if (watched == pane_) {
    paneKey_ = event;
    return false;
  }
  // A key goes first to the widget with the focus and then, unless taken, to its parents: only
  // that first delivery is the operator's key, and one the pane did not take stays untaken.
  if (event == paneKey_) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || !(widget == window_ || window_->isAncestorOf(widget))) return false;
  if (QWidget* focus = QApplication::focusWidget(); focus && focus != widget) return false;
  // A line entry of the window (the send line) types its own characters.
  if (const auto* entry = qobject_cast<QLineEdit*>(widget); entry && !entry->isReadOnly()) return false;
  for (QWidget* w = widget; w && w != window_; w = w->parentWidget())
    if (qobject_cast<QMenuBar*>(w)) return false;
  // A field of the window's own (the receive pane's search) takes what is typed into it.
  if (widget->testAttribute(Qt::WA_InputMethodEnabled)) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  if (!IsTypedCharacter(*key)) return false;
  // A button with the focus would take Space as a press, and the receive pane would drop the
  // key: either way the operator's character would not reach the line.
  pane_->setFocus(Qt::OtherFocusReason);
  QKeyEvent typed(key->type(), key->key(), key->modifiers(), key->nativeScanCode(),
                  key->nativeVirtualKey(), key->nativeModifiers(), key->text(), key->isAutoRepeat(),
                  static_cast<quint16>(key->count()));
  QApplication::sendEvent(pane_, &typed);
  return true;
}

}  // namespace velmora::console
