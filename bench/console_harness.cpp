#include "bench/console_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QToolButton>

#include "console/message_presenter.h"

extern char** environ;

namespace velmora::bench {

namespace {

class PrintingPresenter final : public console::MessagePresenter {
 public:
  void ShowErrorBox(QWidget*, const QString& text) override {
    std::fprintf(stderr, "error box: %s\n", qPrintable(text));
  }
};

std::chrono::microseconds ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::microseconds(ts.tv_nsec / 1000);
}

long CountEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (!dir) return -1;
  long n = 0;
  while (dirent* e = readdir(dir))
    if (e->d_name[0] != '.') ++n;
  closedir(dir);
  return n;
}

}  // namespace

ConsoleUnderTest::ConsoleUnderTest(const std::string& portName,
                                   std::shared_ptr<platform::DeviceDirectory> directory,
                                   const std::string& extraConsoleKeys) {
  qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
  QDir().mkpath(config_.path() + "/Velmora");
  {
    std::ofstream ini((config_.path() + "/Velmora/ZORVA.INI").toStdString());
    ini << "[ComPort1]\nPort=" << portName << "\nBaudRate=115200\n";
    ini << "[Velmora]\n" << extraConsoleKeys;
  }
  window_ = std::make_unique<Window>(std::move(directory), std::make_unique<PrintingPresenter>());
  window_->show();
  QCoreApplication::processEvents();
}

ConsoleUnderTest::~ConsoleUnderTest() {
  window_->close();
  window_.reset();
}

void ConsoleUnderTest::SelectHexView() { window_->findChild<QToolButton*>("SButton2")->click(); }
void ConsoleUnderTest::SelectTextView() { window_->findChild<QToolButton*>("SButton1")->click(); }

void ConsoleUnderTest::ProcessEventsOnce() {
  // Waits for the next event; the timer bounds the wait when none comes.
  QTimer bound;
  bound.setSingleShot(true);
  bound.start(50);
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ConsoleUnderTest::RunFor(Clock::duration duration) {
  // A real event loop: nothing here wakes the process that the console would not.
  QEventLoop loop;
  QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(duration), &loop,
                     &QEventLoop::quit);
  loop.exec();
}

PacedWriter::PacedWriter(test::PtyPair& pty, int baud, std::string pattern)
    : pty_(pty),
      pattern_(std::move(pattern)),
      bytesPerStep_(static_cast<size_t>(BytesPerSecond(baud) *
                                        std::chrono::duration<double>(kStep).count() + 0.5)),
      thread_([this] { Loop(); }) {}

PacedWriter::~PacedWriter() { Stop(); }

void PacedWriter::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void PacedWriter::Loop() {
  size_t at = 0;
  auto next = Clock::now();
  while (!stop_) {
    while (next <= Clock::now()) {
      std::string step;
      while (step.size() < bytesPerStep_) {
        const size_t n = std::min(bytesPerStep_ - step.size(), pattern_.size() - at);
        step.append(pattern_, at, n);
        at = (at + n) % pattern_.size();
      }
      pty_.Write(step);
      written_ += step.size();
      next += kStep;
    }
    std::this_thread::sleep_until(next);
    cpuUs_ = ThreadCpu().count();
    rusage usage{};
    if (::getrusage(RUSAGE_THREAD, &usage) == 0) ownSwitches_ = usage.ru_nvcsw + usage.ru_nivcsw;
  }
}

double CatCpuShare(test::PtyPair& pty, int baud, const std::string& pattern,
                   Clock::duration duration) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, pty.SlavePath().c_str(), O_RDONLY | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const char* argv[] = {"cat", nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "cat", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
    throw std::runtime_error("cannot start cat");
  posix_spawn_file_actions_destroy(&actions);
  {
    PacedWriter writer(pty, baud, pattern);
    std::this_thread::sleep_for(duration);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  kill(pid, SIGTERM);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return 100.0 * cpu / std::chrono::duration<double>(duration).count();
}

std::chrono::microseconds ProcessCpu() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::microseconds(ts.tv_nsec / 1000);
}

long ResidentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long ContextSwitches() {
  long total = 0;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return -1;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
      if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
        status >> value;
        total += value;
      }
    }
  }
  closedir(dir);
  return total;
}

int ThreadCount() { return static_cast<int>(CountEntries("/proc/self/task")); }
int OpenDescriptorCount() { return static_cast<int>(CountEntries("/proc/self/fd")) - 1; }

