#pragma once
// PortReconnector: brings the port back after its device was lost.
//
// Once the port has released a lost device (an adapter pulled, a pseudo-terminal's far end
// closed), `WatchForReturn` watches the device's path with the system's change notification: the
// same kernel name (/dev/ttyUSB0) or the same link (/dev/serial/by-id/..., also when its folders
// went away with the adapter). When the path is there again, the port is reopened through the
// `reopen` step the window gives, the step it opens the port with at start: the port keeps every
// setting it had, and DTR and RTS are dropped at once, so a return never keys a radio's
// transmitter. Nothing is polled. A path that is already there when the watch starts (the
// adapter came back before the loss was handled) is tried once the watch is set.
//
// A USB adapter is remembered at every open by what it is (vendor, product, serial number; see
// platform/device_identity.h). A different adapter that the system hands the same name, or that
// a link now points to, is not opened: `foreignDeviceFound` tells the window, and the wait goes on
// for the adapter that was lost. A device without such an identity (a board UART, a
// pseudo-terminal behind a link) is reopened by its path alone.
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
#include <optional>
#include <string>

#include <QObject>
#include <QString>

#include "platform/device_identity.h"

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
  // `reopen` opens `port` the way the window does at start and raises when that fails;
  // `sysfsRoot` is where adapters' identities are read (tests give a stand-in tree).
  PortReconnector(port::TCustomComPort& port, std::function<void()> reopen,
                  std::string sysfsRoot = platform::kSystemSysfsRoot, QObject* parent = nullptr);
  ~PortReconnector() override;

  // Called once the port lost its device: watches for the device's path to come back.
  void WatchForReturn();
  // The port opened, or the operator chose another port: nothing to wait for any more.
  void StopWatching();
  // Stops watching when the port's name is no longer the one watched for.
  void PortChosen();
  // The port has just opened: remembers what adapter its device is, if it is one.
  void RememberDevice();

  bool IsWatching() const { return watcher_ != nullptr; }
  // The port name watched for; empty when not watching.
  const std::string& WatchedPort() const { return watchedPort_; }
  // Another adapter than the lost one is at the watched path now; nothing was opened.
  bool ForeignDeviceAtPath() const { return foreignIdentity_.has_value(); }

 signals:
  // The lost device came back and the port is open again.
  void reopened();
  // `found` (another adapter than `lost`, both as DescribeIdentity gives them) is at the watched
  // path. Told once for each adapter that appears there.
  void foreignDeviceFound(const QString& found, const QString& lost);

 private:
  void OnPathChanged();
  void TryReopen();
  // False when the path holds another adapter than the one remembered; true when it is the same
  // one or nothing is remembered. `readable` is false when the path's identity cannot be read
  // yet (the adapter's sysfs entry not there yet).
  bool SameDeviceAtPath(bool& readable);

  port::TCustomComPort& port_;
  std::function<void()> reopen_;
  QTimer* retryTimer_;
  int retriesLeft_ = 0;
  std::unique_ptr<platform::PathWatcher> watcher_;
  QSocketNotifier* notifier_ = nullptr;
  std::string watchedPort_;
  std::string watchedPath_;
  const std::string sysfsRoot_;
  // What the port's device was at its last open, and the name it was opened by.
  std::optional<platform::DeviceIdentity> identity_;
  std::string identityPort_;
  std::optional<platform::DeviceIdentity> foreignIdentity_;
};

}  // namespace velmora::console
