// A file sent by the console's file command, as the operator sends it, with no keying (RTS held
// for the whole file, where the send keeps the driver fed):
//  - through the simulated loopback plug and the simulated radio link with its far station
//    silent, at 9600, 115 200 and 921 600 baud: characters per second achieved against the
//    line's own limit, and the mean gap the console leaves between characters;
//  - through a pseudo-terminal, whose far end reads as fast as it can: the time until the far
//    end has the whole file, against `cat file > pty` with the same reader.
//
//   bench_file_send [KiB of the file]      (64 by default; the pseudo-terminal sends 16 times as much)
//
// The line's limit is baud / 10 characters a second (8 data bits, no parity, 1 stop bit).

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

#include "bench/console_harness.h"
#include "platform/sim/sim_devices.h"

namespace {

using namespace velmora;
using namespace velmora::bench;

struct Baud {
  port::TBaudRate setting;
  int rate;
};

constexpr Baud kBauds[] = {{port::br9600, 9600}, {port::br115200, 115200}, {port::brCustom, 921600}};

void SetBaud(console::MainWindow& window, Baud baud) {
  window.Port().BeginSettingsUpdate();
  window.Port().SetBaudRate(baud.setting);
  if (baud.setting == port::brCustom) window.Port().SetCustomBaudRate(baud.rate);
  window.Port().EndSettingsUpdate();
}

std::string ReadWhole(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::chrono::duration<double> Limit(double seconds) { return std::chrono::duration<double>(seconds); }

// The loopback plug echoes every character, so the window also reads what it sends; the radio
// link with its far station silent shows the send alone.
void SendOnce(const std::string& file, size_t size, Baud baud, bool echo) {
  std::shared_ptr<platform::sim::SimLink> link;
  auto directory = std::make_shared<platform::DeviceDirectory>();
  if (echo) {
    auto plug = platform::sim::LoopbackPlug::Create();
    directory->Add("COM1", plug->Endpoint());
    link = plug;
  } else {
    auto radio = platform::sim::RadioLink::Create();
    radio->SetEcho(false);
    directory->Add("COM1", radio->Endpoint());
    link = radio;
  }
  ConsoleUnderTest console("COM1", directory);
  console::MainWindow& window = console.window();
  SetBaud(window, baud);
  auto* sendButton = window.findChild<QPushButton*>("Button5");

  window.FileChoosers().AnswerNext(QString::fromStdString(file));
  const auto start = Clock::now();
  sendButton->click();
  const double limitSeconds = static_cast<double>(size) / BytesPerSecond(baud.rate);
  const bool done = console.RunUntil([&] { return !sendButton->isChecked(); },
                                     std::chrono::duration_cast<Clock::duration>(Limit(limitSeconds * 3 + 5)));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const bool exact = link->Sent() == ReadWhole(file);
  const double achieved = static_cast<double>(size) / seconds;
  const double gapUs = (seconds - limitSeconds) / static_cast<double>(size) * 1e6;
  std::printf("%-8s %6d baud: %zu bytes in %.3f s, %.0f chars/s of the line's %.0f = %.1f %% (target >= 97 %%); "
              "mean gap %.1f us a character; %s%s\n",
              echo ? "loopback" : "radio", baud.rate, size, seconds, achieved, BytesPerSecond(baud.rate),
              100.0 * achieved / BytesPerSecond(baud.rate), gapUs,
              exact ? "sent byte for byte" : "SENT BYTES DIFFER", done ? "" : " (NOT FINISHED)");
}

// Reads the pseudo-terminal's master on its own thread until `size` bytes came (or 30 s passed
// with the reader idle), keeping them and the moment the last one arrived.
class FarEndReader {
 public:
  FarEndReader(int master, size_t size) : thread_([this, master, size] { Loop(master, size); }) {}
  ~FarEndReader() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  const std::string& Got() const { return got_; }
  Clock::time_point Last() const { return last_; }

 private:
  void Loop(int master, size_t size) {
    std::string buffer(64 * 1024, '\0');
    while (got_.size() < size) {
      pollfd fd{master, POLLIN, 0};
      if (::poll(&fd, 1, 30000) <= 0) return;
      const ssize_t n = ::read(master, buffer.data(), buffer.size());
      if (n <= 0) return;
      got_.append(buffer.data(), static_cast<size_t>(n));
      last_ = Clock::now();
    }
  }
  std::string got_;
  Clock::time_point last_{};
  std::thread thread_;
};

double ConsoleThroughPty(const std::string& file, size_t size, Baud baud, bool& exact) {
  test::PtyPair pty;
  ConsoleUnderTest console(pty.SlavePath());
  console::MainWindow& window = console.window();
  SetBaud(window, baud);
  auto* sendButton = window.findChild<QPushButton*>("Button5");
  window.FileChoosers().AnswerNext(QString::fromStdString(file));
  FarEndReader reader(pty.Master(), size);
  const auto start = Clock::now();
  sendButton->click();
  console.RunUntil([&] { return !sendButton->isChecked(); }, std::chrono::seconds(60));
  reader.Join();
  exact = reader.Got() == ReadWhole(file);
  return std::chrono::duration<double>(reader.Last() - start).count();
}

double CatThroughPty(const std::string& file, size_t size, bool& exact) {
  test::PtyPair pty;
  FarEndReader reader(pty.Master(), size);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, pty.SlavePath().c_str(), O_WRONLY | O_NOCTTY, 0);
  const char* argv[] = {"cat", file.c_str(), nullptr};
  pid_t pid = 0;
  const auto start = Clock::now();
  if (posix_spawnp(&pid, "cat", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::printf("cannot start cat\n");
    std::exit(1);
  }
  posix_spawn_file_actions_destroy(&actions);
  reader.Join();
  int status = 0;
  ::waitpid(pid, &status, 0);
  exact = reader.Got() == ReadWhole(file);
  return std::chrono::duration<double>(reader.Last() - start).count();
}

void WriteFile(const std::string& file, size_t size) {
  std::ofstream out(file, std::ios::binary);
  const std::string bytes = BinaryBytes(size);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  QApplication app(argc, argv);
  QTemporaryDir folder;
  const std::string file = (folder.path() + "/send.bin").toStdString();
  const size_t size = kib * 1024;
  WriteFile(file, size);
  for (bool echo : {true, false})
    for (Baud baud : kBauds) SendOnce(file, size, baud, echo);

  const std::string ptyFile = (folder.path() + "/send-pty.bin").toStdString();
  const size_t ptySize = size * 16;
  WriteFile(ptyFile, ptySize);
  bool catExact = false;
  // The best of three: the pseudo-terminal's time is short and the machine is shared.
  double cat = 1e9;
  for (int i = 0; i < 3; ++i) cat = std::min(cat, CatThroughPty(ptyFile, ptySize, catExact));
  for (Baud baud : {kBauds[1], kBauds[2]}) {
    bool exact = false;
    double seconds = 1e9;
    for (int i = 0; i < 3; ++i) seconds = std::min(seconds, ConsoleThroughPty(ptyFile, ptySize, baud, exact));
    std::printf("pty      %6d baud set: %zu bytes in %.3f s, cat file > pty %.3f s: %.0f %% of cat's time "
                "(target <= 110 %%); %s, cat %s\n",
                baud.rate, ptySize, seconds, cat, 100.0 * seconds / cat,
                exact ? "sent byte for byte" : "SENT BYTES DIFFER", catExact ? "byte for byte" : "BYTES DIFFER");
  }
  return 0;
}
