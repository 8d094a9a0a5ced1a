#pragma once
// A stop from the system (SIGTERM, SIGINT, SIGHUP) closes the console at any moment through the main
// window's ordinary close sequence (settings saved, RTS dropped, port closed):
//   - every open modal box (error boxes, dialogs) is closed without waiting for a person;
//   - a box that opens after the stop, such as an error box of the close sequence itself, is
//     closed as soon as it is shown;
//   - the window is closed once the handler that was running has returned;
//   - a stop that comes while the window is still being created (its start-up boxes) closes
//     those boxes, and the window is closed as soon as it is attached.
// Every signal is acted on; the close sequence itself runs once.
//
// One instance at a time (it owns QuitSignals), created on the user-interface thread before the
// window. std::system_error when the signal handlers cannot be set up.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "console/quit_signals.h"

namespace velmora::console {

class StopOnSignal : public QObject {
  Q_OBJECT

 public:
  explicit StopOnSignal(QObject* parent = nullptr);
  ~StopOnSignal() override;

  // The window that a stop closes; closed here at once if a stop came already.
  void Attach(QWidget* window);
  bool StopRequested() const { return stopRequested_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnStop();

  QuitSignals quitSignals_;
  QPointer<QWidget> window_;
  bool stopRequested_ = false;
};

}  // namespace velmora::console
