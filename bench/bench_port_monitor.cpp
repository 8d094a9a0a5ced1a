// The port with its monitor thread on a pseudo-terminal: what an idle line costs (it should
// cost nothing), and how fast received bytes reach an OnRxChar handler that reads them.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>

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

BENCHMARK(IdleMonitorCpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ReceiveThroughHandler)->Arg(1024)->Arg(4096)->Arg(16384)->Arg(65536)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
