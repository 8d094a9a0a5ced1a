#pragma once
// PortReconnector: brings the port back after its device was lost.
//
// Once the port has released a lost device (an adapter pulled, a pseudo-terminal's far end
// closed), `WatchForReturn` watches the device's path with the system's change notification: the
// same kernel name (/dev/ttyUSB0) or the same link (/dev/serial/by-id/..., also when its folders
// went away with the adapter). When the path is there again, the port is reopened through the
// `reopen` step the window gives, the step it opens the port with at start: the port keeps every
// setting it had, and DTR and RTS are dropped at once, so a return never keys a radio's
// transmitter. Nothing is polled.
//
// A reopen that fails (the node is there before its permissions are, another program probes the
// new device) is tried again a few times, a second apart, and otherwise waits quietly for the
// path's next change. Watching ends when the port opens, by this or by the
// operator, or when another port is chosen. Simulated devices are never lost, so they are never
// watched; nor is a pseudo-terminal named by its number (/dev/pts/N), which the system hands to
// the next program that asks, so its return would be another program's terminal.
//
// User-interface thread only. Nothing here raises: a watch that cannot be set up (no
// notification descriptor left) is simply not started, and `IsWatching` says so.

#include <functional>
#include <memory>
#include <string>

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace velmora::platform {
class PathWatcher;
}
namespace velmora::port {
class TCustomComPort;
}

namespace velmora::console {

class PortReconnector : public QObject {
  Q_OBJECT

 public:
  // `reopen` opens `port` the way the window does at start and raises when that fails.
  PortReconnector(port::TCustomComPort& port, std::function<void()> reopen, QObject* parent = nullptr);
  ~PortReconnector() override;

  // Called once the port lost its device: watches for the device's path to come back.
  void WatchForReturn();
  // The port opened, or the operator chose another port: nothing to wait for any more.
  void StopWatching();
  // Stops watching when the port's name is no longer the one watched for.
  void PortChosen();

  bool IsWatching() const { return watcher_ != nullptr; }
  // The port name watched for; empty when not watching.
  const std::string& WatchedPort() const { return watchedPort_; }

 signals:
  // The lost device came back and the port is open again.
  void reopened();

 private:
  void OnPathChanged();
  void TryReopen();

  port::TCustomComPort& port_;
  std::function<void()> reopen_;
  QTimer* retryTimer_;
  int retriesLeft_ = 0;
  std::unique_ptr<platform::PathWatcher> watcher_;
  QSocketNotifier* notifier_ = nullptr;
  std::string watchedPort_;
};

}  // namespace velmora::console
