#pragma once
// PollRepeater: the stored frames that repeat every N milliseconds, one timer per function key.
//
// Starting a key sends its frame at once when the line is free, then at every period. A period
// that comes while the line is busy (a burst still being sent or keyed, the operator's own
// keying, a closed port) is let pass: the repeat never starts a burst into another one, never
// holds RTS on its own and never queues up behind a long transmission. The caller says what
// "busy" is and how a frame goes out. User-interface thread only.

#include <array>
#include <chrono>
#include <functional>

#include <QObject>
#include <QString>

class QTimer;

namespace velmora::console {

class PollRepeater : public QObject {
  Q_OBJECT

 public:
  static constexpr int kKeyCount = 12;

  // `lineBusy` is asked before every send; `send` sends the frame of key `index` (0 is F1).
  PollRepeater(std::function<bool()> lineBusy, std::function<void(int index)> send,
               QObject* parent = nullptr);

  void Start(int index, std::chrono::milliseconds period);
  void Stop(int index);
  void StopAll();
  bool Running(int index) const;
  bool AnyRunning() const;
  // What repeats, for the state panel: "ОПРОС F2", or "ОПРОС: 3" for several keys; empty when
  // nothing does.
  QString StateWord() const;

 signals:
  void RunningChanged();

 private:
  void Tick(int index);

  std::function<bool()> lineBusy_;
  std::function<void(int)> send_;
  std::array<QTimer*, kKeyCount> timers_{};
};

}  // namespace velmora::console
