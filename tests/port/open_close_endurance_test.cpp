// Endurance of the port's life cycle: thousands of openings and closings of one port, on a
// simulated device and on a pseudo-terminal, leave the process with the descriptors, threads,
// mappings and heap it had after the first few — nothing is left behind by a cycle.
#include <dirent.h>
#include <malloc.h>

#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/device_directory.h"
#include "platform/sim/sim_devices.h"
#include "port/com_port.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' allocator tells its live bytes (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define VELMORA_SANITIZED_HEAP 1
#endif

namespace velmora::port {
namespace {

constexpr int kCycles = 10000;
constexpr int kWarmUp = 50;

using test::CountEntries;

long MappedRegions() {
  std::ifstream maps("/proc/self/maps");
  long n = 0;
  for (std::string line; std::getline(maps, line);) ++n;
  return n;
}

// Bytes the program holds on the heap now (not what the allocator keeps cached).
long LiveHeapBytes() {
#ifdef VELMORA_SANITIZED_HEAP
  return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
  return static_cast<long>(mallinfo2().uordblks);
#endif
}

struct Footprint {
  long descriptors = CountEntries("/proc/self/fd");
  long threads = CountEntries("/proc/self/task");
  long mappings = MappedRegions();
  long heap = LiveHeapBytes();
};

// Opens and closes `port` `cycles` times; the footprint after the warm-up and at the end.
void CycleAndCompare(TComPort& port, int cycles) {
  for (int i = 0; i < kWarmUp; ++i) {
    port.OpenPort();
    port.ClosePort();
  }
  const Footprint before;
  for (int i = 0; i < cycles; ++i) {
    port.OpenPort();
    ASSERT_TRUE(port.Connected());
    port.ClosePort();
  }
  const Footprint after;
  EXPECT_EQ(after.descriptors, before.descriptors);
  EXPECT_EQ(after.threads, before.threads);
  // The allocator may map a few regions more; a stack or buffer left per cycle would be
  // hundreds.
  EXPECT_LE(after.mappings, before.mappings + 16);
  // A leak of even a few bytes a cycle would show as tens of kilobytes here.
  EXPECT_LT(after.heap - before.heap, 16 * 1024) << "heap grew by " << after.heap - before.heap;
}

TEST(OpenCloseEnduranceTest, PseudoTerminalTenThousandTimes) {
  test::PtyPair pty;
  TComPort port("ComPort1");
  port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
  port.SetPort(pty.SlavePath());
  CycleAndCompare(port, kCycles);
}

TEST(OpenCloseEnduranceTest, SimulatedLoopbackTenThousandTimes) {
  auto directory = std::make_shared<platform::DeviceDirectory>();
  directory->Add("LOOPBACK", platform::sim::LoopbackPlug::Create()->Endpoint());
  TComPort port("ComPort1");
  port.SetDeviceDirectory(directory);
  port.SetPort("LOOPBACK");
  CycleAndCompare(port, kCycles);
}

}  // namespace
}  // namespace velmora::port
