#include "console/port_reconnector.h"

#include <strings.h>

#include <QSocketNotifier>
#include <QTimer>

#include "platform/device_directory.h"
#include "platform/path_watcher.h"
#include "port/com_port.h"

namespace velmora::console {

namespace {

// After the path came back, a failed open is tried again a few times: for a moment after a
// plug-in, other programs (ModemManager, udev's helpers) probe the new device, and its group is
// set after the node appears. The path's own changes need no such timer.
constexpr int kRetriesAfterChange = 5;
constexpr int kRetryIntervalMs = 1000;

// Simulated devices go by plain names ("LOOPBACK"); a name that is a path is watched as one, also
// when the directory holds a stand-in for it.
bool IsSimulated(const port::TCustomComPort& port) {
  if (!port.Directory() || port.Port().front() == '/') return false;
  for (const std::string& name : port.Directory()->SimulatedNames())
    if (name.size() == port.Port().size() && ::strcasecmp(name.c_str(), port.Port().c_str()) == 0) return true;
  return false;
}

}  // namespace

PortReconnector::PortReconnector(port::TCustomComPort& port, std::function<void()> reopen,
                                 std::string sysfsRoot, QObject* parent)
    : QObject(parent),
      port_(port),
      reopen_(std::move(reopen)),
      retryTimer_(new QTimer(this)),
      sysfsRoot_(std::move(sysfsRoot)) {
  retryTimer_->setSingleShot(true);
  retryTimer_->setInterval(kRetryIntervalMs);
  connect(retryTimer_, &QTimer::timeout, this, [this] { TryReopen(); });
}

PortReconnector::~PortReconnector() { StopWatching(); }

void PortReconnector::WatchForReturn() {
  StopWatching();
  if (port_.Port().empty() || IsSimulated(port_)) return;
  const std::string path = platform::SystemDevicePath(port_.Port());
  // A pseudo-terminal's number goes to whichever program asks for one next: the node coming back
  // would be another program's terminal. A link to one (socat's link=) is watched as a link.
  if (path.rfind("/dev/pts/", 0) == 0) return;
  watcher_ = platform::PathWatcher::Create(path);
  if (!watcher_) return;
  watchedPort_ = port_.Port();
  watchedPath_ = path;
  notifier_ = new QSocketNotifier(watcher_->Descriptor(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { OnPathChanged(); });
  // The watch only tells of changes from now on: an adapter replugged before the loss reached
  // this thread has already made its change. Tried after the retry interval rather than at once,
  // so that a device that fails again as soon as it is opened cannot keep the window busy.
  if (watcher_->PathExists()) {
    retriesLeft_ = kRetriesAfterChange;
    retryTimer_->start();
  }
}

void PortReconnector::RememberDevice() {
  identity_.reset();
  identityPort_ = port_.Port();
  if (port_.Port().empty() || IsSimulated(port_)) return;
  identity_ = platform::ReadDeviceIdentity(platform::SystemDevicePath(port_.Port()), sysfsRoot_);
}

void PortReconnector::StopWatching() {
  retryTimer_->stop();
  retriesLeft_ = 0;
  if (notifier_) {
    // This may run inside the notifier's own signal (the reopen it started succeeded).
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  watcher_.reset();
  watchedPort_.clear();
  watchedPath_.clear();
  foreignIdentity_.reset();
}

void PortReconnector::PortChosen() {
  if (IsWatching() && port_.Port() != watchedPort_) StopWatching();
}

void PortReconnector::OnPathChanged() {
  if (!watcher_) return;
  const bool appeared = watcher_->TakeChanges();
  // The other adapter was pulled again: the path is free for the lost one.
  if (foreignIdentity_ && !watcher_->PathExists()) foreignIdentity_.reset();
  if (!appeared) return;
  retriesLeft_ = kRetriesAfterChange;
  TryReopen();
}

bool PortReconnector::SameDeviceAtPath(bool& readable) {
  readable = true;
  if (!identity_ || identityPort_ != watchedPort_) return true;
  const std::optional<platform::DeviceIdentity> present =
      platform::ReadDeviceIdentity(watchedPath_, sysfsRoot_);
  if (!present) {
    readable = false;
    return false;
  }
  if (*present == *identity_) {
    foreignIdentity_.reset();
    return true;
  }
  if (foreignIdentity_ != present) {
    foreignIdentity_ = present;
    emit foreignDeviceFound(QString::fromStdString(platform::DescribeIdentity(*present)),
                            QString::fromStdString(platform::DescribeIdentity(*identity_)));
  }
  return false;
}

void PortReconnector::TryReopen() {
  if (!IsWatching()) return;
  if (port_.Connected() || port_.Port() != watchedPort_) {
    StopWatching();
    return;
  }
  bool readable = true;
  if (!SameDeviceAtPath(readable)) {
    // Another adapter is never opened, not even to look: opening a tty raises its DTR and RTS.
    // An identity not readable yet is tried again like a failed open.
    if (!readable && retriesLeft_-- > 0) retryTimer_->start();
    return;
  }
  try {
    reopen_();
  } catch (...) {
    // Not there yet after all; the path's next change, or a retry, tries again.
    if (retriesLeft_-- > 0) retryTimer_->start();
    return;
  }
  StopWatching();
  emit reopened();
}

}  // namespace velmora::console
