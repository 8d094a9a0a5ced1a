#include "port/qt_port_binding.h"

#include "port/com_port.h"

namespace velmora::port {

QtPortBinding::QtPortBinding(TCustomComPort& port, QObject* parent)
    : QObject(parent), notifier_(port.Sync().PollHandle(), QSocketNotifier::Read) {
  // The port outlives the binding; Drain hands every error to the error display itself.
  connect(&notifier_, &QSocketNotifier::activated, this, [&port] { port.Sync().Drain(); });
}

}  // namespace velmora::port
