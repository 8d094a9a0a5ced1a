// The simulated loopback plug's achieved rate against its configured line rate.
#include <benchmark/benchmark.h>

#include <chrono>

#include "platform/sim/sim_devices.h"
#include "tests/support/device_io.h"

namespace {

using namespace velmora::platform;

void LoopbackRate(benchmark::State& state) {
  const auto baud = static_cast<uint32_t>(state.range(0));
  const size_t bytes = baud / 10;  // about one second of line time at 8N1
  auto plug = sim::LoopbackPlug::Create();
  auto dev = plug->Endpoint()->Open().device;
  Dcb dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  (void)dev->SetCommState(dcb);
  (void)dev->SetupComm(65536, 65536);
  (void)dev->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0});
  (void)dev->SetCommMask(EV_RXCHAR);
  const std::string payload(bytes, 'U');

  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    velmora::test::WriteAll(*dev, payload, 10'000);
    const std::string echoed = velmora::test::ReadExactly(*dev, bytes, 10'000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    if (echoed != payload) state.SkipWithError("the loopback changed or lost data");
    state.counters["line_Bps"] = baud / 10.0;
    state.counters["achieved_Bps"] = bytes / seconds;
    state.counters["achieved_of_line"] = bytes / seconds / (baud / 10.0);
  }
}

BENCHMARK(LoopbackRate)->Arg(9600)->Arg(115200)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
