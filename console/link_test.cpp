#include "console/link_test.h"

#include <algorithm>
#include <utility>

namespace velmora::console {

LinkTest::LinkTest(LinkTestPlan plan, Callbacks callbacks)
    : plan_(std::move(plan)), callbacks_(std::move(callbacks)), random_(plan_.seed) {
  if (plan_.pattern == LinkPattern::StoredFrame) plan_.burstLength = plan_.storedFrame.size();
}

void LinkTest::Start(TimePoint now) {
  if (phase_ != Phase::Idle) return;
  startedAt_ = now;
  SendNext(now);
}

std::string LinkTest::NextPattern() {
  switch (plan_.pattern) {
    case LinkPattern::Prbs9: return prbs_.NextBytes(plan_.burstLength);
    case LinkPattern::StoredFrame: return plan_.storedFrame;
    case LinkPattern::RandomBytes: break;
  }
  std::string bytes(plan_.burstLength, '\0');
  for (char& c : bytes) c = static_cast<char>(random_() & 0xFFu);
  return bytes;
}

void LinkTest::SendNext(TimePoint now) {
  const bool countReached = plan_.burstCount > 0 && bursts_.size() >= plan_.burstCount;
  const bool timeUp = plan_.burstCount == 0 && now - startedAt_ >= plan_.duration;
  if (countReached || timeUp || plan_.burstLength == 0) {
    Finish(now);
    return;
  }
  burst_ = NextPattern();
  echo_.clear();
  echoEndedAt_.reset();
  current_ = {};
  current_.number = bursts_.size() + 1;
  current_.sentAt = now - startedAt_;
  current_.bytes = burst_.size();
  handedAt_ = now;
  phase_ = Phase::Sending;
  callbacks_.sendBurst(burst_);
}

void LinkTest::OnBurstEnded(TimePoint now) {
  if (phase_ != Phase::Sending) return;
  burstEndedAt_ = now;
  // A loopback plug echoes while we still send: the echo may be whole before our burst ends.
  if (echoEndedAt_) {
    Complete(now);
    return;
  }
  phase_ = Phase::AwaitingEcho;
}

void LinkTest::OnReceived(const std::string& bytes, TimePoint now) {
  if (phase_ != Phase::Sending && phase_ != Phase::AwaitingEcho) {
    strayBytes_ += bytes.size();
    return;
  }
  const size_t room = burst_.size() - echo_.size();
  const size_t taken = std::min(room, bytes.size());
  echo_.append(bytes, 0, taken);
  strayBytes_ += bytes.size() - taken;
  if (taken == 0 || echo_.size() < burst_.size()) return;
  echoEndedAt_ = now;
  if (phase_ == Phase::AwaitingEcho) Complete(now);
}

void LinkTest::OnLineErrors(size_t count, bool withBreak) {
  // The run's totals take them at once: the burst under way may yet be stopped and left out.
  lineErrors_ += count;
  if (withBreak) ++breaks_;
  if (phase_ != Phase::Sending && phase_ != Phase::AwaitingEcho) return;
  current_.lineErrors += count;
  if (withBreak) ++current_.breaks;
}

void LinkTest::Complete(TimePoint now) {
  const EchoComparison comparison = CompareEcho(burst_, echo_);
  current_.bytesInError = comparison.bytesInError;
  current_.bitsInError = comparison.bitsInError;
  if (echo_.empty())
    current_.outcome = BurstOutcome::Lost;
  else
    current_.outcome = comparison.bytesInError == 0 ? BurstOutcome::Whole : BurstOutcome::Damaged;
  if (echoEndedAt_) current_.roundTrip = std::max(Duration::zero(), Duration(*echoEndedAt_ - burstEndedAt_));
  bursts_.push_back(current_);
  phase_ = Phase::Pausing;
  pauseEndsAt_ = now + plan_.pause;
  if (plan_.pause <= Duration::zero()) SendNext(now);
}

void LinkTest::OnTime(TimePoint now) {
  switch (phase_) {
    case Phase::Sending:
      if (now - handedAt_ < plan_.sendLimit) return;
      // The keyer held the burst back or gave it up: the line must not stay keyed for it. The
      // phase moves first, as dropping RTS reports the burst's end back here.
      current_.outcome = BurstOutcome::NotSent;
      bursts_.push_back(current_);
      phase_ = Phase::Pausing;
      pauseEndsAt_ = now + plan_.pause;
      callbacks_.abandonBurst();
      if (plan_.pause <= Duration::zero()) SendNext(now);
      return;
    case Phase::AwaitingEcho:
      if (now - burstEndedAt_ >= plan_.timeout) Complete(now);
      return;
    case Phase::Pausing:
      if (now >= pauseEndsAt_) SendNext(now);
      return;
    case Phase::Idle:
    case Phase::Done:
      return;
  }
}

std::optional<LinkTest::TimePoint> LinkTest::NextDeadline() const {
  switch (phase_) {
    case Phase::Sending: return handedAt_ + plan_.sendLimit;
    case Phase::AwaitingEcho: return burstEndedAt_ + plan_.timeout;
    case Phase::Pausing: return pauseEndsAt_;
    case Phase::Idle:
    case Phase::Done: break;
  }
  return std::nullopt;
}

void LinkTest::Stop(TimePoint now) {
  if (!Running()) return;
  const bool sending = phase_ == Phase::Sending;
  stopped_ = true;
  Finish(now);
  if (sending) callbacks_.abandonBurst();
}

void LinkTest::Finish(TimePoint now) {
  phase_ = Phase::Done;
  endedAt_ = now;
}

LinkTestSummary LinkTest::Summary() const {
  LinkTestSummary s;
  std::vector<Duration> roundTrips;
  s.lineErrors = lineErrors_;
  s.breaks = breaks_;
  for (const BurstRecord& b : bursts_) {
    switch (b.outcome) {
      case BurstOutcome::Whole: ++s.whole; break;
      case BurstOutcome::Damaged: ++s.damaged; break;
      case BurstOutcome::Lost: ++s.lost; break;
      case BurstOutcome::NotSent: ++s.notSent; continue;
    }
    if (b.outcome == BurstOutcome::Lost) continue;
    s.bytesCompared += b.bytes;
    s.bytesInError += b.bytesInError;
    s.bitsInError += b.bitsInError;
    if (b.roundTrip) roundTrips.push_back(*b.roundTrip);
  }
  s.sent = s.whole + s.damaged + s.lost;
  s.bitsCompared = s.bytesCompared * 8;
  s.bitErrorRate = EstimateRate(s.bitsInError, s.bitsCompared);
  s.lossRate = EstimateRate(s.lost, s.sent);
  s.roundTrip = SummariseRoundTrips(std::move(roundTrips));
  s.strayBytes = strayBytes_;
  s.stopped = stopped_;
  if (phase_ == Phase::Done) s.elapsed = endedAt_ - startedAt_;
  return s;
}

}  // namespace velmora::console
