// What opening a system device costs now that it looks for other holders first: the UUCP lock
// file and the scan of every process's open files, alone and in a whole open/close cycle of a
// pseudo-terminal. The scan grows with the processes and descriptors of the machine, printed
// beside the figures.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <string>

#include "platform/device_directory.h"
#include "platform/posix/device_holders.h"
#include "tests/support/pty_pair.h"

namespace {

using namespace velmora::platform;

void CountProcessesAndDescriptors(benchmark::State& state) {
  size_t processes = 0, descriptors = 0;
  if (DIR* proc = ::opendir("/proc")) {
    while (dirent* e = ::readdir(proc)) {
      if (!std::isdigit(static_cast<unsigned char>(e->d_name[0]))) continue;
      ++processes;
      if (DIR* fds = ::opendir(("/proc/" + std::string(e->d_name) + "/fd").c_str())) {
        while (dirent* f = ::readdir(fds))
          if (f->d_name[0] != '.') ++descriptors;
        ::closedir(fds);
      }
    }
    ::closedir(proc);
  }
  state.counters["processes"] = static_cast<double>(processes);
  state.counters["descriptors"] = static_cast<double>(descriptors);
}

void FindHoldersOfAPseudoTerminal(benchmark::State& state) {
  velmora::test::PtyPair pair;
  struct stat st {};
  ::stat(pair.SlavePath().c_str(), &st);
  for (auto _ : state) benchmark::DoNotOptimize(posix::FindDeviceHolders(st.st_rdev));
  CountProcessesAndDescriptors(state);
}
BENCHMARK(FindHoldersOfAPseudoTerminal)->Unit(benchmark::kMillisecond);

void OpenAndCloseAPseudoTerminal(benchmark::State& state) {
  velmora::test::PtyPair pair;
  for (auto _ : state) {
    OpenResult opened = OpenSystemDevice(pair.SlavePath());
    if (!opened.device) {
      state.SkipWithError(("open failed: " + opened.detail).c_str());
      return;
    }
  }
  CountProcessesAndDescriptors(state);
}
BENCHMARK(OpenAndCloseAPseudoTerminal)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
