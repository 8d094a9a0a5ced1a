#pragma once
// What the console benchmarks share: the real main window opened on a port through a settings
// file in a temporary configuration folder, a paced far-end writer for a pseudo-terminal, a
// reference `cat` of the same pseudo-terminal, and process figures (CPU, memory, wake-ups).
//
// Everything here runs the console as the operator runs it; nothing reaches into its insides
// beyond what a test may.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QPlainTextEdit>
#include <QTemporaryDir>

#include "console/main_window.h"
#include "platform/device_directory.h"
#include "platform/sim/sim_devices.h"
#include "tests/support/pty_pair.h"

namespace velmora::bench {

using Clock = std::chrono::steady_clock;
using Window = console::MainWindow;

// The console's window on `portName`, its settings file written first; error boxes are printed.
class ConsoleUnderTest {
 public:
  explicit ConsoleUnderTest(const std::string& portName,
                            std::shared_ptr<platform::DeviceDirectory> directory = nullptr,
                            const std::string& extraConsoleKeys = {});
  ~ConsoleUnderTest();
  Window& window() { return *window_; }
  void SelectHexView();
  void SelectTextView();
  // Runs the event loop for `duration` (or until `done` says so).
  void RunFor(Clock::duration duration);
  template <typename Done>
  bool RunUntil(Done done, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > end) return false;
      ProcessEventsOnce();
    }
    return true;
  }

 private:
  static void ProcessEventsOnce();
  QTemporaryDir config_;
  std::unique_ptr<Window> window_;
};

// Writes `bytesPerStep` bytes into the pseudo-terminal's master every 5 ms on absolute deadlines
// (a late wake-up writes every step due), from its own thread, until stopped.
class PacedWriter {
 public:
  PacedWriter(test::PtyPair& pty, int baud, std::string pattern);
  ~PacedWriter();
  void Stop();
  uint64_t Written() const { return written_; }
  std::chrono::microseconds OwnCpu() const { return std::chrono::microseconds(cpuUs_.load()); }
  // The writer thread's own context switches, to be taken off the process's.
  long OwnSwitches() const { return ownSwitches_; }
  size_t BytesPerStep() const { return bytesPerStep_; }

 private:
  void Loop();
  test::PtyPair& pty_;
  std::string pattern_;
  size_t bytesPerStep_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> written_{0};
  std::atomic<int64_t> cpuUs_{0};
  std::atomic<long> ownSwitches_{0};
  std::thread thread_;
};

inline constexpr auto kStep = std::chrono::milliseconds(5);

// Bytes a second for `baud` with 8N1 framing.
inline double BytesPerSecond(int baud) { return baud / 10.0; }

// CPU share of one core (per cent) that `cat` of the slave took while the paced writer fed it
// for `duration`.
double CatCpuShare(test::PtyPair& pty, int baud, const std::string& pattern,
                   Clock::duration duration);

// This process's CPU time, and the CPU time of its threads other than `except` threads.
std::chrono::microseconds ProcessCpu();
long ResidentKiB();
// Context switches of all this process's threads (each one a wake-up of a sleeping thread, or
// a preemption).
long ContextSwitches();
int ThreadCount();
int OpenDescriptorCount();

// "name: value unit (target ...; reference ...)" on one line.
void PrintFigure(const std::string& name, double value, const std::string& unit,
                 const std::string& target, const std::string& reference = {});

std::string TextLines(size_t size);  // CR LF ended lines of printable text
std::string BinaryBytes(size_t size);  // every byte value in turn

// A run of timings in milliseconds.
struct Stats {
  double least = 0, median = 0, p99 = 0, worst = 0;
  size_t count = 0;
};
Stats Summarise(std::vector<double> ms);
// "least …, median …, 99th percentile …, worst … ms over N".
std::string Range(const Stats& s);

class FarStationFlood;

// The console in its window on the simulated radio (no echo), in the hex view with 1 MiB/s
// arriving from the far station when asked; keys posted to the transmit pane as the keyboard
// gives them, and one keying read back from the radio's own record of the line.
class RadioConsole {
 public:
  RadioConsole(const std::string& settings, bool hexLoad);
  ~RadioConsole();

  platform::sim::RadioLink& Radio() { return *radio_; }
  ConsoleUnderTest& Console() { return *console_; }
  QPlainTextEdit* Pane() { return pane_; }
  void Press(Qt::Key key, const QString& text);

  // RTS up and down, the first start bit and the last stop bit of what was sent.
  struct Keying {
    Clock::time_point up{}, down{}, firstStart{}, lastStop{};
  };
  // Where the radio's records stand now; the next keying is read from there on.
  struct Mark {
    size_t lines = 0, sent = 0;
  };
  Mark Now() const;
  // Runs the window until RTS has dropped after `from` (false if not within `limit`) and reads
  // that keying; `firstStart` and `lastStop` stay empty when nothing was sent.
  bool WaitForKeying(Mark from, Keying& keying, Clock::duration limit);

 private:
  std::shared_ptr<platform::sim::RadioLink> radio_;
  std::shared_ptr<platform::DeviceDirectory> directory_;
  std::unique_ptr<ConsoleUnderTest> console_;
  QPlainTextEdit* pane_ = nullptr;
  std::unique_ptr<FarStationFlood> flood_;
};

// Received data from the simulated radio's far station at about 1 MiB/s, in 4 KiB steps, while
// it lives.
class FarStationFlood {
 public:
  explicit FarStationFlood(platform::sim::RadioLink& radio);
  ~FarStationFlood();
  FarStationFlood(const FarStationFlood&) = delete;
  FarStationFlood& operator=(const FarStationFlood&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// How late this machine wakes a thread that sleeps for a set time, measured by a bare thread of
// its own while it lives: the floor under every timing a benchmark here reports (a virtual
// machine's processors may be held up by its host for milliseconds).
class WakeUpLateness {
 public:
  WakeUpLateness();
  ~WakeUpLateness();
  WakeUpLateness(const WakeUpLateness&) = delete;
  WakeUpLateness& operator=(const WakeUpLateness&) = delete;
  // Stops the thread; the worst lateness and the count of wake-ups, in milliseconds.
  double StopAndTakeWorst(size_t* wakeUps = nullptr);

 private:
  std::atomic<bool> stop_{false};
  double worstMs_ = 0;
  size_t wakeUps_ = 0;
  std::thread thread_;
};

}  // namespace velmora::bench
