#pragma once
// Binds a port's deliveries to the Qt event loop of the thread that owns the port.
//
// The monitor thread queues its deliveries in the port's synchroniser; a socket notifier on
// the synchroniser's event wakes this thread's event loop once, and the loop runs everything
// queued. Construct it on the owning thread, before the port opens, and keep it as long as the
// port lives; it keeps the port's synchroniser itself, so a handler may destroy the port.

#include <QObject>
#include <QSocketNotifier>

namespace velmora::port {

class TCustomComPort;

class QtPortBinding : public QObject {
  Q_OBJECT

 public:
  explicit QtPortBinding(TCustomComPort& port, QObject* parent = nullptr);

 private:
  QSocketNotifier notifier_;
};

}  // namespace velmora::port
