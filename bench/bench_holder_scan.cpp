// Opening a tty and the scan for its other holders, on this machine as it is or on a busy one:
// child processes made here, each with many open files of the usual kinds (files, pipes,
// sockets, /dev/null). Prints the time of a whole scan, the time an open waits for it (its
// budget cuts it short) and of a whole open and close, beside the number of processes and
// descriptors the machine had.
//
//   bench_holder_scan [processes, default 2000] [descriptors each, default 250] [benchmark flags]
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/device_directory.h"
#include "platform/posix/device_holders.h"
#include "tests/support/pty_pair.h"

namespace {

using namespace velmora::platform;

// Processes that hold descriptors until the benchmark ends (or dies: they follow it).
class BusyMachine {
 public:
  BusyMachine(int processes, int descriptors) {
    int hold[2];
    if (::pipe(hold) != 0) return;
    for (int i = 0; i < processes; ++i) {
      const pid_t pid = ::fork();
      if (pid < 0) break;
      if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(hold[1]);
        int kinds[4];
        kinds[0] = ::open("/dev/null", O_RDONLY);
        kinds[1] = ::open("/proc/self/exe", O_RDONLY);
        int pipeEnds[2];
        kinds[2] = ::pipe(pipeEnds) == 0 ? pipeEnds[0] : -1;
        kinds[3] = ::socket(AF_UNIX, SOCK_STREAM, 0);
        for (int n = 4; n < descriptors; ++n)
          if (::dup(kinds[n % 4]) < 0) break;
        char byte;
        (void)::read(hold[0], &byte, 1);
        ::_exit(0);
      }
      children_.push_back(pid);
    }
    ::close(hold[0]);
    release_ = hold[1];
  }
  ~BusyMachine() {
    if (release_ >= 0) ::close(release_);
    for (pid_t pid : children_) ::waitpid(pid, nullptr, 0);
  }

 private:
  std::vector<pid_t> children_;
  int release_ = -1;
};

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

dev_t DeviceNumber(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_rdev;
}

void WholeScan(benchmark::State& state) {
  velmora::test::PtyPair pair;
  const dev_t device = DeviceNumber(pair.SlavePath());
  for (auto _ : state) benchmark::DoNotOptimize(posix::ScanDeviceHolders(device, std::chrono::hours(1)));
  CountProcessesAndDescriptors(state);
}
BENCHMARK(WholeScan)->Unit(benchmark::kMillisecond);

void ScanWithinTheOpensBudget(benchmark::State& state) {
  velmora::test::PtyPair pair;
  const dev_t device = DeviceNumber(pair.SlavePath());
  size_t complete = 0, scans = 0;
  for (auto _ : state) {
    complete += posix::ScanDeviceHolders(device).complete;
    ++scans;
  }
  state.counters["complete"] = scans ? static_cast<double>(complete) / static_cast<double>(scans) : 0;
  CountProcessesAndDescriptors(state);
}
BENCHMARK(ScanWithinTheOpensBudget)->Unit(benchmark::kMillisecond);

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

int Number(const char* text, int otherwise) {
  if (!text || !std::isdigit(static_cast<unsigned char>(*text))) return otherwise;
  return std::atoi(text);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args{argv[0]};
  int numbers[2] = {2000, 250};
  int given = 0;
  for (int i = 1; i < argc; ++i) {
    if (given < 2 && std::isdigit(static_cast<unsigned char>(argv[i][0])))
      numbers[given] = Number(argv[i], numbers[given]), ++given;
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  std::printf("holders: %d processes with %d descriptors each\n", numbers[0], numbers[1]);
  BusyMachine machine(numbers[0], numbers[1]);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
