// The system backend on a pseudo-terminal pair: how fast it reads what the far end sends, and
// what its I/O thread costs while the line is idle (it should cost nothing).
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/posix/termios_translate_linux.h"
#include "tests/support/device_io.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"

namespace {

using namespace velmora::platform;
using namespace std::chrono_literals;

std::unique_ptr<CommDevice> OpenOn(const velmora::test::PtyPair& pair, benchmark::State& state) {
  OpenResult r = OpenSystemDevice(pair.SlavePath());
  if (!r.device) {
    state.SkipWithError(("open failed: " + r.detail).c_str());
    return nullptr;
  }
  Dcb dcb;
  dcb.BaudRate = 115200;
  dcb.fBinary = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  (void)r.device->SetCommState(dcb);
  (void)r.device->SetupComm(65536, 65536);
  (void)r.device->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0});
  (void)r.device->SetCommMask(EV_RXCHAR);
  return std::move(r.device);
}

// Arg 0: every byte value in turn; arg 1: only 0xFF, which the kernel sends escaped (two bytes each).
void PtyReadThroughput(benchmark::State& state) {
  constexpr size_t kTotal = 16u << 20;
  std::string payload(kTotal, '\xFF');
  if (state.range(0) == 0)
    for (size_t i = 0; i < kTotal; ++i) payload[i] = static_cast<char>(i & 0xFF);

  for (auto _ : state) {
    velmora::test::PtyPair pair;
    auto dev = OpenOn(pair, state);
    if (!dev) return;
    auto readEvent = Event::Create(true, false);
    std::vector<uint8_t> buffer(65536);
    velmora::test::EventWait arrival(*dev);

    const auto start = std::chrono::steady_clock::now();
    std::thread farEnd([&] { pair.Write(payload); });
    size_t got = 0;
    bool intact = true;
    while (got < kTotal) {
      Overlapped ov;
      ov.event = readEvent.get();
      uint32_t n = 0;
      IoStart s = dev->ReadFile(buffer.data(), static_cast<uint32_t>(buffer.size()), ov);
      if (s.kind == IoStart::Failed || !dev->GetOverlappedResult(ov, n, true)) break;
      if (n == 0) {
        if (arrival.WaitMask(10'000) == 0) break;
        continue;
      }
      intact = intact && std::memcmp(buffer.data(), payload.data() + got, n) == 0;
      got += n;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    farEnd.join();
    state.SetIterationTime(seconds);
    if (got != kTotal || !intact) state.SkipWithError("bytes were lost or changed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(kTotal) * state.iterations());
}

// The same transfer read straight from the slave with poll() and read(), for comparison. Arg 0:
// the pty's raw mode (the kernel's fast path, which the backend keeps on a pseudo-terminal);
// arg 1: a serial line's settings, where the kernel looks at every byte to mark line errors
// (INPCK|PARMRK).
void PtyReadThroughputRawBaseline(benchmark::State& state) {
  constexpr size_t kTotal = 16u << 20;
  // No 0xFF: escaped, it would arrive as two bytes here.
  std::string payload(kTotal, '\0');
  for (size_t i = 0; i < kTotal; ++i) payload[i] = static_cast<char>(i % 255);
  for (auto _ : state) {
    velmora::test::PtyPair pair;
    const int fd = ::open(pair.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (state.range(0) == 1 && fd >= 0) {
      Dcb dcb;
      dcb.BaudRate = 115200;
      (void)posix::WriteTermios(fd, posix::TranslateDcb(dcb).termios);
    }
    std::vector<char> buffer(65536);
    const auto start = std::chrono::steady_clock::now();
    std::thread farEnd([&] { pair.Write(payload); });
    size_t got = 0;
    while (fd >= 0 && got < kTotal) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10'000) <= 0) break;
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n > 0) got += static_cast<size_t>(n);
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    farEnd.join();
    if (fd >= 0) ::close(fd);
    if (got != kTotal) state.SkipWithError("bytes were lost");
  }
  state.SetBytesProcessed(static_cast<int64_t>(kTotal) * state.iterations());
}

// Processor time of every thread of this process but the caller, read from each thread's own
// clock (Linux numbers a thread's CPU clock after its id, as pthread_getcpuclockid does).
std::chrono::nanoseconds OtherThreadsCpuTime() {
  std::chrono::nanoseconds total{0};
  const pid_t self = ::gettid();
  DIR* tasks = ::opendir("/proc/self/task");
  if (!tasks) return total;
  while (dirent* e = ::readdir(tasks)) {
    const pid_t tid = static_cast<pid_t>(std::atoi(e->d_name));
    if (tid <= 0 || tid == self) continue;
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
    timespec ts{};
    if (::clock_gettime(clock, &ts) == 0) total += std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
  }
  ::closedir(tasks);
  return total;
}

// The backend's I/O thread over one idle second with a line-event wait pending, as a monitor
// thread keeps it.
void IdleIoThreadCpu(benchmark::State& state) {
  for (auto _ : state) {
    velmora::test::PtyPair pair;
    auto dev = OpenOn(pair, state);
    if (!dev) return;
    velmora::test::EventWait wait(*dev);
    (void)wait.Start();
    std::this_thread::sleep_for(100ms);  // let opening settle

    const auto before = OtherThreadsCpuTime();
    std::this_thread::sleep_for(1s);
    const auto used = OtherThreadsCpuTime() - before;
    state.SetIterationTime(1.0);
    state.counters["io_thread_cpu_ns_per_idle_s"] = static_cast<double>(used.count());
  }
}

BENCHMARK(PtyReadThroughput)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(PtyReadThroughputRawBaseline)->Arg(0)->Arg(1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(IdleIoThreadCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