void PrintFigure(const std::string& name, double value, const std::string& unit,
                 const std::string& target, const std::string& reference) {
  std::printf("  %-58s %10.2f %-6s  target %s", name.c_str(), value, unit.c_str(), target.c_str());
  if (!reference.empty()) std::printf("; reference %s", reference.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

std::string TextLines(size_t size) {
  std::string text;
  text.reserve(size);
  const std::string line =
      "The quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJKLMN\r\n";
  while (text.size() < size) text += line;
  text.resize(size);
  return text;
}

std::string BinaryBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 & 0xFF);
  return bytes;
}

FarStationFlood::FarStationFlood(platform::sim::RadioLink& radio)
    : thread_([this, &radio] {
        const std::string block = BinaryBytes(4096);
        auto next = Clock::now();
        while (!stop_) {
          radio.InjectReceived(block);
          next += std::chrono::microseconds(3906);
          std::this_thread::sleep_until(next);
        }
      }) {}

FarStationFlood::~FarStationFlood() {
  stop_ = true;
  thread_.join();
}

Stats Summarise(std::vector<double> ms) {
  Stats s;
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  s.least = ms.front();
  s.median = ms[ms.size() / 2];
  s.p99 = ms[ms.size() * 99 / 100];
  s.worst = ms.back();
  s.count = ms.size();
  return s;
}

std::string Range(const Stats& s) {
  char text[128];
  std::snprintf(text, sizeof text, "least %.3f, median %.3f, 99th percentile %.3f, worst %.3f ms over %zu", s.least,
                s.median, s.p99, s.worst, s.count);
  return text;
}

RadioConsole::RadioConsole(const std::string& settings, bool hexLoad)
    : radio_(platform::sim::RadioLink::Create()), directory_(std::make_shared<platform::DeviceDirectory>()) {
  radio_->SetEcho(false);
  directory_->Add("RADIO", radio_->Endpoint());
  console_ = std::make_unique<ConsoleUnderTest>("RADIO", directory_, settings);
  pane_ = console_->window().findChild<QPlainTextEdit*>("Memo1");
  if (hexLoad) {
    console_->SelectHexView();
    flood_ = std::make_unique<FarStationFlood>(*radio_);
  }
  console_->RunFor(std::chrono::milliseconds(200));
}

RadioConsole::~RadioConsole() = default;

void RadioConsole::Press(Qt::Key key, const QString& text) {
  QCoreApplication::postEvent(pane_, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
  QCoreApplication::postEvent(pane_, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

RadioConsole::Mark RadioConsole::Now() const { return {radio_->LineLog().size(), radio_->SentLog().size()}; }

bool RadioConsole::WaitForKeying(Mark from, Keying& keying, Clock::duration limit) {
  using platform::sim::LineChange;
  auto rtsDown = [&] {
    const auto log = radio_->LineLog();
    for (size_t i = from.lines; i < log.size(); ++i)
      if (log[i].line == LineChange::Rts && !log[i].on) return true;
    return false;
  };
  if (!console_->RunUntil(rtsDown, limit)) return false;
  const auto lines = radio_->LineLog();
  for (size_t i = from.lines; i < lines.size(); ++i) {
    if (lines[i].line != LineChange::Rts) continue;
    if (lines[i].on && keying.up == Clock::time_point{}) keying.up = lines[i].at;
    if (!lines[i].on) keying.down = lines[i].at;
  }
  const auto sent = radio_->SentLog();
  if (sent.size() > from.sent) {
    keying.firstStart = sent[from.sent].at - radio_->CharacterTime(0);
    keying.lastStop = sent.back().at;
  }
  return true;
}

WakeUpLateness::WakeUpLateness()
    : thread_([this] {
        // As the device's own thread keeps its waits: without the default slack.
        (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        while (!stop_) {
          const auto due = Clock::now() + std::chrono::milliseconds(5);
          std::this_thread::sleep_until(due);
          worstMs_ = std::max(worstMs_, std::chrono::duration<double, std::milli>(Clock::now() - due).count());
          ++wakeUps_;
        }
      }) {}

WakeUpLateness::~WakeUpLateness() { (void)StopAndTakeWorst(); }

double WakeUpLateness::StopAndTakeWorst(size_t* wakeUps) {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (wakeUps) *wakeUps = wakeUps_;
  return worstMs_;
}

}  // namespace velmora::bench
