#include "platform/sim/sim_devices.h"

namespace velmora::platform::sim {

std::shared_ptr<LoopbackPlug> LoopbackPlug::Create(std::shared_ptr<Clock> clock) {
  return std::make_shared<LoopbackPlug>(std::move(clock));
}

std::shared_ptr<NamedDevice> LoopbackPlug::Endpoint() { return std::make_shared<SimEndpoint>(shared_from_this(), 0); }

void LoopbackPlug::SetRing(bool on) {
  std::lock_guard lock(mutex_);
  ring_ = on;
  RefreshInputLinesLocked(TimeSource().Now());
}

void LoopbackPlug::Route(size_t, uint8_t byte, Clock::TimePoint) { DeliverLocked(0, {byte}); }

uint32_t LoopbackPlug::InputLines(size_t, Clock::TimePoint) const {
  const Uart& u = U(0);
  return (u.rts ? MS_CTS_ON : 0u) | (u.dtr ? MS_DSR_ON | MS_RLSD_ON : 0u) | (ring_ ? MS_RING_ON : 0u);
}

void LoopbackPlug::OnOutputLinesChanged(size_t, Clock::TimePoint) {
  if (U(0).brk && !breakSent_) DeliverLocked(0, {0, false, RxMark::Break, true});
  breakSent_ = U(0).brk;
}

}  // namespace velmora::platform::sim
