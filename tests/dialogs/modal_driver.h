#pragma once
// Drives a modal dialog from inside its run: `WhenModal` queues steps that run once a modal
// dialog is up (on the user-interface thread, in the dialog's own event loop). A dialog still
// open after the bound is rejected, so a test that fails to close it fails instead of hanging.
// `WhenShown<T>` waits for a modal widget of type T (a dialog opened from another dialog: a
// file or font dialog) and rejects it at once if the test's code leaves it open.

#include <functional>
#include <memory>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QtTest>

namespace velmora::dialogs::testing {

inline void WhenModal(std::function<void(QDialog*)> step, int boundMs = 5000) {
  auto* clock = new QElapsedTimer;
  clock->start();
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, clock, step = std::move(step), boundMs] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog && clock->elapsed() < boundMs) return;
    poll->stop();
    poll->deleteLater();
    delete clock;
    if (!dialog) return;
    const QPointer<QDialog> alive(dialog);
    step(dialog);
    // Whatever the step left open is closed after the bound.
    if (alive)
      QTimer::singleShot(boundMs, dialog, [dialog] {
        if (dialog->isVisible()) dialog->reject();
      });
  });
  poll->start();
}

// Alt and the access key of `button`'s caption, as the keyboard makes them (Cyrillic included),
// to the dialog made active first: access keys work only in the active window. The button
// answers with an animated click, a moment later.
inline void PressAccessKey(QDialog* dialog, QAbstractButton* button) {
  dialog->activateWindow();
  if (!QTest::qWaitForWindowActive(dialog)) qWarning("the dialog did not become active");
  const auto key = static_cast<Qt::Key>(button->shortcut()[0].key());
  const QString text = QString(QChar(char16_t(key))).toLower();
  QTest::sendKeyEvent(QTest::Click, dialog, key, text, Qt::AltModifier);
}

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
