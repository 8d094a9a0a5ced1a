// End to end with code nobody here wrote: socat links two pseudo-terminals, the device under
// test opens one, Debian's Python with pyserial talks on the other.
#include "platform/device_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/device_io.h"

extern char** environ;

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3";  // Debian's, which has python3-serial

pid_t Spawn(const std::vector<std::string>& argv, bool quiet = false) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (quiet) {
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The child's exit status, or -1 when it did not end within `limit` (it is then killed).
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  int status = 0;
  for (auto left = limit; left > 0ms; left -= 10ms) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(10ms);
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

bool Runs(const std::vector<std::string>& argv) {
  pid_t pid = Spawn(argv, true);
  return pid > 0 && WaitForExit(pid, 10s) == 0;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// socat's pair of linked pseudo-terminals, "a" and "b" in a fresh folder.
class SocatLink {
 public:
  SocatLink() {
    char pattern[] = "/tmp/velmora-socat-XXXXXX";
    if (::mkdtemp(pattern)) dir_ = pattern;
    a_ = dir_ + "/a";
    b_ = dir_ + "/b";
    pid_ = Spawn({"socat", "pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_});
    for (int i = 0; i < 500 && pid_ > 0 && !(Exists(a_) && Exists(b_)); ++i) std::this_thread::sleep_for(10ms);
  }
  ~SocatLink() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      WaitForExit(pid_, 5s);
    }
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  bool Ready() const { return pid_ > 0 && Exists(a_) && Exists(b_); }
  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }

 private:
  std::string dir_, a_, b_;
  pid_t pid_ = -1;
};

TEST(PosixPeer, PyserialThroughSocatExchangesEveryByteValue) {
  if (!Runs({"socat", "-V"})) GTEST_SKIP() << "socat is missing: apt-get install socat";
  if (!Runs({kPython, "-c", "import serial"})) GTEST_SKIP() << "pyserial is missing: apt-get install python3-serial";

  SocatLink link;
  ASSERT_TRUE(link.Ready());
  OpenResult opened = OpenSystemDevice(link.A());
  ASSERT_TRUE(opened.device) << opened.error << ": " << opened.detail;
  CommDevice& dev = *opened.device;
  Dcb dcb;
  dcb.BaudRate = 115200;
  dcb.fBinary = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(dev.SetCommState(dcb));
  ASSERT_TRUE(dev.SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}));
  ASSERT_TRUE(dev.SetCommMask(EV_RXCHAR));

  // The peer sends 0..255, then expects them back reversed; its exit code says whether they came.
  const char* script =
      "import serial, sys\n"
      "s = serial.Serial(sys.argv[1], 115200, timeout=10, exclusive=True)\n"
      "s.write(bytes(range(256)))\n"
      "s.flush()\n"
      "got = s.read(256)\n"
      "sys.exit(0 if got == bytes(reversed(range(256))) else 3)\n";
  pid_t peer = Spawn({kPython, "-c", script, link.B()});
  ASSERT_GT(peer, 0);

  std::string sent;
  for (int v = 0; v < 256; ++v) sent.push_back(static_cast<char>(v));
  const std::string got = test::ReadExactly(dev, sent.size(), 10000);
  EXPECT_EQ(got, sent);
  const std::string back(sent.rbegin(), sent.rend());
  EXPECT_EQ(test::WriteAll(dev, back).transferred, back.size());
  EXPECT_EQ(WaitForExit(peer, 15s), 0) << "pyserial did not get the reversed bytes";
}

}  // namespace
}  // namespace velmora::platform
