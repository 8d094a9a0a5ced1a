#include "console/poll_repeater.h"

#include <QTimer>

namespace velmora::console {

PollRepeater::PollRepeater(std::function<bool()> lineBusy, std::function<void(int)> send,
                           QObject* parent)
    : QObject(parent), lineBusy_(std::move(lineBusy)), send_(std::move(send)) {
  for (int i = 0; i < kKeyCount; ++i) {
    timers_[i] = new QTimer(this);
    // The period is the far end's spacing: a coarse timer may drift 5 % either way.
    timers_[i]->setTimerType(Qt::PreciseTimer);
    connect(timers_[i], &QTimer::timeout, this, [this, i] { Tick(i); });
  }
}

void PollRepeater::Start(int index, std::chrono::milliseconds period) {
  if (index < 0 || index >= kKeyCount || period <= std::chrono::milliseconds::zero()) return;
  timers_[index]->start(period);
  emit RunningChanged();
  Tick(index);
}

void PollRepeater::Stop(int index) {
  if (index < 0 || index >= kKeyCount || !timers_[index]->isActive()) return;
  timers_[index]->stop();
  emit RunningChanged();
}

void PollRepeater::StopAll() {
  bool any = false;
  for (QTimer* timer : timers_) {
    any = any || timer->isActive();
    timer->stop();
  }
  if (any) emit RunningChanged();
}

bool PollRepeater::Running(int index) const {
  return index >= 0 && index < kKeyCount && timers_[index]->isActive();
}

bool PollRepeater::AnyRunning() const {
  for (const QTimer* timer : timers_)
    if (timer->isActive()) return true;
  return false;
}

QString PollRepeater::StateWord() const {
  int count = 0;
  int only = -1;
  for (int i = 0; i < kKeyCount; ++i)
    if (timers_[i]->isActive()) {
      ++count;
      only = i;
    }
  if (count == 0) return {};
  if (count == 1) return QStringLiteral("ОПРОС F%1").arg(only + 1);
  return QStringLiteral("ОПРОС: %1").arg(count);
}

void PollRepeater::Tick(int index) {
  if (lineBusy_()) return;
  send_(index);
}

}  // namespace velmora::console
