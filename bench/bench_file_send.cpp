// A file sent by the console's file command through the simulated loopback plug, one character
// per transmit-empty event as the operator's send does it: characters per second achieved
// against the line's own limit at 9600 and 115 200 baud, and the mean gap the console leaves
// between one character's end and the next one's start. For comparison the same send through
// the simulated radio link, whose far station stays silent (nothing comes back to be read).
//
//   bench_file_send [KiB of the file]      (64 by default)
//
// The line's limit is baud / 10 characters a second (8 data bits, no parity, 1 stop bit).

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

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

// The loopback plug echoes every character, so the window also reads one character per
// transmit-empty; the radio link with its far station silent shows the send alone.
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
  window.Port().SetBaudRate(baud.setting);
  auto* sendButton = window.findChild<QPushButton*>("Button5");

  window.FileChoosers().AnswerNext(QString::fromStdString(file));
  const auto start = Clock::now();
  sendButton->click();
  const double limitSeconds = static_cast<double>(size) / BytesPerSecond(baud.rate);
  const bool done = console.RunUntil([&] { return !sendButton->isChecked(); },
                                     std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(limitSeconds * 3 + 5)));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::ifstream in(file, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const bool exact = link->Sent() == content;
  const double achieved = static_cast<double>(size) / seconds;
  const double gapUs = (seconds - limitSeconds) / static_cast<double>(size) * 1e6;
  const char* target = baud.rate == 9600 ? "target >= 90 %" : "no target";
  std::printf("%-8s %6d baud: %zu bytes in %.2f s, %.0f chars/s of the line's %.0f = %.1f %% (%s); "
              "mean gap %.0f us a character; %s%s\n",
              echo ? "loopback" : "radio", baud.rate, size, seconds, achieved, BytesPerSecond(baud.rate),
              100.0 * achieved / BytesPerSecond(baud.rate), target, gapUs,
              exact ? "sent byte for byte" : "SENT BYTES DIFFER", done ? "" : " (NOT FINISHED)");
}

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  QApplication app(argc, argv);
  QTemporaryDir folder;
  const std::string file = (folder.path() + "/send.bin").toStdString();
  const size_t size = kib * 1024;
  {
    std::ofstream out(file, std::ios::binary);
    const std::string bytes = BinaryBytes(size);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  for (bool echo : {true, false})
    for (Baud baud : {Baud{port::br115200, 115200}, Baud{port::br9600, 9600}})
      SendOnce(file, size, baud, echo);
  return 0;
}
