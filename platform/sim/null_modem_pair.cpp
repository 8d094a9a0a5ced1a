#include "platform/sim/sim_devices.h"

namespace velmora::platform::sim {

std::shared_ptr<NullModemPair> NullModemPair::Create(std::shared_ptr<Clock> clock) {
  return std::make_shared<NullModemPair>(std::move(clock));
}

std::shared_ptr<NamedDevice> NullModemPair::Endpoint(size_t side) {
  return std::make_shared<SimEndpoint>(shared_from_this(), side);
}

void NullModemPair::Route(size_t from, uint8_t byte, Clock::TimePoint) { DeliverLocked(1 - from, {byte}); }

uint32_t NullModemPair::InputLines(size_t uart, Clock::TimePoint) const {
  const Uart& other = U(1 - uart);
  return (other.rts ? MS_CTS_ON : 0u) | (other.dtr ? MS_DSR_ON | MS_RLSD_ON : 0u);
}

void NullModemPair::OnOutputLinesChanged(size_t uart, Clock::TimePoint) {
  if (U(uart).brk && !breakSent_[uart]) DeliverLocked(1 - uart, {0, false, RxMark::Break, true});
  breakSent_[uart] = U(uart).brk;
}

}  // namespace velmora::platform::sim
