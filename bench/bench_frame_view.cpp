// The frame view in the running main window (offscreen) on a pseudo-terminal: the CPU it costs
// against the hex view of the same Modbus-like traffic at 115 200 baud, what the session log adds
// to the hex view against what the capture adds, and a flood shown as frames with the resident
// memory as it keeps coming.
//
//   bench_frame_view [seconds of traffic per view] [MiB of flood] [MiB for the memory run]

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

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
using velmora::bench::ContextSwitches;
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
  uint64_t Frames() const { return frames_; }
  // Up to its last frame written.
  std::chrono::microseconds OwnCpu() const { return std::chrono::microseconds(cpuUs_.load()); }
  long OwnSwitches() const { return ownSwitches_; }

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
      ++frames_;
      timespec ts{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
      cpuUs_ = ts.tv_sec * 1'000'000LL + ts.tv_nsec / 1000;
      rusage usage{};
      if (::getrusage(RUSAGE_THREAD, &usage) == 0) ownSwitches_ = usage.ru_nvcsw + usage.ru_nivcsw;
    }
  }

  velmora::test::PtyPair& pty_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> written_{0};
  std::atomic<int64_t> cpuUs_{0};
  std::atomic<uint64_t> frames_{0};
  std::atomic<long> ownSwitches_{0};
  std::thread thread_;
};

struct Share {
  std::vector<double> seconds;  // per cent of one core in each of its seconds, round by round
  double cpu = 0;               // the median of them
  double switches = 0;  // the console's threads' context switches per frame of the traffic: what
                        // the CPU share is mostly made of, and unlike it hardly moved by the
                        // machine's other load
};

// The median over the rounds of `f` of two setups' seconds in the same round.
double MedianOfRounds(const Share& a, const Share& b, const std::function<double(double, double)>& f) {
  std::vector<double> values;
  for (size_t round = 0; round < std::min(a.seconds.size(), b.seconds.size()); ++round)
    values.push_back(f(a.seconds[round], b.seconds[round]));
  return velmora::bench::Summarise(values).median;
}

// The console's share in each of `setups` while the traffic runs, `seconds` for each in all.
// The setups take turns a second at a time, and what is compared is a round's seconds: on this
// kind of machine the host now and then makes every system call and wake-up cost several times
// more for seconds on end, which would otherwise be counted as the setup's that happened to run
// then. Each setup puts the window into its state (and does nothing when it is in it already).
std::vector<Share> TrafficShares(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int seconds,
                                 const std::vector<std::function<void()>>& setups) {
  std::vector<Share> shares(setups.size());
  std::vector<double> frames(setups.size());
  ModbusTraffic traffic(pty);
  // What the window does once, at its first traffic in each setup, is no setup's.
  for (const auto& setup : setups) {
    setup();
    console.RunFor(std::chrono::seconds(2));
  }
  for (int round = 0; round < seconds; ++round) {
    // Each setup takes each place in a round equally often: the second of two seconds taken in
    // a row costs more here than the first, whichever setup it is.
    for (size_t k = 0; k < setups.size(); ++k) {
      const size_t i = (static_cast<size_t>(round) + k) % setups.size();
      setups[i]();
      // The switch itself and what it left waiting are not the setup's.
      console.RunFor(std::chrono::milliseconds(100));
      // The traffic's own thread is the far end, not the console.
      const long switchesBefore = ContextSwitches() - traffic.OwnSwitches();
      const uint64_t framesBefore = traffic.Frames();
      const auto cpuBefore = ProcessCpu() - traffic.OwnCpu();
      const auto start = Clock::now();
      console.RunFor(std::chrono::seconds(1));
      const double used = std::chrono::duration<double>(ProcessCpu() - traffic.OwnCpu() - cpuBefore).count();
      shares[i].seconds.push_back(100.0 * used / std::chrono::duration<double>(Clock::now() - start).count());
      frames[i] += static_cast<double>(traffic.Frames() - framesBefore);
      shares[i].switches += static_cast<double>(ContextSwitches() - traffic.OwnSwitches() - switchesBefore);
    }
  }
  traffic.Stop();
  for (size_t i = 0; i < setups.size(); ++i) {
    shares[i].cpu = velmora::bench::Summarise(shares[i].seconds).median;
    shares[i].switches /= std::max(1.0, frames[i]);
  }
  return shares;
}

