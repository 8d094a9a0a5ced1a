// Soak: a gibibyte through a pseudo-terminal into the running window in the hex view, recorded
// by the window's capture file, checked byte for byte (by hash of the hex form) at the end, the
// resident memory printed as it goes. Not part of `make bench`: scripts/soak.sh runs it.
//
//   bench_console_soak [MiB] [capture file]

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <QApplication>
#include <QPushButton>

#include "bench/console_harness.h"
#include "console/display_forms.h"

namespace {

using namespace velmora;
using namespace velmora::bench;

struct Fnv1a {
  uint64_t hash = 1469598103934665603ull;
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  const std::string capturePath = argc > 2 ? argv[2] : "/tmp/velmora-soak-capture.txt";
  std::remove(capturePath.c_str());

  test::PtyPair pty;
  ConsoleUnderTest console(pty.SlavePath());
  console.SelectHexView();
  console.window().FileChoosers().AnswerNext(QString::fromStdString(capturePath));
  auto* capture = console.window().findChild<QPushButton*>("Button3");
  capture->click();

  // Every byte value, in a block whose length is not a multiple of the chunks the kernel and
  // the port deliver, so that the joins fall everywhere.
  const std::string block = BinaryBytes((1 << 20) + 13);
  const uint64_t total = static_cast<uint64_t>(mib) << 20;
  Fnv1a expected;
  std::thread writer([&] {
    for (uint64_t left = total; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
      pty.Write(std::string_view(block).substr(0, n));
      left -= n;
    }
  });
  for (uint64_t done = 0; done < total;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(total - done, block.size()));
    expected.Add(console::ToHexText(std::string_view(block).substr(0, n)));
    done += n;
  }

  const auto start = Clock::now();
  const auto cpu0 = ProcessCpu();
  uint64_t nextReport = 0;
  auto received = [&] {
    return static_cast<uint32_t>(console.window().CounterFigures().RxCount);
  };
  uint64_t wraps = 0, last = 0;
  auto receivedTotal = [&] {
    const uint64_t now = received();
    if (now < last) ++wraps;
    last = now;
    return (wraps << 32) + now;
  };
  while (receivedTotal() < total) {
    console.RunFor(std::chrono::milliseconds(100));
    if (receivedTotal() >= nextReport) {
      std::printf("  %6llu MiB received, resident %ld KiB\n",
                  static_cast<unsigned long long>(receivedTotal() >> 20), ResidentKiB());
      std::fflush(stdout);
      nextReport += total / 10;
    }
  }
  writer.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = std::chrono::duration<double>(ProcessCpu() - cpu0).count();
  capture->click();  // ends the capture
  console.RunFor(std::chrono::milliseconds(100));

  Fnv1a captured;
  std::ifstream file(capturePath, std::ios::binary);
  std::string buffer(1 << 20, '\0');
  uint64_t capturedBytes = 0;
  while (file.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || file.gcount()) {
    const auto n = static_cast<size_t>(file.gcount());
    captured.Add(std::string_view(buffer).substr(0, n));
    capturedBytes += n;
  }
  const bool exact = captured.hash == expected.hash && capturedBytes == total * 3;
  std::printf("%llu MiB in %.1f s (%.1f MiB/s, CPU %.1f s), capture %llu bytes, %s; resident %ld KiB "
              "at the end\n",
              static_cast<unsigned long long>(mib), seconds, static_cast<double>(mib) / seconds,
              cpu, static_cast<unsigned long long>(capturedBytes),
              exact ? "byte-exact" : "NOT byte-exact", ResidentKiB());
  std::remove(capturePath.c_str());
  return exact ? 0 : 1;
}
