#pragma once
// LinkTest: one run of the link test. Bursts of a test pattern go out one at a time through the
// console's ordinary keying; the far end (a modem in loopback, a loopback plug, the simulated
// radio's far station) echoes each, and the run compares every echo with its burst, times the
// round trip and keeps the figures.
//
// The run does no I/O and reads no clock of its own: whoever drives it hands it the bursts'
// ends, the received bytes, the line errors and the time, and it answers through two callbacks
// (send a burst, abandon the one being sent). So it runs the same in the window, where the time
// is the steady clock's, and in tests, where it is a simulated line's. Single-threaded; no errors
// raised of its own (a callback's exception passes through).
//
// A burst's round trip runs from the end of our burst (RTS dropped after its last character) to
// the arrival of its echo's last byte. A burst is echoed whole, damaged (some byte differs or is
// missing when the time-out runs out) or lost (nothing came back in time); a burst still not
// sent when its send limit passes (the keyer held it or gave it up) is abandoned and counts as
// not sent. Bytes that arrive while no burst is waiting (a late echo, noise) count as stray and
// are matched to nothing.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "console/link_statistics.h"

namespace velmora::console {

enum class LinkPattern { Prbs9, StoredFrame, RandomBytes };

struct LinkTestPlan {
  using Duration = std::chrono::nanoseconds;
  LinkPattern pattern = LinkPattern::Prbs9;
  std::string storedFrame;  // every burst, when the pattern is StoredFrame (its length rules)
  size_t burstLength = 64;
  size_t burstCount = 100;  // 0: bursts until `duration` has passed
  Duration duration{};
  Duration pause = std::chrono::milliseconds(200);  // after an echo or a time-out
  Duration timeout = std::chrono::seconds(2);       // end of our burst → end of its echo
  Duration sendLimit = std::chrono::seconds(10);    // burst handed over → end of our burst
  uint64_t seed = 1;                                // of the random bytes
};

enum class BurstOutcome { Whole, Damaged, Lost, NotSent };

struct BurstRecord {
  size_t number = 0;                    // from 1
  std::chrono::nanoseconds sentAt{};    // from the run's start
  BurstOutcome outcome = BurstOutcome::Lost;
  std::optional<std::chrono::nanoseconds> roundTrip;  // when the echo came back at full length
  size_t bytes = 0;
  size_t bytesInError = 0;
  size_t bitsInError = 0;
  size_t lineErrors = 0;
  size_t breaks = 0;
};

struct LinkTestSummary {
  size_t sent = 0;  // bursts that went out: whole + damaged + lost
  size_t whole = 0, damaged = 0, lost = 0, notSent = 0;
  uint64_t bytesCompared = 0, bytesInError = 0;
  uint64_t bitsCompared = 0, bitsInError = 0;
  RateEstimate bitErrorRate;  // over the bursts that came back, whole or damaged
  RateEstimate lossRate;      // lost of sent
  RoundTripSummary roundTrip;
  size_t lineErrors = 0, breaks = 0;
  uint64_t strayBytes = 0;
  bool stopped = false;  // ended by the operator
  std::chrono::nanoseconds elapsed{};
};

class LinkTest {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Duration = std::chrono::nanoseconds;
  struct Callbacks {
    std::function<void(const std::string&)> sendBurst;
    std::function<void()> abandonBurst;  // drop RTS and what is still queued for the line
  };

  LinkTest(LinkTestPlan plan, Callbacks callbacks);

  // Sends the first burst.
  void Start(TimePoint now);
  // Our burst is over: RTS dropped after its last character.
  void OnBurstEnded(TimePoint now);
  void OnReceived(const std::string& bytes, TimePoint now);
  // `count` line errors reported at once, a break among them or not.
  void OnLineErrors(size_t count, bool withBreak);
  // Time has come for the next step (a time-out, the pause's end); early calls do nothing.
  void OnTime(TimePoint now);
  // When OnTime is next due; none once the run is over.
  std::optional<TimePoint> NextDeadline() const;
  // The operator ends the run: a burst still under way is abandoned and left out of the figures.
  void Stop(TimePoint now);

  bool Running() const { return phase_ != Phase::Idle && phase_ != Phase::Done; }
  bool Finished() const { return phase_ == Phase::Done; }
  const std::vector<BurstRecord>& Bursts() const { return bursts_; }
  LinkTestSummary Summary() const;
  const LinkTestPlan& Plan() const { return plan_; }

 private:
  enum class Phase { Idle, Sending, AwaitingEcho, Pausing, Done };

  void SendNext(TimePoint now);
  std::string NextPattern();
  void Complete(TimePoint now);
  void Finish(TimePoint now);

  LinkTestPlan plan_;
  Callbacks callbacks_;
  Phase phase_ = Phase::Idle;
  Prbs9 prbs_;
  std::mt19937_64 random_;
  TimePoint startedAt_{}, endedAt_{};
  TimePoint handedAt_{}, burstEndedAt_{}, pauseEndsAt_{};
  std::optional<TimePoint> echoEndedAt_;
  std::string burst_, echo_;
  BurstRecord current_;
  std::vector<BurstRecord> bursts_;
  size_t lineErrors_ = 0, breaks_ = 0;
  uint64_t strayBytes_ = 0;
  bool stopped_ = false;
};

}  // namespace velmora::console
