#include "platform/sim/sim_devices.h"

#include <charconv>
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
    if (std::optional<std::string> echo = NoisyEchoLocked(burst_)) {
      echoPending_ += *echo;
      echoAt_ = now + turnaround_ + extraDelays_.back();
    }
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

void RadioLink::SetNoise(const Noise& noise) {
  std::lock_guard lock(mutex_);
  noise_ = noise;
  noiseRandom_.seed(noise.seed);
}

std::vector<Clock::Duration> RadioLink::ExtraDelays() const {
  std::lock_guard lock(mutex_);
  return extraDelays_;
}

double RadioLink::NextUniformLocked() {
  // From the generator's bits alone: the standard distributions differ between libraries, and a
  // seed must give the same noise wherever the test runs.
  return static_cast<double>(noiseRandom_() >> 11) * 0x1.0p-53;
}

std::optional<std::string> RadioLink::NoisyEchoLocked(std::string burst) {
  if (noise_.burstLossRate > 0 && NextUniformLocked() < noise_.burstLossRate) return std::nullopt;
  if (noise_.bitErrorRate > 0)
    for (char& c : burst)
      for (int bit = 0; bit < 8; ++bit)
        if (NextUniformLocked() < noise_.bitErrorRate) c = static_cast<char>(c ^ (1 << bit));
  Clock::Duration extra{};
  if (noise_.maxExtraDelay > Clock::Duration::zero())
    extra = Clock::Duration(static_cast<Clock::Duration::rep>(
        NextUniformLocked() * static_cast<double>(noise_.maxExtraDelay.count())));
  extraDelays_.push_back(extra);
  return burst;
}

std::optional<RadioLink::Noise> RadioLink::ParseNoise(std::string_view text) {
  if (text.empty()) return std::nullopt;
  Noise noise;
  for (bool more = true; more;) {
    const size_t comma = text.find(',');
    more = comma != std::string_view::npos;
    const std::string_view item = text.substr(0, comma);
    text = more ? text.substr(comma + 1) : std::string_view();
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = item.substr(0, equals), value = item.substr(equals + 1);
    const char* end = value.data() + value.size();
    if (key == "seed") {
      if (std::from_chars(value.data(), end, noise.seed).ptr != end || value.empty()) return std::nullopt;
      continue;
    }
    double number = 0;
    const std::from_chars_result parsed = std::from_chars(value.data(), end, number);
    if (value.empty() || parsed.ec != std::errc() || parsed.ptr != end || !(number >= 0)) return std::nullopt;
    if (key == "ber" && number <= 1)
      noise.bitErrorRate = number;
    else if (key == "loss" && number <= 1)
      noise.burstLossRate = number;
    else if (key == "delay" && number <= 60000)
      noise.maxExtraDelay = std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double, std::milli>(number));
    else
      return std::nullopt;
  }
  return noise;
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
