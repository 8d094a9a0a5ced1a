// The port with its monitor thread on a pseudo-terminal: what an idle line costs (it should
// cost nothing), how fast received bytes reach an OnRxChar handler that reads them, and how soon
// after the far end has a byte the tty backend's transmit-empty reaches OnTxEmpty (the moment
// the console drops RTS on a real line).
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "port/com_port.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"

namespace {

using namespace std::chrono_literals;
using velmora::port::TComPort;

// Runs the port's deliveries on this thread, as the window's event loop would.
void Serve(TComPort& port, std::chrono::steady_clock::time_point until, const std::function<bool()>& done) {
  while (!done() && std::chrono::steady_clock::now() < until) {
    velmora::platform::WaitForOne(port.Sync().Pending(), 50);
    port.Sync().Drain();
  }
}

void IdleMonitorCpu(benchmark::State& state) {
  velmora::test::PtyPair pty;
  TComPort port("ComPort1");
  port.SetPort(pty.SlavePath());
  port.OpenPort();
  std::this_thread::sleep_for(200ms);  // let the threads reach their waits
  for (auto _ : state) {
    // Everything but this thread: the port's monitor and I/O threads.
    const auto others = [] { return velmora::test::ProcessCpuTime() - velmora::test::ThreadCpuTime(); };
    const auto before = others();
    std::this_thread::sleep_for(1s);
    state.counters["port_threads_idle_second_cpu_us"] = static_cast<double>((others() - before).count());
  }
  port.ClosePort();
}

void ReceiveThroughHandler(benchmark::State& state) {
  const auto inputSize = static_cast<int>(state.range(0));
  velmora::test::PtyPair pty;
  TComPort port("ComPort1");
  port.SetPort(pty.SlavePath());
  port.Buffer().SetInputSize(inputSize);
  size_t received = 0;
  std::string chunk;
  port.OnRxChar = [&](velmora::port::TCustomComPort&, int count) { received += port.ReadText(chunk, count); };
  port.OpenPort();
  const std::string payload(16 << 20, 'x');
  for (auto _ : state) {
    received = 0;
    const auto start = std::chrono::steady_clock::now();
    std::thread writer([&] { pty.Write(payload); });
    Serve(port, start + 60s, [&] { return received >= payload.size(); });
    writer.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    state.counters["MiB_per_s"] = static_cast<double>(received) / seconds / (1 << 20);
  }
  port.ClosePort();
}

// One byte at a time, as key presses go: the far end's arrival time against the handler's.
void TransmitEmptyAfterTheFarEndHasTheByte(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto count = static_cast<size_t>(state.range(0));
  velmora::test::PtyPair pty;
  TComPort port("ComPort1");
  port.SetPort(pty.SlavePath());
  std::vector<Clock::time_point> arrived(count), empty(count);
  std::atomic<size_t> arrivals{0};
  size_t empties = 0;
  port.OnTxEmpty = [&](velmora::port::TCustomComPort&) {
    if (empties < count) empty[empties++] = Clock::now();
  };
  port.OpenPort();
  std::thread farEnd([&] {
    pollfd fd{pty.Master(), POLLIN, 0};
    char byte = 0;
    while (arrivals < count && ::poll(&fd, 1, 2000) > 0)
      if (::read(pty.Master(), &byte, 1) == 1) arrived[arrivals++] = Clock::now();
  });
  for (auto _ : state) {
    for (size_t i = 0; i < count; ++i) {
      port.WriteText("x");
      Serve(port, Clock::now() + 2s, [&] { return empties > i; });
    }
  }
  farEnd.join();
  port.ClosePort();
  std::vector<double> lagUs;
  for (size_t i = 0; i < std::min(empties, arrivals.load()); ++i)
    lagUs.push_back(std::chrono::duration<double, std::micro>(empty[i] - arrived[i]).count());
  std::sort(lagUs.begin(), lagUs.end());
  if (lagUs.empty()) return state.SkipWithError("no transmit-empty arrived");
  // Below zero: the handler ran before the far end's reader woke.
  state.counters["least_us"] = lagUs.front();
  state.counters["median_us"] = lagUs[lagUs.size() / 2];
  state.counters["worst_us"] = lagUs.back();
  state.counters["missing"] = static_cast<double>(count - lagUs.size());
}

BENCHMARK(IdleMonitorCpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ReceiveThroughHandler)->Arg(1024)->Arg(4096)->Arg(16384)->Arg(65536)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(TransmitEmptyAfterTheFarEndHasTheByte)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
