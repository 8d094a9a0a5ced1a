// The frame view in the running main window (offscreen) on a pseudo-terminal: the CPU it costs
// against the hex view of the same Modbus-like traffic at 115 200 baud, what the session log adds
// to the hex view against what the capture adds, and a flood shown as frames with the resident
// memory as it keeps coming.
//
//   bench_frame_view [seconds of traffic per view] [MiB of flood] [MiB for the memory run]

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include "bench/console_harness.h"
#include "console/frame_splitter.h"
#include "console/receive_pane.h"
#include "tests/support/pty_pair.h"

namespace {

using velmora::bench::Clock;
using velmora::bench::ConsoleUnderTest;
using velmora::bench::PrintFigure;
using velmora::bench::ProcessCpu;
using velmora::bench::ResidentKiB;

// Polls of 8 bytes and answers of 5 to 250, with 2 to 20 ms of silence between frames, at the
// pace of 115 200 baud, from the far end's own thread; the same sequence every run.
class ModbusTraffic {
 public:
  explicit ModbusTraffic(velmora::test::PtyPair& pty) : pty_(pty), thread_([this] { Loop(); }) {}
  ~ModbusTraffic() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint64_t Written() const { return written_; }
  std::chrono::microseconds OwnCpu() const { return std::chrono::microseconds(cpuUs_.load()); }

 private:
  void Loop() {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> answerSize(5, 250), silenceMs(2, 20), byte(0, 255);
    const auto characterTime = std::chrono::nanoseconds(1'000'000'000LL * 10 / 115200);
    auto next = Clock::now();
    bool poll = true;
    while (!stop_) {
      std::string frame(poll ? 8 : static_cast<size_t>(answerSize(random)), '\0');
      for (char& c : frame) c = static_cast<char>(byte(random));
      std::this_thread::sleep_until(next);
      pty_.Write(frame);
      written_ += frame.size();
      next += characterTime * static_cast<int>(frame.size()) + std::chrono::milliseconds(silenceMs(random));
      poll = !poll;
    }
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    cpuUs_ = ts.tv_sec * 1'000'000LL + ts.tv_nsec / 1000;
  }

  velmora::test::PtyPair& pty_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> written_{0};
  std::atomic<int64_t> cpuUs_{0};
  std::thread thread_;
};

// The console's CPU share of one core (per cent) while the traffic runs for `seconds`.
double TrafficCpuShare(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int seconds) {
  const auto cpuBefore = ProcessCpu();
  const auto start = Clock::now();
  std::chrono::microseconds writerCpu{};
  {
    ModbusTraffic traffic(pty);
    console.RunFor(std::chrono::seconds(seconds));
    traffic.Stop();
    // The traffic's own thread is the far end, not the console.
    writerCpu = traffic.OwnCpu();
  }
  const auto wall = std::chrono::duration<double>(Clock::now() - start).count();
  const auto cpu = std::chrono::duration<double>(ProcessCpu() - cpuBefore - writerCpu).count();
  return 100.0 * cpu / wall;
}

// What a record of the traffic costs beside the hex view: the capture file (which takes the
// pane's place) and the session log (which writes the frames' lines beside the pane), each as
// the share above the plain hex view's in runs next to each other.
void RecordCosts(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int seconds) {
  auto& window = console.window();
  console.SelectHexView();
  QTemporaryDir folder;
  const double plain = TrafficCpuShare(console, pty, seconds);

  window.FileChoosers().AnswerNext(folder.filePath(QStringLiteral("capture.txt")));
  window.findChild<QPushButton*>("Button3")->click();
  const double capture = TrafficCpuShare(console, pty, seconds);
  window.findChild<QPushButton*>("Button3")->click();

  // A session runs from the port's open.
  window.Options().sessionLogFolder = folder.filePath(QStringLiteral("log"));
  window.Port().ClosePort();
  window.Port().OpenPort();
  const double log = TrafficCpuShare(console, pty, seconds);
  window.Options().sessionLogFolder.clear();
  window.Port().ClosePort();
  window.Port().OpenPort();

  std::printf("hex view %.2f %%, with the capture %.2f %%, with the session log %.2f %% of a core\n", plain,
              capture, log);
  PrintFigure("session log CPU above the hex view, Modbus-like traffic", log - plain, "% of a core", "<= capture",
              "capture " + std::to_string(capture - plain) + " %");
}

void Flood(ConsoleUnderTest& console, velmora::test::PtyPair& pty, size_t mib, const char* what) {
  auto& window = console.window();
  window.ResetCounters();
  const std::string chunk = velmora::bench::BinaryBytes(1 << 20);
  const long startKiB = ResidentKiB();
  long quarterKiB = 0;
  const auto start = Clock::now();
  std::thread writer([&] {
    for (size_t i = 0; i < mib; ++i) pty.Write(chunk);
  });
  const auto total = static_cast<int32_t>(mib << 20);
  console.RunUntil(
      [&] {
        if (quarterKiB == 0 && window.CounterFigures().RxCount >= total / 4) quarterKiB = ResidentKiB();
        return window.CounterFigures().RxCount >= total;
      },
      std::chrono::minutes(10));
  window.ReceiveContent().Flush();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  writer.join();
  const long endKiB = ResidentKiB();
  std::printf("frame view, %zu MiB flood: %.2f s; RSS %ld -> %ld (a quarter in) -> %ld KiB\n", mib, seconds,
              startKiB, quarterKiB, endKiB);
  const std::string name = std::string("frame view, ") + std::to_string(mib) + " MiB flood";
  if (std::string(what) == "speed")
    PrintFigure(name + ": shown", static_cast<double>(mib) / seconds, "MiB/s", ">= 25 MiB/s");
  else
    PrintFigure(name + ": growth from a quarter in to the end", static_cast<double>(endKiB - quarterKiB) / 1024.0,
                "MiB", "~0 (not growing)");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const size_t floodMiB = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 16;
  const size_t memoryMiB = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100;

  QApplication app(argc, argv);
  velmora::test::PtyPair pty;
  ConsoleUnderTest console(pty.SlavePath());
  if (!console.window().Port().Connected()) return 1;
  QToolButton* frames = console.window().findChild<QToolButton*>("SButton4");

  if (seconds > 0) {
    console.SelectHexView();
    const double hex = TrafficCpuShare(console, pty, seconds);
    frames->click();
    const double framesShare = TrafficCpuShare(console, pty, seconds);
    std::printf("Modbus-like traffic at 115200 baud, %d s each: hex view %.2f %%, frame view %.2f %% of a core\n",
                seconds, hex, framesShare);
    PrintFigure("frame view CPU, Modbus-like traffic", framesShare, "% of a core", "<= the hex view's",
                "hex view " + std::to_string(hex) + " %");
    RecordCosts(console, pty, seconds);
  }
  if (!frames->isChecked()) frames->click();
  if (floodMiB > 0) Flood(console, pty, floodMiB, "speed");
  if (memoryMiB > 0) Flood(console, pty, memoryMiB, "memory");
  return 0;
}
