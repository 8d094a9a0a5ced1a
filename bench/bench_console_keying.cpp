// Keying a half-duplex radio through the console as an operator does: key presses posted to
// the real window's transmit pane, the simulated radio link's own record of RTS changes and of
// the bytes on the wire (steady clock) read afterwards. Prints the keying delay (RTS up to the
// first start bit, delay mode), RTS release (last stop bit to RTS down, both modes, also while
// 1 MiB/s arrives in the hex view), key press to byte on the line, and how long the window
// takes to answer a key press under that load.
//
//   bench_console_keying [keyings] [keys]

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>

#include "bench/console_harness.h"
#include "platform/sim/sim_devices.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using Ms = std::chrono::duration<double, std::milli>;

class KeyingBench {
 public:
  KeyingBench(int rtsCtsMode, int delayMs, bool hexLoad)
      : radio_("RTS/CTS=" + std::to_string(rtsCtsMode) + "\nTxDelay=" + std::to_string(delayMs) + "\nCRLF=2\n",
               hexLoad),
        console_(&radio_.Console()),
        pane_(radio_.Pane()) {}

  // One burst: the keys typed, then the wait until RTS has dropped again. Fills the figures
  // of this burst from the link's record.
  struct Burst {
    double keyToStartBitMs = -1, rtsToStartBitMs = -1, stopBitToRtsDownMs = -1;
  };
  Burst TypeBurst(bool withEnter) {
    const RadioConsole::Mark from = radio_.Now();
    const auto pressed = Clock::now();
    radio_.Press(Qt::Key_A, "a");
    if (withEnter) radio_.Press(Qt::Key_Return, "\r");
    Burst burst;
    RadioConsole::Keying k;
    if (!radio_.WaitForKeying(from, k, std::chrono::seconds(2)) || k.firstStart == Clock::time_point{}) return burst;
    burst.keyToStartBitMs = Ms(k.firstStart - pressed).count();
    burst.rtsToStartBitMs = Ms(k.firstStart - k.up).count();
    burst.stopBitToRtsDownMs = Ms(k.down - k.lastStop).count();
    return burst;
  }

  // Posts a key every 20 ms for `duration`; the longest time one waited to reach the pane.
  double WorstKeyAnswerMs(Clock::duration duration) {
    struct Probe : QObject {
      QObject* target;
      bool waiting = false;
      Clock::time_point posted;
      double worst = 0;
      bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == target && event->type() == QEvent::KeyPress && waiting) {
          waiting = false;
          worst = std::max(worst, Ms(Clock::now() - posted).count());
        }
        return false;
      }
    } probe;
    probe.target = pane_;
    pane_->installEventFilter(&probe);
    const int32_t received0 = console_->window().CounterFigures().RxCount;
    const auto start = Clock::now();
    const auto end = start + duration;
    while (Clock::now() < end) {
      if (!probe.waiting) {
        probe.waiting = true;
        probe.posted = Clock::now();
        // A key that types nothing onto the line: the answer is what is measured.
        QCoreApplication::postEvent(
            pane_, new QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier));
      }
      console_->RunFor(std::chrono::milliseconds(20));
    }
    pane_->removeEventFilter(&probe);
    arrivedMiBps_ = (console_->window().CounterFigures().RxCount - received0) / 1048576.0 /
                    std::chrono::duration<double>(Clock::now() - start).count();
    return probe.worst;
  }

  void Pause() { console_->RunFor(std::chrono::milliseconds(5)); }
  double ArrivedMiBps() const { return arrivedMiBps_; }

 private:
  RadioConsole radio_;
  ConsoleUnderTest* console_;
  QPlainTextEdit* pane_;
  double arrivedMiBps_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int keyings = argc > 1 ? std::atoi(argv[1]) : 200;
  const int keys = argc > 2 ? std::atoi(argv[2]) : 1000;

  {
    KeyingBench bench(0, 50, false);
    std::vector<double> delays, drops;
    for (int i = 0; i < keyings; ++i) {
      const auto burst = bench.TypeBurst(true);
      if (burst.rtsToStartBitMs >= 0) delays.push_back(burst.rtsToStartBitMs);
      if (burst.stopBitToRtsDownMs >= 0) drops.push_back(burst.stopBitToRtsDownMs);
      bench.Pause();
    }
    const Stats d = Summarise(delays);
    PrintFigure("delay mode, TxDelay 50: RTS up -> first start bit, worst", d.worst, "ms",
                "50..51 ms every time", Range(d));
    PrintFigure("delay mode, TxDelay 50: RTS up -> first start bit, least", d.least, "ms",
                ">= 50 ms");
    const Stats r = Summarise(drops);
    PrintFigure("delay mode: last stop bit -> RTS down, median", r.median, "ms", "<= 2 ms",
                Range(r));
    PrintFigure("delay mode: last stop bit -> RTS down, worst", r.worst, "ms", "<= 5 ms");
  }
  for (bool load : {false, true}) {
    KeyingBench bench(1, 0, load);
    std::vector<double> drops, keyToLine;
    for (int i = 0; i < (load ? keyings : keys); ++i) {
      const auto burst = bench.TypeBurst(false);
      if (burst.stopBitToRtsDownMs >= 0) drops.push_back(burst.stopBitToRtsDownMs);
      if (burst.keyToStartBitMs >= 0) keyToLine.push_back(burst.keyToStartBitMs);
      bench.Pause();
    }
    const std::string under = load ? ", 1 MiB/s arriving in hex view" : "";
    const Stats r = Summarise(drops);
    PrintFigure("RTS/CTS mode" + under + ": last stop bit -> RTS down, median", r.median, "ms",
                "<= 2 ms", Range(r));
    PrintFigure("RTS/CTS mode" + under + ": last stop bit -> RTS down, worst", r.worst, "ms",
                "<= 5 ms");
    if (!load) {
      const Stats k = Summarise(keyToLine);
      PrintFigure("key press -> start bit on the line, median", k.median, "ms", "<= 1 ms",
                  Range(k));
      PrintFigure("key press -> start bit on the line, worst", k.worst, "ms", "<= 5 ms");
    } else {
      const double worst = bench.WorstKeyAnswerMs(std::chrono::seconds(10));
      char arrived[64];
      std::snprintf(arrived, sizeof arrived, "%.2f MiB/s reached the window", bench.ArrivedMiBps());
      PrintFigure("window answers a key press" + under + ", worst", worst, "ms", "<= 20 ms",
                  arrived);
    }
  }
  return 0;
}
