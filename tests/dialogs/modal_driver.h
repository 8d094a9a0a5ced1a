#pragma once
// Driving modal dialogs from a test: `WhenShown<T>` waits (on the event loop the dialog's
// exec() runs) until a widget of type T is the active modal widget, then hands it to the
// test's code. If that code returns with the dialog still open (a failed check inside it), the
// dialog is rejected, so exec() returns and the test fails instead of hanging.

#include <functional>
#include <memory>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace velmora::dialogs::testing {

template <typename T>
void WhenShown(std::function<void(T&)> act) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  auto tries = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, act = std::move(act)] {
    T* shown = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!shown && ++*tries < 1000) return;  // about five seconds
    timer->stop();
    timer->deleteLater();
    if (!shown) return;
    QPointer<T> alive(shown);
    act(*shown);
    if (alive && alive->isVisible()) alive->reject();
  });
  timer->start();
}

}  // namespace velmora::dialogs::testing