void Press(QAbstractButton* button, bool down) {
  if (button->isChecked() != down) button->click();
}

// The hex view against the frame view of the same traffic.
void ViewCosts(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int seconds) {
  auto& window = console.window();
  auto* hexButton = window.findChild<QToolButton*>("SButton2");
  auto* framesButton = window.findChild<QToolButton*>("SButton4");
  // Taking turns: a switch lays out nothing already shown, and its settling is not counted.
  const auto shares = TrafficShares(console, pty, seconds,
                                    {[&] { Press(hexButton, true); }, [&] { Press(framesButton, true); }});
  const Share &hex = shares[0], &frames = shares[1];
  const double ratio = MedianOfRounds(frames, hex, [](double f, double h) { return f / h; });
  std::printf("Modbus-like traffic at 115200 baud, %d s each taking turns: hex view %.2f %% (median; %.2f context "
              "switches a frame), frame view %.2f %% (%.2f) of a core\n",
              seconds, hex.cpu, hex.switches, frames.cpu, frames.switches);
  PrintFigure("frame view CPU against the hex view's, Modbus-like traffic (median of the rounds)", ratio,
              "times", "<= 1", "medians: hex view " + std::to_string(hex.cpu) + " %, frame view " +
                                   std::to_string(frames.cpu) + " %");
  PrintFigure("frame view, Modbus-like traffic: context switches per frame", frames.switches, "",
              "<= the hex view's", "hex view " + std::to_string(hex.switches));
}

// What a record of the traffic costs beside the hex view: the capture file and the session log
// (which writes the frames' lines), each as the share above the hex view's without a record.
// The window is hidden meanwhile, as a console left to record is: the capture takes the pane's
// place, and painting the pane would otherwise count as the capture's saving.
void RecordCosts(ConsoleUnderTest& console, velmora::test::PtyPair& pty, int seconds) {
  auto& window = console.window();
  console.SelectHexView();
  QTemporaryDir folder;
  const QString logFolder = folder.filePath(QStringLiteral("log"));
  auto* captureButton = window.findChild<QPushButton*>("Button3");
  const auto capture = [&](bool on) {
    if (on) window.FileChoosers().AnswerNext(folder.filePath(QStringLiteral("capture.txt")));
    Press(captureButton, on);
  };
  // As the window does when the port opens with a log folder set, and when it closes.
  const auto log = [&](bool on) {
    if (on)
      window.SessionLogFile().Start(logFolder);
    else
      window.SessionLogFile().Stop();
    window.Frames().SetLinesWanted(on);
  };
  window.hide();
  const auto shares = TrafficShares(console, pty, seconds,
                                       {[&] {
                                          capture(false);
                                          log(false);
                                        },
                                        [&] { capture(true); },
                                        [&] {
                                          capture(false);
                                          log(true);
                                        }});
  log(false);
  window.show();
  const auto above = [](double record, double plain) { return record - plain; };
  const double captureAbove = MedianOfRounds(shares[1], shares[0], above);
  const double logAbove = MedianOfRounds(shares[2], shares[0], above);
  std::printf("hidden window, hex view %.2f %% (median; %.2f context switches a frame), with the capture %.2f %% "
              "(%.2f), with the session log %.2f %% (%.2f) of a core\n",
              shares[0].cpu, shares[0].switches, shares[1].cpu, shares[1].switches, shares[2].cpu, shares[2].switches);
  PrintFigure("session log CPU above the hex view, Modbus-like traffic (median of the rounds)", logAbove,
              "% of a core", "<= capture", "capture " + std::to_string(captureAbove) + " %");
  PrintFigure("session log above the hex view: context switches per frame", shares[2].switches - shares[0].switches,
              "", "<= capture", "capture " + std::to_string(shares[1].switches - shares[0].switches));
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
    ViewCosts(console, pty, seconds);
    RecordCosts(console, pty, seconds);
  }
  if (!frames->isChecked()) frames->click();
  if (floodMiB > 0) Flood(console, pty, floodMiB, "speed");
  if (memoryMiB > 0) Flood(console, pty, memoryMiB, "memory");
  return 0;
}
