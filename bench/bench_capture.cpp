// A capture of a fast line to a file by the console's capture command, beside `cat` of the same
// pseudo-terminal into a file: the far end writes every byte value, as fast as the kernel takes
// it, and both files are compared with what was written.
//
//   bench_capture [MiB]      (100 by default; under 2048: the window's counters are 32-bit)

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include "bench/console_harness.h"

extern char** environ;

namespace {

using namespace velmora;
using namespace velmora::bench;

struct Outcome {
  double seconds = 0;
  double cpuSeconds = 0;  // of the reader: the console's process less the writer, or cat
  std::string verdict;
};

std::string Verdict(const std::string& path, const std::string& expected) {
  std::ifstream in(path, std::ios::binary);
  const std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (got == expected) return "byte-exact";
  size_t first = 0;
  while (first < got.size() && first < expected.size() && got[first] == expected[first]) ++first;
  return "DIFFERS: " + std::to_string(got.size()) + " of " + std::to_string(expected.size()) +
         " bytes, first difference at " + std::to_string(first);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

Outcome CaptureByConsole(test::PtyPair& pty, const std::string& payload, const std::string& path) {
  ConsoleUnderTest console(pty.SlavePath());
  console::MainWindow& window = console.window();
  auto* captureButton = window.findChild<QPushButton*>("Button3");
  window.FileChoosers().AnswerNext(QString::fromStdString(path));
  captureButton->click();

  std::atomic<int64_t> writerCpuUs{0};
  const auto cpu0 = ProcessCpu();
  const auto start = Clock::now();
  std::thread writer([&] {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    pty.Write(payload);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    writerCpuUs = (b.tv_sec - a.tv_sec) * 1000000 + (b.tv_nsec - a.tv_nsec) / 1000;
  });
  const auto size = static_cast<int32_t>(payload.size());
  const bool done = console.RunUntil([&] { return window.CounterFigures().RxCount >= size; },
                                     std::chrono::minutes(5));
  Outcome outcome;
  outcome.seconds = Seconds(Clock::now() - start);
  writer.join();
  outcome.cpuSeconds =
      static_cast<double>((ProcessCpu() - cpu0).count() - writerCpuUs.load()) / 1e6;
  captureButton->click();
  outcome.verdict = done ? Verdict(path, payload) : "NOT FINISHED";
  return outcome;
}

off_t FileSize(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

Outcome CaptureByCat(test::PtyPair& pty, const std::string& payload, const std::string& path) {
  // Raw, whatever the console left on the line: cat gets the bytes as they are.
  const int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  termios raw{};
  tcgetattr(slave, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  ::close(slave);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const char* argv[] = {"cat", nullptr};
  pid_t pid = 0;
  Outcome outcome;
  if (posix_spawnp(&pid, "cat", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    outcome.verdict = "cat could not start";
    return outcome;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // cat has the tty open

  const auto start = Clock::now();
  std::thread writer([&] { pty.Write(payload); });
  const auto limit = start + std::chrono::minutes(5);
  while (FileSize(path) < static_cast<off_t>(payload.size()) && Clock::now() < limit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  outcome.seconds = Seconds(Clock::now() - start);
  writer.join();
  kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  outcome.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  outcome.verdict = Verdict(path, payload);
  return outcome;
}

void Print(const char* who, size_t size, const Outcome& o) {
  const double mib = static_cast<double>(size) / (1 << 20);
  std::printf("%-7s %.0f MiB in %6.2f s = %7.1f MiB/s, reader CPU %5.2f s (%3.0f %% of a core); %s\n",
              who, mib, o.seconds, mib / o.seconds, o.cpuSeconds,
              100.0 * o.cpuSeconds / o.seconds, o.verdict.c_str());
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  QApplication app(argc, argv);
  QTemporaryDir folder;
  const std::string payload = BinaryBytes(mib << 20);  // every byte value, 0xFF included
  test::PtyPair pty;
  std::printf("pseudo-terminal %s, %zu MiB of every byte value\n", pty.SlavePath().c_str(), mib);
  Print("console", payload.size(),
        CaptureByConsole(pty, payload, (folder.path() + "/console.cap").toStdString()));
  Print("cat", payload.size(), CaptureByCat(pty, payload, (folder.path() + "/cat.cap").toStdString()));
  return 0;
}
