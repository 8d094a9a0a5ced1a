#pragma once
// Turns SIGTERM, SIGINT and SIGHUP (the terminal it was started from closed) into a Qt signal on the user-interface thread, so that a stop from
// the system closes the main window through its ordinary close sequence (settings saved, RTS
// dropped, port closed) instead of killing the process mid-transfer.
//
// The handler only writes one byte to a self-pipe; a socket notifier on the read end emits
// `quitRequested`. One instance at a time (it owns the process's handlers for the three signals
// and restores the previous ones when destroyed). Construct and use on the user-interface
// thread; std::system_error when the pipe or the handlers cannot be set up.

#include <QObject>

class QSocketNotifier;

namespace velmora::console {

class QuitSignals : public QObject {
  Q_OBJECT

 public:
  explicit QuitSignals(QObject* parent = nullptr);
  ~QuitSignals() override;

 signals:
  void quitRequested(int signalNumber);

 private:
  void Drain();

  int readFd_ = -1;
  int writeFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace velmora::console
