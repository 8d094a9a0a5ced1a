#include "console/stop_on_signal.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>

namespace velmora::console {

namespace {

void CloseOpenDialogs() {
  // Nested boxes each run their own event loop; rejecting every one lets them all unwind.
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
      dialog->reject();
}

}  // namespace

StopOnSignal::StopOnSignal(QObject* parent) : QObject(parent) {
  connect(&quitSignals_, &QuitSignals::quitRequested, this, [this] { OnStop(); });
}

StopOnSignal::~StopOnSignal() {
  if (stopRequested_) qApp->removeEventFilter(this);
}

void StopOnSignal::Attach(QWidget* window) {
  window_ = window;
  if (stopRequested_ && window_) window_->close();
}

void StopOnSignal::OnStop() {
  if (!stopRequested_) {
    stopRequested_ = true;
    qApp->installEventFilter(this);
  }
  CloseOpenDialogs();
  // After the handler that the stop interrupted has returned, so that it does not go on working
  // on a closed port.
  if (window_) QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
}

bool StopOnSignal::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Show) {
    if (auto* dialog = qobject_cast<QDialog*>(watched); dialog && dialog->isWindow())
      QMetaObject::invokeMethod(dialog, &QDialog::reject, Qt::QueuedConnection);
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace velmora::console
