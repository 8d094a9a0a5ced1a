#include "tests/support/process_cpu.h"

#include <dirent.h>

#include <ctime>

namespace velmora::test {

namespace {
std::chrono::microseconds Read(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::microseconds(ts.tv_nsec / 1000);
}
}  // namespace

std::chrono::microseconds ProcessCpuTime() { return Read(CLOCK_PROCESS_CPUTIME_ID); }
std::chrono::microseconds ThreadCpuTime() { return Read(CLOCK_THREAD_CPUTIME_ID); }

long CountEntries(const char* folder) {
  long n = 0;
  if (DIR* dir = opendir(folder)) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

}  // namespace velmora::test
