#pragma once
// The text caret stops blinking once the operator has left the keyboard and mouse alone for a
// while, and blinks again at the next key, click, wheel turn or focus change — as desktops do
// (GTK's cursor-blink-timeout). A blinking caret wakes the program twice a second; an idle
// console should wake only for its state timer. The caret stays shown while it rests.
//
// Watches the whole application's input; user-interface thread only.

#include <chrono>

#include <QObject>
#include <QTimer>

namespace velmora::console {

class CaretRest : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kDefaultDelay{10000};

  explicit CaretRest(QObject* parent = nullptr, std::chrono::milliseconds delay = kDefaultDelay);
  ~CaretRest() override;

  bool Resting() const { return savedFlashTime_ > 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Rest();
  void Wake();

  QTimer restTimer_;
  int savedFlashTime_ = 0;  // the desktop's flash time while the caret rests, else 0
};

}  // namespace velmora::console
