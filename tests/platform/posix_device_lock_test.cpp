// Other programs that hold a serial device: UUCP lock files and plain opens found in /proc,
// on pseudo-terminals made by the test and with real child processes as the other programs.
#include "platform/posix/uucp_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/posix/device_holders.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/pty_pair.h"

namespace velmora::platform::posix {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::TempFolder;
using test::PtyPair;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteLockFile(const std::string& path, pid_t pid) {
  std::ofstream(path) << std::string(10 - std::to_string(pid).size(), ' ') << pid << '\n';
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The id of a process that has ended and been reaped.
pid_t EndedProcessId() {
  ChildProcess child({"true"});
  child.WaitForExit(5s);
  return child.Pid();
}

dev_t DeviceNumber(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_rdev;
}

// Waits (bounded) until `pid` shows up as holding the device.
bool SeenHolding(pid_t pid, dev_t device) {
  for (auto waited = 0ms; waited < 5s; waited += 10ms) {
    for (const DeviceHolder& h : FindDeviceHolders(device))
      if (h.pid == pid) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

TEST(UucpLockName, IsTheKernelNameAfterLinksWithSlashesReplaced) {
  PtyPair pty;
  const std::string index = pty.SlavePath().substr(std::string("/dev/pts/").size());
  TempFolder folder;
  const std::string link = folder.path().string() + "/my-modem";
  ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);

  EXPECT_EQ(UucpLock::FileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(UucpLock::FileName(pty.SlavePath()), "LCK..pts_" + index);
  EXPECT_EQ(UucpLock::FileName(link), "LCK..pts_" + index);
}

TEST(UucpLock, WritesTheHolderInTheCustomaryFormAndRemovesItsFileAtTheEnd) {
  TempFolder folder;
  std::string file;
  {
    UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
    ASSERT_TRUE(acquired.lock) << acquired.error << ": " << acquired.detail;
    file = acquired.lock->FilePath();
    EXPECT_EQ(file, folder.path().string() + "/LCK..ttyUSB7");
    char expected[16];
    std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
    EXPECT_EQ(ReadAll(file), expected);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u) << "other programs must be able to read who holds the device";
  }
  EXPECT_FALSE(Exists(file));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path().string()), {}), 0) << "nothing left behind";
}

TEST(UucpLock, HeldByALivingProcessRefusesAndNamesItsProgram) {
  TempFolder folder;
  ChildProcess holder({"sleep", "30"});
  ASSERT_TRUE(holder.Started());
  const std::string file = folder.path().string() + "/LCK..ttyUSB7";
  WriteLockFile(file, holder.Pid());
  // The child may not have become "sleep" yet: wait until its name is readable.
  for (int i = 0; i < 500 && ProgramName(holder.Pid()) != "sleep"; ++i) std::this_thread::sleep_for(10ms);

  UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
  EXPECT_FALSE(acquired.lock);
  EXPECT_EQ(acquired.error, EBUSY);
  EXPECT_NE(acquired.detail.find("sleep (pid " + std::to_string(holder.Pid()) + ")"), std::string::npos)
      << acquired.detail;
  EXPECT_NE(acquired.detail.find(file), std::string::npos) << acquired.detail;
  EXPECT_EQ(UucpLock::ReadHolder(file), holder.Pid()) << "the holder's file stays";
}

TEST(UucpLock, AFileLeftByAnEndedProcessIsRemovedAndTheLockTaken) {
  TempFolder folder;
  const std::string file = folder.path().string() + "/LCK..ttyUSB7";
  struct Case {
    const char* what;
    std::string content;
  };
  const pid_t ended = EndedProcessId();
  int binaryPid = ended;
  const Case cases[] = {
      {"ASCII form", std::string(10 - std::to_string(ended).size(), ' ') + std::to_string(ended) + "\n"},
      {"old binary form", std::string(reinterpret_cast<const char*>(&binaryPid), sizeof binaryPid)},
      {"unreadable", "garbage\n"},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(file, std::ios::binary) << c.content;
    UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
    ASSERT_TRUE(acquired.lock) << acquired.detail;
    EXPECT_EQ(UucpLock::ReadHolder(file), ::getpid());
  }
  EXPECT_FALSE(Exists(file));
}

TEST(UucpLock, ReadsTheOldBinaryForm) {
  TempFolder folder;
  const std::string file = folder.path().string() + "/LCK..ttyS0";
  const int pid = 4321;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(&pid), sizeof pid);
  EXPECT_EQ(UucpLock::ReadHolder(file), 4321);
}

TEST(UucpLock, AFolderThatCannotBeUsedSkipsTheLockWithoutRefusing) {
  UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", "/nonexistent/velmora-lock-folder");
  EXPECT_FALSE(acquired.lock);
  EXPECT_EQ(acquired.error, 0) << acquired.detail;
}

