#include "port/qt/qt_port_binding.h"

#include "port/com_port.h"
#include "port/synchronizer.h"

namespace velmora::port {

QtPortBinding::QtPortBinding(TCustomComPort& port, QObject* parent)
    : QObject(parent), notifier_(port.Sync().PollHandle(), QSocketNotifier::Read) {
  // Held by the binding: a handler may destroy the port while its deliveries are drained. Drain
  // hands every error to the error display itself.
  connect(&notifier_, &QSocketNotifier::activated, this, [sync = port.SharedSync()] { sync->Drain(); });
}

}  // namespace velmora::port
