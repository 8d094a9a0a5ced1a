// The running main window (offscreen) receiving a fast line through a pseudo-terminal: bytes per
// second shown in the text view and in the hex view, the longest time the window took to answer
// a key press meanwhile, and the resident memory as the data keeps coming.
//
//   bench_console_receive [MiB for the text view] [MiB for the hex view] [input queue bytes]
//
// (under 2048 MiB each: the window's counters are 32-bit)
//
// The input queue defaults to the port's own default; a larger one shows how much of the time
// is the engine's per-event round trip.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include "bench/console_harness.h"
#include "console/main_window.h"
#include "console/receive_pane.h"
#include "tests/support/pty_pair.h"

namespace {

using velmora::console::MainWindow;
using Clock = std::chrono::steady_clock;

class PrintingPresenter final : public velmora::console::MessagePresenter {
 public:
  void ShowErrorBox(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error box: %s\n", qPrintable(text));
  }
};

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Times key presses from the moment they are posted until the pane's owner handles them.
class KeyProbe : public QObject {
 public:
  explicit KeyProbe(QWidget* target) : target_(target) { target_->installEventFilter(this); }
  void Post() {
    if (waiting_) return;  // the previous one is still queued: that is the latency running
    waiting_ = true;
    postedAt_ = Clock::now();
    QCoreApplication::postEvent(target_,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_K, Qt::NoModifier, "k"));
  }
  double WorstMs() const { return worst_; }
  int Count() const { return count_; }
  void Reset() { worst_ = 0; count_ = 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == target_ && event->type() == QEvent::KeyPress && waiting_) {
      waiting_ = false;
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - postedAt_).count();
      worst_ = std::max(worst_, ms);
      ++count_;
    }
    return false;
  }

 private:
  QWidget* target_;
  bool waiting_ = false;
  Clock::time_point postedAt_;
  double worst_ = 0;
  int count_ = 0;
};

struct RunResult {
  double mibPerSecond;
  long events;
  double worstKeyMs;
  int keys;
  long residentStartKiB;
  long residentQuarterKiB;
  long residentEndKiB;
};

std::string Payload(size_t size) {
  // Lines of printable text as a terminal would get them, CR LF ended.
  std::string payload;
  payload.reserve(size);
  const std::string line =
      "The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMN\r\n";
  while (payload.size() < size) payload += line;
  payload.resize(size);
  return payload;
}

RunResult Run(MainWindow& window, velmora::test::PtyPair& pty, size_t bytes) {
  // One mebibyte written over and over: the figure of resident memory is the console's, not
  // the payload's.
  const std::string payload = Payload(std::min<size_t>(bytes, 1 << 20));
  KeyProbe probe(window.findChild<QPlainTextEdit*>("Memo1"));
  QTimer keyTimer;
  QObject::connect(&keyTimer, &QTimer::timeout, [&] { probe.Post(); });
  keyTimer.start(20);

  window.ResetCounters();
  RunResult result{};
  // Counts the received-characters events on their way to the window's handler.
  auto handler = window.Port().OnRxChar;
  window.Port().OnRxChar = [&](velmora::port::TCustomComPort& port, int count) {
    ++result.events;
    handler(port, count);
  };
  result.residentStartKiB = ResidentKiB();
  std::atomic<bool> writing{true};
  const auto start = Clock::now();
  std::thread writer([&] {
    for (size_t left = bytes; left > 0; left -= std::min(left, payload.size()))
      pty.Write(std::string_view(payload).substr(0, std::min(left, payload.size())));
    writing = false;
  });
  const int32_t quarter = static_cast<int32_t>(bytes / 4);
  bool quarterSeen = false;
  while (window.CounterFigures().RxCount < static_cast<int32_t>(bytes)) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!quarterSeen && window.CounterFigures().RxCount >= quarter) {
      quarterSeen = true;
      result.residentQuarterKiB = ResidentKiB();
    }
  }
  window.ReceiveContent().Flush();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  keyTimer.stop();
  QCoreApplication::processEvents();
  result.residentEndKiB = ResidentKiB();
  window.Port().OnRxChar = handler;
  result.mibPerSecond = static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
  result.worstKeyMs = probe.WorstMs();
  result.keys = probe.Count();
  return result;
}

void Print(const char* view, size_t bytes, const RunResult& r) {
  std::printf("%-5s view: %6.1f MiB in, %7.2f MiB/s shown, %ld events (%.0f bytes each); "
              "worst key answer %5.1f ms over %d keys; RSS %ld -> %ld (a quarter in) -> %ld KiB\n",
              view, static_cast<double>(bytes) / (1 << 20), r.mibPerSecond, r.events,
              static_cast<double>(bytes) / static_cast<double>(std::max(r.events, 1L)),
              r.worstKeyMs, r.keys, r.residentStartKiB, r.residentQuarterKiB, r.residentEndKiB);
  const std::string name = std::string(view) + " view, " +
                           std::to_string(bytes >> 20) + " MiB flood";
  velmora::bench::PrintFigure(name + ": shown", r.mibPerSecond, "MiB/s", ">= 25 MiB/s");
  velmora::bench::PrintFigure(name + ": resident memory at the end",
                              static_cast<double>(r.residentEndKiB) / 1024.0, "MiB",
                              "<= 60 MB (hex, 100 MiB)");
  velmora::bench::PrintFigure(name + ": growth from a quarter in to the end",
                              static_cast<double>(r.residentEndKiB - r.residentQuarterKiB) / 1024.0,
                              "MiB", "~0 (not growing)");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const size_t textMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t hexMiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 32;
  const int inputQueue = argc > 3 ? std::atoi(argv[3]) : 0;

  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  velmora::test::PtyPair pty;
  {
    QDir().mkpath(config.path() + "/Velmora");
    std::ofstream ini((config.path() + "/Velmora/ZORVA.INI").toStdString());
    ini << "[ComPort1]\nPort=" << pty.SlavePath() << "\nBaudRate=115200\n";
  }

  QApplication app(argc, argv);
  MainWindow window(nullptr, std::make_unique<PrintingPresenter>());
  if (!window.Port().Connected()) return 1;
  if (inputQueue > 0) {
    velmora::port::TComBuffer& buffer = window.Port().Buffer();
    buffer.SetInputSize(inputQueue);
  }
  window.show();
  QCoreApplication::processEvents();
  std::printf("port %s, input queue %d bytes, pane %d columns\n", pty.SlavePath().c_str(),
              window.Port().Buffer().InputSize(), window.ReceiveContent().Columns());

  const size_t textBytes = textMiB << 20;
  if (textBytes > 0) Print("text", textBytes, Run(window, pty, textBytes));
  window.findChild<QToolButton*>("SButton2")->click();
  const size_t hexBytes = hexMiB << 20;
  if (hexBytes > 0) Print("hex", hexBytes, Run(window, pty, hexBytes));
  window.close();
  return 0;
}
