#pragma once
// The simulated devices: a loopback plug, a null-modem pair and a half-duplex radio link.
// Each is a SimLink (sim_link.h) with the wiring a real plug or modem has, and `Endpoint`s
// that a DeviceDirectory serves by name.

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/sim_link.h"

namespace velmora::platform::sim {

// TxD→RxD, RTS→CTS, DTR→DSR and DCD, a ring line the test sets. A break sent comes back.
class LoopbackPlug final : public SimLink {
 public:
  static std::shared_ptr<LoopbackPlug> Create(std::shared_ptr<Clock> clock = nullptr);
  std::shared_ptr<NamedDevice> Endpoint();
  void SetRing(bool on);

  explicit LoopbackPlug(std::shared_ptr<Clock> clock) : SimLink(std::move(clock), 1) {}

 protected:
  void Route(size_t from, uint8_t byte, Clock::TimePoint at) override;
  uint32_t InputLines(size_t uart, Clock::TimePoint now) const override;
  void OnOutputLinesChanged(size_t uart, Clock::TimePoint now) override;

 private:
  bool ring_ = false;
  bool breakSent_ = false;
};

// Two UARTs crossed: each one's TxD, RTS and DTR reach the other's RxD, CTS and DSR+DCD.
class NullModemPair final : public SimLink {
 public:
  static std::shared_ptr<NullModemPair> Create(std::shared_ptr<Clock> clock = nullptr);
  std::shared_ptr<NamedDevice> Endpoint(size_t side);  // side 0 or 1

  explicit NullModemPair(std::shared_ptr<Clock> clock) : SimLink(std::move(clock), 2) {}

 protected:
  void Route(size_t from, uint8_t byte, Clock::TimePoint at) override;
  uint32_t InputLines(size_t uart, Clock::TimePoint now) const override;
  void OnOutputLinesChanged(size_t uart, Clock::TimePoint now) override;

 private:
  bool breakSent_[2] = {false, false};
};

// A half-duplex radio modem and a far station. The modem transmits only while RTS is raised
// and raises CTS a set time after RTS; what is sent while unkeyed is lost. The far station
// hears every burst and, when the modem unkeys, answers after a turnaround time by sending the
// burst back (DCD is on while it transmits). DSR is on: the modem is powered.
class RadioLink final : public SimLink {
 public:
  static std::shared_ptr<RadioLink> Create(std::shared_ptr<Clock> clock = nullptr);
  std::shared_ptr<NamedDevice> Endpoint();

  void SetCtsDelay(Clock::Duration delay);
  void SetTurnaround(Clock::Duration delay);
  void SetEcho(bool on);
  std::string Heard() const;            // every byte the far station received
  std::vector<WireByte> HeardLog() const;
  size_t LostWhileUnkeyed() const;

  // Noise on the far station's echoes, drawn from a generator seeded by `seed` (the same seed and
  // bursts, the same noise): each bit of an echo flips with `bitErrorRate`, a whole echo is lost
  // with `burstLossRate`, and each echo sent waits, beyond the turnaround, a time drawn evenly
  // from [0, maxExtraDelay]. The default is none of these.
  struct Noise {
    double bitErrorRate = 0;
    double burstLossRate = 0;
    Clock::Duration maxExtraDelay{};
    uint64_t seed = 1;
  };
  void SetNoise(const Noise& noise);
  // The extra delay each echo sent was given, in order (lost echoes have none).
  std::vector<Clock::Duration> ExtraDelays() const;
  // Noise as an operator writes it, "ber=1e-3,loss=0.05,delay=20,seed=7" (delay in ms; any key
  // may be left out): none for an empty text, an unknown key or a value out of range.
  static std::optional<Noise> ParseNoise(std::string_view text);
  // For the keyer: the far station holding the channel with its carrier (DCD on, no data), a
  // modem keyed by RTS low (behind an inverting level converter), and how often the modem was
  // keyed while the channel was busy.
  void SetFarCarrier(bool on);
  void SetRtsInverted(bool on);
  size_t KeyedWhileBusy() const;

  explicit RadioLink(std::shared_ptr<Clock> clock) : SimLink(std::move(clock), 2) {}

 protected:
  void Route(size_t from, uint8_t byte, Clock::TimePoint at) override;
  uint32_t InputLines(size_t uart, Clock::TimePoint now) const override;
  void OnOutputLinesChanged(size_t uart, Clock::TimePoint now) override;
  void AdvanceLink(Clock::TimePoint now) override;
  std::optional<Clock::TimePoint> NextLinkDeadline() const override;

 private:
  static constexpr size_t kModem = 0, kFarStation = 1;

  Clock::Duration ctsDelay_ = std::chrono::milliseconds(30);
  Clock::Duration turnaround_ = std::chrono::milliseconds(50);
  bool echo_ = true;
  bool keyed_ = false;
  bool ctsRaised_ = false;
  Clock::TimePoint keyedAt_{};
  std::vector<WireByte> heard_;
  std::string burst_;
  std::string echoPending_;
  std::optional<Clock::TimePoint> echoAt_;
  size_t lost_ = 0;

  // Noise: the echo of a burst as it leaves the far station, or nothing when it is lost.
  std::optional<std::string> NoisyEchoLocked(std::string burst);
  double NextUniformLocked();
  Noise noise_;
  std::mt19937_64 noiseRandom_{1};
  std::vector<Clock::Duration> extraDelays_;
  bool farCarrier_ = false;
  bool rtsInverted_ = false;
  size_t keyedWhileBusy_ = 0;
};

}  // namespace velmora::platform::sim
