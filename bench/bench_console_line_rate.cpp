// The console at real line rates: a pseudo-terminal made here, its far end fed by a paced
// writer (a small chunk every 5 ms, as a UART at that rate delivers), the real window receiving
// it. Prints the share of one core the console takes in the hex and the text view, beside the
// same run's `cat` of the same pseudo-terminal, and the wake-ups of an idle open port.
//
//   bench_console_line_rate [seconds of the long hex run] [seconds of each other run]
//
// The console's CPU time is the process's less the writer thread's own.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QApplication>

#include "bench/console_harness.h"
#include "console/caret_rest.h"

namespace {

using namespace velmora::bench;
using std::chrono::duration;
using std::chrono::seconds;

struct LineRun {
  std::vector<double> shares;  // of one core, per slice
  double switchesPerChunk = 0;  // the console's threads' context switches per chunk written
};

// Runs the paced line for `total`, measuring the share over each `slice`.
LineRun RunLine(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int baud,
                const std::string& pattern, Clock::duration total, Clock::duration slice) {
  LineRun run;
  PacedWriter writer(pty, baud, pattern);
  const long switches0 = ContextSwitches() - writer.OwnSwitches();
  const uint64_t written0 = writer.Written();
  for (auto done = Clock::duration::zero(); done < total; done += slice) {
    const auto cpu0 = ProcessCpu() - writer.OwnCpu();
    const auto t0 = Clock::now();
    console.RunFor(slice);
    const auto cpu1 = ProcessCpu() - writer.OwnCpu();
    const double wall = duration<double>(Clock::now() - t0).count();
    run.shares.push_back(100.0 * duration<double>(cpu1 - cpu0).count() / wall);
  }
  const double chunks =
      static_cast<double>(writer.Written() - written0) / static_cast<double>(writer.BytesPerStep());
  run.switchesPerChunk =
      static_cast<double>(ContextSwitches() - writer.OwnSwitches() - switches0) / std::max(1.0, chunks);
  writer.Stop();
  console.RunFor(std::chrono::milliseconds(200));
  return run;
}

double Mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / static_cast<double>(v.size());
}

std::string Percent(double p) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", p);
  return text;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int longSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int shortSeconds = argc > 2 ? std::atoi(argv[2]) : 20;
  QApplication app(argc, argv);
  velmora::test::PtyPair pty;
  const std::string binary = BinaryBytes(1 << 16);
  const std::string text = TextLines(1 << 16);

  // References first, while nothing holds the slave.
  const double catHex115 = CatCpuShare(pty, 115200, binary, seconds(shortSeconds));
  const double catText115 = CatCpuShare(pty, 115200, text, seconds(shortSeconds));
  const double catHex921 = CatCpuShare(pty, 921600, binary, seconds(shortSeconds));

  ConsoleUnderTest console(pty.SlavePath());
  std::printf("platform %s, port %s\n", qPrintable(QGuiApplication::platformName()),
              pty.SlavePath().c_str());

  {
    // Start-up work settles, and the caret stops blinking as it does when nobody types.
    console.RunFor(velmora::console::CaretRest::kDefaultDelay + seconds(1));
    const long switches0 = ContextSwitches();
    const auto cpu0 = ProcessCpu();
    console.RunFor(seconds(10));
    const double perSecond = static_cast<double>(ContextSwitches() - switches0) / 10.0;
    PrintFigure("idle, port open: wake-ups per second (all threads)", perSecond, "/s",
                "<= 1 (the state timer)");
    PrintFigure("idle, port open: CPU", 100.0 * duration<double>(ProcessCpu() - cpu0).count() / 10.0,
                "%", "~0");
  }

  console.SelectHexView();
  {
    const LineRun run = RunLine(console, pty, 115200, binary, seconds(longSeconds),
                                seconds(std::max(1, std::min(10, longSeconds / 3))));
    const std::vector<double>& slices = run.shares;
    PrintFigure("115 200 baud, hex view: CPU, whole run", Mean(slices), "%", "<= 3 %",
                "cat " + Percent(catHex115));
    PrintFigure("115 200 baud, hex view: CPU, first slice", slices.front(), "%",
                "<= 3 %, same as the last");
    PrintFigure("115 200 baud, hex view: CPU, last slice", slices.back(), "%",
                "<= 3 %, same as the first");
    PrintFigure("115 200 baud, hex view: context switches per chunk (all the console's threads)",
                run.switchesPerChunk, "", "as few as the event path allows");
  }
  {
    const auto slices =
        RunLine(console, pty, 921600, binary, seconds(shortSeconds), seconds(shortSeconds)).shares;
    PrintFigure("921 600 baud, hex view: CPU", Mean(slices), "%", "<= 15 %",
                "cat " + Percent(catHex921));
  }
  console.SelectTextView();
  {
    const auto slices =
        RunLine(console, pty, 115200, text, seconds(shortSeconds), seconds(shortSeconds)).shares;
    PrintFigure("115 200 baud, text view (CR LF lines): CPU", Mean(slices), "%", "<= 3 %",
                "cat " + Percent(catText115));
  }
  return 0;
}
