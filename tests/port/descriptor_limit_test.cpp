// Opening a port in a process short of file descriptors: every attempt either opens fully or
// fails with EComPort 1 and the system's number, leaving the port closed; the process never
// ends. Run in a child process (this program again, told so by the environment), whose lowered
// limit cannot disturb other tests; a fresh program rather than a bare fork, because the
// sanitizers do not work in a forked copy.
#include "port/com_port.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/device_directory.h"
#include "port/ecomport.h"
#include "tests/support/pty_pair.h"

namespace velmora::port {
namespace {

int HighestOpenDescriptor() {
  int highest = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    highest = std::max(highest, std::stoi(entry.path().filename().string()));
  return highest;
}

constexpr const char* kChildVariable = "VELMORA_DESCRIPTOR_LIMIT_CHILD";

// The child's body: its exit status says what went wrong (0: nothing).
int TryOpeningUnderEveryLimit(const std::string& path) {
  TComPort port("ComPort1");
  port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
  port.SetPort(path);
  // Once with every descriptor it wants: the sanitizers' first look at a type needs descriptors
  // of its own, which the limits below would deny them.
  try {
    port.OpenPort();
    port.ClosePort();
    throw EComPort(kErrOpen, EMFILE);
  } catch (const EComPort&) {
  }
  rlimit original{};
  ::getrlimit(RLIMIT_NOFILE, &original);
  // Fill the gaps below the highest descriptor, so the limit alone decides how many are free.
  const int first = HighestOpenDescriptor() + 1;
  for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0; fd = ::open("/dev/null", O_RDONLY)) {
    if (fd >= first) {
      ::close(fd);
      break;
    }
  }
  int refused = 0;
  int opened = 0;
  for (int extra = 0; extra <= 24; ++extra) {
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(first + extra);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
    try {
      port.OpenPort();
      ++opened;
      port.ClosePort();
    } catch (const EComPort& e) {
      ++refused;
      if (port.Connected() || e.ErrorNumber() != kErrOpen || e.WinErrorCode() <= 0) {
        std::fprintf(stderr, "with %d descriptors: %s, Connected %d\n", first + extra, e.what(), port.Connected());
        return 10;
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "with %d descriptors: not an EComPort: %s\n", first + extra, e.what());
      return 11;
    }
  }
  ::setrlimit(RLIMIT_NOFILE, &original);
  if (refused == 0 || opened == 0) {
    std::fprintf(stderr, "refused %d, opened %d: the range missed the limit\n", refused, opened);
    return 12;
  }
  try {
    port.OpenPort();  // nothing half-open left behind: the device opens again
  } catch (const std::exception& e) {
    std::fprintf(stderr, "afterwards: %s\n", e.what());
    return 13;
  }
  return 0;
}

TEST(DescriptorLimitTest, AnOpenShortOfDescriptorsFailsCleanlyAndNeverEndsTheProcess) {
  test::PtyPair pty;
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv(kChildVariable, pty.SlavePath().c_str(), 1);
    ::execl("/proc/self/exe", "/proc/self/exe", nullptr);
    ::_exit(127);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace velmora::port

int main(int argc, char** argv) {
  if (const char* path = std::getenv(velmora::port::kChildVariable))
    return velmora::port::TryOpeningUnderEveryLimit(path);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
