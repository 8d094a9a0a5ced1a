#include "platform/sim/sim_devices.h"

#include <utility>

namespace velmora::platform::sim {

std::shared_ptr<RadioLink> RadioLink::Create(std::shared_ptr<Clock> clock) {
  return std::make_shared<RadioLink>(std::move(clock));
}

std::shared_ptr<NamedDevice> RadioLink::Endpoint() { return std::make_shared<SimEndpoint>(shared_from_this(), kModem); }

void RadioLink::SetCtsDelay(Clock::Duration delay) {
  std::lock_guard lock(mutex_);
  ctsDelay_ = delay;
}

void RadioLink::SetTurnaround(Clock::Duration delay) {
  std::lock_guard lock(mutex_);
  turnaround_ = delay;
}

void RadioLink::SetEcho(bool on) {
  std::lock_guard lock(mutex_);
  echo_ = on;
}

std::string RadioLink::Heard() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const WireByte& w : heard_) out.push_back(static_cast<char>(w.byte));
  return out;
}

std::vector<WireByte> RadioLink::HeardLog() const {
  std::lock_guard lock(mutex_);
  return heard_;
}

size_t RadioLink::LostWhileUnkeyed() const {
  std::lock_guard lock(mutex_);
  return lost_;
}

void RadioLink::SetFarCarrier(bool on) {
  std::lock_guard lock(mutex_);
  farCarrier_ = on;
  RefreshInputLinesLocked(TimeSource().Now());
}

void RadioLink::SetRtsInverted(bool on) {
  std::lock_guard lock(mutex_);
  rtsInverted_ = on;
  OnOutputLinesChanged(kModem, TimeSource().Now());
}

size_t RadioLink::KeyedWhileBusy() const {
  std::lock_guard lock(mutex_);
  return keyedWhileBusy_;
}

void RadioLink::Route(size_t from, uint8_t byte, Clock::TimePoint at) {
  if (from == kFarStation) {
    DeliverLocked(kModem, {byte});
    return;
  }
  if (!keyed_) {
    ++lost_;
    return;
  }
  heard_.push_back({at, byte});
  burst_.push_back(static_cast<char>(byte));
}

uint32_t RadioLink::InputLines(size_t uart, Clock::TimePoint) const {
  if (uart != kModem) return 0;
  const Uart& far = U(kFarStation);
  const bool carrier = far.shifting.has_value() || !far.tx.empty() || farCarrier_;
  return MS_DSR_ON | (ctsRaised_ ? MS_CTS_ON : 0u) | (carrier ? MS_RLSD_ON : 0u);
}

void RadioLink::OnOutputLinesChanged(size_t uart, Clock::TimePoint now) {
  const bool keyed = U(kModem).rts != rtsInverted_;
  if (uart != kModem || keyed == keyed_) return;
  keyed_ = keyed;
  if (keyed_) {
    keyedAt_ = now;
    if (InputLines(kModem, now) & MS_RLSD_ON) ++keyedWhileBusy_;
    return;
  }
  ctsRaised_ = false;
  if (echo_ && !burst_.empty()) {
    echoPending_ += burst_;
    echoAt_ = now + turnaround_;
  }
  burst_.clear();
}

void RadioLink::AdvanceLink(Clock::TimePoint now) {
  if (keyed_ && !ctsRaised_ && keyedAt_ + ctsDelay_ <= now) ctsRaised_ = true;
  if (echoAt_ && *echoAt_ <= now) {
    echoAt_.reset();
    // The far station answers in the modem's own line settings.
    U(kFarStation).dcb = U(kModem).dcb;
    const std::string answer = std::exchange(echoPending_, {});
    QueueTransmitLocked(kFarStation, reinterpret_cast<const uint8_t*>(answer.data()), answer.size(), now);
  }
}

std::optional<Clock::TimePoint> RadioLink::NextLinkDeadline() const {
  std::optional<Clock::TimePoint> next = echoAt_;
  if (keyed_ && !ctsRaised_) {
    const Clock::TimePoint ctsAt = keyedAt_ + ctsDelay_;
    if (!next || ctsAt < *next) next = ctsAt;
  }
  return next;
}

}  // namespace velmora::platform::sim