// Through the system backend, with the real lock folder.
class HeldDevice : public ::testing::Test {
 protected:
  std::string LockFile() const { return std::string(kUucpLockFolder) + "/" + UucpLock::FileName(pty_.SlavePath()); }
  void TearDown() override {
    if (UucpLock::ReadHolder(LockFile()) != ::getpid()) ::unlink(LockFile().c_str());
  }
  PtyPair pty_;
};

TEST_F(HeldDevice, OpenTakesTheLockFileAndCloseRemovesIt) {
  {
    OpenResult opened = OpenSystemDevice(pty_.SlavePath());
    ASSERT_TRUE(opened.device) << opened.error << ": " << opened.detail;
    EXPECT_EQ(UucpLock::ReadHolder(LockFile()), ::getpid());
  }
  EXPECT_FALSE(Exists(LockFile()));
}

TEST_F(HeldDevice, ALockFileOfALivingProcessRefusesTheOpenNamingIt) {
  ChildProcess minicom({"sleep", "30"});
  ASSERT_TRUE(minicom.Started());
  WriteLockFile(LockFile(), minicom.Pid());
  for (int i = 0; i < 500 && ProgramName(minicom.Pid()) != "sleep"; ++i) std::this_thread::sleep_for(10ms);

  OpenResult opened = OpenSystemDevice(pty_.SlavePath());
  EXPECT_FALSE(opened.device);
  EXPECT_EQ(opened.error, EBUSY);
  EXPECT_NE(opened.detail.find(pty_.SlavePath()), std::string::npos) << opened.detail;
  EXPECT_NE(opened.detail.find("sleep (pid " + std::to_string(minicom.Pid()) + ")"), std::string::npos)
      << opened.detail;
  EXPECT_EQ(UucpLock::ReadHolder(LockFile()), minicom.Pid());
  ::unlink(LockFile().c_str());
}

TEST_F(HeldDevice, AStaleLockFileDoesNotStopTheOpen) {
  WriteLockFile(LockFile(), EndedProcessId());
  OpenResult opened = OpenSystemDevice(pty_.SlavePath());
  ASSERT_TRUE(opened.device) << opened.error << ": " << opened.detail;
  EXPECT_EQ(UucpLock::ReadHolder(LockFile()), ::getpid());
}

TEST_F(HeldDevice, AProgramThatOpenedTheDevicePlainlyIsNamedAndTheOpenRefused) {
  // `cat` neither flocks nor sets TIOCEXCL: before, the two shared the stream unnoticed.
  ChildProcess cat({"cat", pty_.SlavePath()});
  ASSERT_TRUE(cat.Started());
  ASSERT_TRUE(SeenHolding(cat.Pid(), DeviceNumber(pty_.SlavePath())));

  OpenResult opened = OpenSystemDevice(pty_.SlavePath());
  EXPECT_FALSE(opened.device);
  EXPECT_EQ(opened.error, EBUSY);
  EXPECT_NE(opened.detail.find("cat (pid " + std::to_string(cat.Pid()) + ")"), std::string::npos) << opened.detail;
  EXPECT_FALSE(Exists(LockFile())) << "a refused open leaves no lock file";

  // Once cat has gone, the device opens.
  cat.Signal(SIGKILL);
  cat.WaitForExit(5s);
  OpenResult again = OpenSystemDevice(pty_.SlavePath());
  EXPECT_TRUE(again.device) << again.error << ": " << again.detail;
}

TEST_F(HeldDevice, TheFarEndOfAPseudoTerminalIsNotAHolder) {
  // A process holding the master and a slave descriptor, as socat does, is the other side of
  // the line, not a competitor: python keeps both open here.
  const char* script =
      "import os, pty, sys, time\n"
      "m, s = pty.openpty()\n"
      "open(sys.argv[1] + '.tmp', 'w').write(os.ttyname(s))\n"
      "os.rename(sys.argv[1] + '.tmp', sys.argv[1])\n"
      "time.sleep(30)\n";
  TempFolder folder;
  const std::string nameFile = folder.path().string() + "/slave";
  ChildProcess farEnd({"/usr/bin/python3", "-c", script, nameFile});
  ASSERT_TRUE(farEnd.Started());
  for (int i = 0; i < 500 && !Exists(nameFile); ++i) std::this_thread::sleep_for(10ms);
  const std::string slave = ReadAll(nameFile);
  ASSERT_FALSE(slave.empty());

  OpenResult opened = OpenSystemDevice(slave);
  EXPECT_TRUE(opened.device) << opened.error << ": " << opened.detail;
}

}  // namespace
}  // namespace velmora::platform::posix
