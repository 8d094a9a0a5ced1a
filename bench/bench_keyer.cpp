// The keyer's options in the real window on the simulated radio, measured from the radio's own
// record of the line (steady clock): lead and tail times against their settings while 1 MiB/s
// arrives in the hex view, the transmitter time-out against its setting, CTS on to the first
// start bit, and a busy channel switched at random while keys are typed.
//
//   bench_keyer [keyings] [timeouts] [busy patterns]

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>

#include "bench/console_harness.h"
#include "platform/sim/sim_devices.h"

namespace {

using namespace velmora;
using namespace velmora::bench;
using platform::sim::RadioLink;
using Ms = std::chrono::duration<double, std::milli>;

// Types `text` and reads back the keying it made; false if RTS did not drop within `limit`.
bool TypeAndWait(RadioConsole& bench, const QString& text, RadioConsole::Keying& keying, Clock::duration limit) {
  const RadioConsole::Mark from = bench.Now();
  for (QChar c : text) bench.Press(c == u'\r' ? Qt::Key_Return : Qt::Key_A, QString(c));
  return bench.WaitForKeying(from, keying, limit);
}

// The machine's own floor under the worst cases: how late a bare sleeping thread woke meanwhile.
void PrintFloor(WakeUpLateness& lateness, const char* section) {
  size_t wakeUps = 0;
  const double worst = lateness.StopAndTakeWorst(&wakeUps);
  PrintFigure(std::string("this machine: a bare thread's wake-up, worst, ") + section, worst, "ms", "-",
              std::to_string(wakeUps) + " sleeps of 5 ms beside it");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int keyings = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int timeouts = argc > 2 ? std::atoi(argv[2]) : 10;
  const int patterns = argc > 3 ? std::atoi(argv[3]) : 1000;
  constexpr int kLeadMs = 50, kTailMs = 50;

  {
    RadioConsole bench("RTS/CTS=1\nTxLead=" + std::to_string(kLeadMs) + "\nTxTail=" + std::to_string(kTailMs) + "\n",
                     true);
    WakeUpLateness floor;
    std::vector<double> leads, tails;
    for (int i = 0; i < keyings; ++i) {
      RadioConsole::Keying k;
      if (!TypeAndWait(bench, "a", k, std::chrono::seconds(2)) || k.firstStart == Clock::time_point{}) continue;
      leads.push_back(std::abs(Ms(k.firstStart - k.up).count() - kLeadMs));
      tails.push_back(std::abs(Ms(k.down - k.lastStop).count() - kTailMs));
    }
    const Stats l = Summarise(leads), t = Summarise(tails);
    PrintFigure("lead 50 ms, 1 MiB/s in hex view: RTS up -> first start bit, off the set time, median", l.median,
                "ms", "<= 1 ms", Range(l));
    PrintFigure("lead 50 ms, 1 MiB/s in hex view: off the set time, worst", l.worst, "ms", "<= 3 ms");
    PrintFigure("tail 50 ms, 1 MiB/s in hex view: last stop bit -> RTS down, off the set time, median", t.median,
                "ms", "<= 1 ms", Range(t));
    PrintFigure("tail 50 ms, 1 MiB/s in hex view: off the set time, worst", t.worst, "ms", "<= 3 ms");
    PrintFloor(floor, "lead and tail");
  }
  {
    // Delay mode held until Enter: the case the time-out guards first.
    RadioConsole bench("RTS/CTS=0\nTxTimeout=1\n", false);
    std::vector<double> late;
    size_t afterDown = 0;
    for (int i = 0; i < timeouts; ++i) {
      RadioConsole::Keying k;
      if (!TypeAndWait(bench, "aaaa", k, std::chrono::seconds(3))) continue;
      late.push_back(Ms(k.down - k.up).count() - 1000.0);
      bench.Console().RunFor(std::chrono::milliseconds(20));
      for (const auto& w : bench.Radio().SentLog())
        if (w.at - bench.Radio().CharacterTime(0) > k.down) ++afterDown;
    }
    const Stats s = Summarise(late);
    const double earliest = late.empty() ? 0 : *std::min_element(late.begin(), late.end());
    char note[96];
    std::snprintf(note, sizeof note, "earliest %+.3f ms, %s", earliest, Range(s).c_str());
    PrintFigure("time-out 1 s: RTS down after the set time, worst", s.worst, "ms", "0..5 ms", note);
    PrintFigure("time-out: start bits on the line after RTS down", double(afterDown), "", "0");
  }
  {
    RadioConsole bench("RTS/CTS=1\nCtsWait=1000\n", false);
    bench.Radio().SetCtsDelay(std::chrono::milliseconds(30));
    WakeUpLateness floor;
    std::vector<double> afterCts;
    for (int i = 0; i < keyings; ++i) {
      RadioConsole::Keying k;
      if (!TypeAndWait(bench, "a", k, std::chrono::seconds(2)) || k.firstStart == Clock::time_point{}) continue;
      afterCts.push_back(Ms(k.firstStart - (k.up + std::chrono::milliseconds(30))).count());
    }
    const Stats c = Summarise(afterCts);
    PrintFigure("CTS wait: CTS on -> first start bit, worst", c.worst, "ms", "<= 1 ms", Range(c));
    PrintFloor(floor, "CTS wait");
  }
  {
    // The far station takes the channel at random while characters are typed at random.
    RadioConsole bench("RTS/CTS=1\nBusyWait=60000\nBusyBackoff=20\n", false);
    RadioLink& radio = bench.Radio();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> on(2, 40), off(2, 60), keys(0, 3);
    std::string typed;
    for (int i = 0; i < patterns; ++i) {
      radio.SetFarCarrier(true);
      for (int k = keys(random); k > 0; --k) {
        const char c = char('a' + typed.size() % 26);
        typed.push_back(c);
        bench.Press(Qt::Key_A, QString(QChar(c)));
      }
      bench.Console().RunFor(std::chrono::milliseconds(on(random)));
      radio.SetFarCarrier(false);
      bench.Console().RunFor(std::chrono::milliseconds(off(random)));
    }
    bench.Console().RunUntil([&] { return radio.Heard().size() >= typed.size() && !bench.Console().window().RtsRaised(); },
                             std::chrono::seconds(30));
    const std::string heard = radio.Heard();
    PrintFigure("busy channel: keyings while DCD was on", double(radio.KeyedWhileBusy()), "", "0",
                std::to_string(patterns) + " random DCD patterns");
    std::string where;
    if (heard != typed) {
      const size_t at = std::mismatch(heard.begin(), heard.end(), typed.begin(), typed.end()).first - heard.begin();
      const size_t from = at < 10 ? 0 : at - 10;
      where = "; first difference at " + std::to_string(at) + ": heard \"" + heard.substr(from, 20) + "\", typed \"" +
              typed.substr(from, 20) + "\"";
    }
    PrintFigure("busy channel: typed characters heard once and in order", heard == typed ? 1 : 0, "", "1",
                std::to_string(heard.size()) + " of " + std::to_string(typed.size()) + " heard" + where);
  }
  return 0;
}
