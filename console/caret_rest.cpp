#include "console/caret_rest.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QStyleHints>

namespace velmora::console {

CaretRest::CaretRest(QObject* parent, std::chrono::milliseconds delay) : QObject(parent) {
  restTimer_.setSingleShot(true);
  restTimer_.setInterval(delay);
  connect(&restTimer_, &QTimer::timeout, this, &CaretRest::Rest);
  QCoreApplication::instance()->installEventFilter(this);
  restTimer_.start();
}

CaretRest::~CaretRest() { Wake(); }

bool CaretRest::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
      Wake();
      restTimer_.start();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void CaretRest::Rest() {
  QStyleHints* hints = QGuiApplication::styleHints();
  if (Resting() || hints->cursorFlashTime() <= 0) return;  // a desktop without blinking: nothing to do
  savedFlashTime_ = hints->cursorFlashTime();
  hints->setCursorFlashTime(0);  // Qt's text widgets show the caret steadily then
}

void CaretRest::Wake() {
  if (!Resting()) return;
  QGuiApplication::styleHints()->setCursorFlashTime(savedFlashTime_);
  savedFlashTime_ = 0;
}

}  // namespace velmora::console
