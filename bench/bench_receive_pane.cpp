// The receive pane alone, and the transmit pane's line limit: what one received event costs in
// the hex view with the pane nearly full, at the cadence of a real line (a 58-byte chunk every
// 5 ms, the pane shown twenty times a second), what a small chunk costs while a frame is
// late, and what a paste of 300 000 lines costs with the line limit against a bare pane.
// Offscreen; CPU time of this thread.
//
//   bench_receive_pane [events]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "bench/console_harness.h"
#include "console/cp1251.h"
#include "console/display_forms.h"
#include "console/receive_pane.h"

namespace {

using namespace velmora;

double ThreadMicroseconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// Events between two frames of the pane at 5 ms a chunk.
constexpr int kEventsPerFrame = 10;

[[gnu::noinline]] void HexEventCost(int events) {
  console::ReceiveTextView view;
  console::ReceivePane pane(&view);
  view.resize(640, 480);
  view.show();
  QCoreApplication::processEvents();
  const std::string bytes = bench::BinaryBytes(58);
  // Nearly full: within a few chunks of the limit, refilled whenever the limit empties it.
  auto fill = [&] {
    const QString chunk = console::DecodeCp1251(console::ToHexText(bytes));
    while (pane.LineCount() < console::ReceivePane::kLineLimit - 20) pane.Append(chunk);
    pane.Flush();
    // Everything the refill changed is painted before the clock runs again: the scroll bar
    // too, whose range the refill moved.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  };
  fill();
  double total = 0, worstFrame = 0, appendOnly = 0;
  int frames = 0;
  for (int i = 1; i <= events; ++i) {
    if (pane.LineCount() > console::ReceivePane::kLineLimit - 5) fill();
    const double t0 = ThreadMicroseconds();
    pane.Append(console::DecodeCp1251(console::ToHexText(bytes)));
    const double t1 = ThreadMicroseconds();
    appendOnly += t1 - t0;
    if (i % kEventsPerFrame == 0) {
      // A frame as the event loop makes it: the text goes in, the view follows the end, and
      // whatever that made dirty is painted.
      pane.Flush();
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
      const double t2 = ThreadMicroseconds();
      worstFrame = std::max(worstFrame, t2 - t1);
      ++frames;
      total += t2 - t0;
    } else {
      total += t1 - t0;
    }
  }
  bench::PrintFigure("hex event of 58 bytes, pane nearly full, frames included", total / events,
                     "us", "<= 50 us");
  bench::PrintFigure("  of which conversion and append", appendOnly / events, "us", "-");
  bench::PrintFigure("  worst frame (text in, view follows, dirty parts painted)", worstFrame, "us",
                     "-");
}

// Small chunks that wait for a frame that comes late (a busy thread): each append must cost the
// same however much already waits.
[[gnu::noinline]] void LateFrameAppendCost() {
  console::ReceiveTextView view;
  console::ReceivePane pane(&view);
  view.resize(640, 480);
  const QString chunk = QStringLiteral("41.");
  int chunks = 0;
  const double t0 = ThreadMicroseconds();
  while (pane.LineCount() < console::ReceivePane::kLineLimit) {
    pane.Append(chunk);
    ++chunks;
  }
  const double t1 = ThreadMicroseconds();
  pane.Flush();
  bench::PrintFigure("3-byte chunk while a paneful waits for a late frame",
                     (t1 - t0) / chunks, "us", "<= 1 us");
}

// A paste of `lines` lines into a pane, with or without the limit; CPU milliseconds.
double PasteCost(int lines, bool limited) {
  QPlainTextEdit view;
  if (limited) new console::PaneLineLimit(&view, console::ReceivePane::kLineLimit);
  view.resize(640, 300);
  view.show();
  QCoreApplication::processEvents();
  QString text = QString("typed line of the transmit pane\n").repeated(lines);
  const double t0 = ThreadMicroseconds();
  view.insertPlainText(text);
  QCoreApplication::processEvents();
  return (ThreadMicroseconds() - t0) / 1000.0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int events = argc > 1 ? std::atoi(argv[1]) : 20000;
  HexEventCost(events);
  LateFrameAppendCost();
  const double bare = PasteCost(300000, false);
  const double limited = PasteCost(300000, true);
  char reference[64];
  std::snprintf(reference, sizeof reference, "bare pane %.0f ms", bare);
  bench::PrintFigure("paste of 300 000 lines into the transmit pane", limited, "ms",
                     "no more than the bare pane", reference);
  return 0;
}
