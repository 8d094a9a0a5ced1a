// Other programs that hold a serial device: UUCP lock files and plain opens found in /proc,
// on pseudo-terminals made by the test and with real child processes as the other programs;
// what a hostile lock folder or a hung file system can do to an open, several programs taking
// over one stale lock at once, and character devices that must never be opened at all.
#include "platform/posix/uucp_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
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

// Dates a file a minute back: left behind, not being written.
void MakeOld(const std::string& path) {
  timespec times[2] = {};
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 60;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
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
  EXPECT_NE(acquired.detail.find("sleep (процесс " + std::to_string(holder.Pid()) + ")"), std::string::npos)
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
    MakeOld(file);
    UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
    ASSERT_TRUE(acquired.lock) << acquired.detail;
    EXPECT_EQ(UucpLock::ReadHolder(file), ::getpid());
  }
  EXPECT_FALSE(Exists(file));
}

TEST(UucpLock, ALockFileWithoutAnIdJustMadeIsBeingWrittenNotLeftBehind) {
  // Programs that create the file and then write their id leave it empty for a moment.
  TempFolder folder;
  const std::string file = folder.path().string() + "/LCK..ttyUSB7";
  std::ofstream(file, std::ios::binary).flush();
  UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
  EXPECT_FALSE(acquired.lock);
  EXPECT_EQ(acquired.error, EBUSY);
  EXPECT_NE(acquired.detail.find(file), std::string::npos) << acquired.detail;
  EXPECT_TRUE(Exists(file));
  EXPECT_EQ(ReadAll(file), "");
}

TEST(UucpLock, ReadsTheHolderInEitherForm) {
  TempFolder folder;
  const std::string file = folder.path().string() + "/LCK..ttyS0";
  auto binary = [](int32_t pid) { return std::string(reinterpret_cast<const char*>(&pid), sizeof pid); };
  struct Case {
    std::string content;
    pid_t holder;
  } const cases[] = {
      {"      4321\n", 4321},
      {"301\n", 301},  // four bytes of text, not a binary int
      {"4321", 4321},
      {"  1\n", 1},
      {"  77 minicom root\n", 77},
      {binary(4321), 4321},
      {binary(0x1230), 0x1230},  // its low byte is the digit '0'
      {binary(0), 0},
      {binary(-1), 0},
      {"", 0},
      {"garbage\n", 0},
      {"-5\n", 0},
      {"99999999999\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    std::ofstream(file, std::ios::binary | std::ios::trunc) << c.content;
    EXPECT_EQ(UucpLock::ReadHolder(file), c.holder);
  }
}

TEST(UucpLock, AShortTextLockOfALivingProcessIsNotTakenForStale) {
  // Four bytes, "  1\n": read as a binary int it named no process, and init's lock was removed.
  TempFolder folder;
  const std::string file = folder.path().string() + "/LCK..ttyUSB7";
  std::ofstream(file, std::ios::binary) << "  1\n";
  UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", folder.path().string());
  EXPECT_FALSE(acquired.lock);
  EXPECT_EQ(acquired.error, EBUSY);
  EXPECT_NE(acquired.detail.find("процесс 1)"), std::string::npos) << acquired.detail;
  EXPECT_EQ(ReadAll(file), "  1\n");
}

// Runs `acquire` on a thread of its own; a planted FIFO would block it in open() until a writer
// comes, so after a bound the test comes as that writer and fails instead of hanging.
UucpLock::Acquired AcquireWithinBound(const std::string& device, const std::string& folder,
                                      const std::string& lockFile) {
  auto done = std::async(std::launch::async, [&] { return UucpLock::Acquire(device, folder); });
  if (done.wait_for(5s) != std::future_status::ready) {
    ADD_FAILURE() << "Acquire blocked on " << lockFile;
    const int writer = ::open(lockFile.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  return done.get();
}

std::vector<std::string> PrivateFiles(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    if (e.path().filename().string().rfind("LTMP.", 0) == 0) names.push_back(e.path().filename().string());
  return names;
}

TEST(UucpLock, SomethingOtherThanAFileInTheLocksPlaceRefusesNamingItAndStays) {
  TempFolder folder;
  const std::string dir = folder.path().string();
  const std::string file = dir + "/LCK..ttyUSB7";
  ChildProcess holder({"sleep", "30"});
  ASSERT_TRUE(holder.Started());
  WriteLockFile(dir + "/elsewhere", holder.Pid());
  struct Case {
    const char* what;
    std::function<int()> plant;
  } const cases[] = {
      {"FIFO", [&] { return ::mkfifo(file.c_str(), 0644); }},
      {"link to a living holder's lock",
       [&] { return ::symlink((dir + "/elsewhere").c_str(), file.c_str()); }},
      {"folder", [&] { return ::mkdir(file.c_str(), 0755); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(c.plant(), 0);
    UucpLock::Acquired acquired = AcquireWithinBound("/dev/ttyUSB7", dir, file);
    EXPECT_FALSE(acquired.lock);
    EXPECT_EQ(acquired.error, EBUSY);
    EXPECT_NE(acquired.detail.find(file), std::string::npos) << acquired.detail;
    EXPECT_NE(acquired.detail.find("/dev/ttyUSB7"), std::string::npos) << acquired.detail;
    EXPECT_TRUE(Exists(file)) << "left for the operator to look at";
    EXPECT_EQ(PrivateFiles(dir), std::vector<std::string>{});
    std::filesystem::remove(file);
  }
}

TEST(UucpLock, PrivateFilesOfEndedProcessesAreRemovedAndNoneOfOursStays) {
  TempFolder folder;
  const std::string dir = folder.path().string();
  ChildProcess living({"sleep", "30"});
  ASSERT_TRUE(living.Started());
  const std::string ended = std::to_string(EndedProcessId());
  const std::string alive = std::to_string(living.Pid());
  std::ofstream(dir + "/LTMP." + ended + ".a1b2c3") << ended << "\n";
  std::ofstream(dir + "/LTMP." + ended) << ended << "\n";    // uucp's own form
  std::ofstream(dir + "/LTMP.Zq81xY") << ended << "\n";      // the id only inside
  std::ofstream(dir + "/LTMP." + alive + ".d4e5f6") << alive << "\n";
  std::ofstream(dir + "/LTMP.w0rk1n");                       // being written: no id yet

  {
    UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", dir);
    ASSERT_TRUE(acquired.lock) << acquired.detail;
  }
  std::vector<std::string> left = PrivateFiles(dir);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"LTMP." + alive + ".d4e5f6", "LTMP.w0rk1n"}));
}

// Several processes take over the same stale lock at the same moment, each pausing where a
// takeover reads the old file and replaces it: exactly one may end up holding the device.
TEST(UucpLock, OfManyTakingOverAStaleLockAtOnceExactlyOneGetsIt) {
  TempFolder folder;
  const std::string dir = folder.path().string();
  const std::string file = dir + "/LCK..ttyUSB7";
  WriteLockFile(file, EndedProcessId());
  UucpLock::SetPauseBeforeTakeover([] { std::this_thread::sleep_for(20ms); });

  struct Report {
    char outcome;  // 'L' locked, 'B' busy, 'N' neither, 'E' another error
    pid_t pid;
  };
  int start[2], results[2], release[2];
  ASSERT_EQ(::pipe(start), 0);
  ASSERT_EQ(::pipe(results), 0);
  ASSERT_EQ(::pipe(release), 0);
  constexpr int kTakers = 8;
  std::vector<pid_t> takers;
  for (int i = 0; i < kTakers; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(start[1]);
      ::close(release[1]);
      char byte;
      (void)::read(start[0], &byte, 1);  // all go at once, when the parent closes its end
      UucpLock::Acquired acquired = UucpLock::Acquire("/dev/ttyUSB7", dir);
      const char outcome = acquired.lock            ? 'L'
                           : acquired.error == EBUSY ? 'B'
                           : acquired.error == 0     ? 'N'
                                                     : 'E';
      const Report report{outcome, ::getpid()};
      (void)::write(results[1], &report, sizeof report);
      (void)::read(release[0], &byte, 1);  // holds the lock until the parent has looked
      acquired.lock.reset();
      ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    takers.push_back(pid);
  }
  UucpLock::SetPauseBeforeTakeover(nullptr);
  ::close(start[0]);
  ::close(start[1]);
  ::close(results[1]);
  ::close(release[0]);

  std::vector<pid_t> holders;
  int busy = 0;
  for (int i = 0; i < kTakers; ++i) {
    pollfd p{results[0], POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << "a taker did not answer";
    Report report{};
    ASSERT_EQ(::read(results[0], &report, sizeof report), static_cast<ssize_t>(sizeof report));
    if (report.outcome == 'L') holders.push_back(report.pid);
    busy += report.outcome == 'B';
  }
  EXPECT_EQ(holders.size(), 1u);
  EXPECT_EQ(busy, kTakers - 1);
  if (holders.size() == 1) {
    EXPECT_EQ(UucpLock::ReadHolder(file), holders[0]) << "the winner's file is in place";
  }

  ::close(release[1]);
  for (pid_t pid : takers) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  }
  ::close(results[0]);
  EXPECT_FALSE(Exists(file)) << "the winner removed its file when done";
  EXPECT_EQ(PrivateFiles(dir), std::vector<std::string>{});
}

// Runs `what` on a thread whose user is nobody: the raw system calls change that thread alone.
void AsNobody(const std::function<void()>& what) {
  std::thread([&] {
    ASSERT_EQ(::syscall(SYS_setgroups, 0, nullptr), 0);
    ASSERT_EQ(::syscall(SYS_setresgid, 65534, 65534, 65534), 0);
    ASSERT_EQ(::syscall(SYS_setresuid, 65534, 65534, 65534), 0);
    what();
  }).join();
}

TEST(UucpLock, TheLockOfAnotherUsersLivingProgramHolds) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs as root: the lock is taken as nobody, of a program of root's";
  TempFolder folder;
  const std::string dir = folder.path().string();
  ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
  ChildProcess holder({"sleep", "30"});
  ASSERT_TRUE(holder.Started());
  const std::string file = dir + "/LCK..ttyUSB7";
  WriteLockFile(file, holder.Pid());
  for (int i = 0; i < 500 && ProgramName(holder.Pid()) != "sleep"; ++i) std::this_thread::sleep_for(10ms);

  UucpLock::Acquired acquired;
  AsNobody([&] { acquired = UucpLock::Acquire("/dev/ttyUSB7", dir); });
  EXPECT_FALSE(acquired.lock);
  EXPECT_EQ(acquired.error, EBUSY);
  EXPECT_NE(acquired.detail.find("sleep (процесс " + std::to_string(holder.Pid()) + ")"), std::string::npos)
      << acquired.detail;
  EXPECT_EQ(UucpLock::ReadHolder(file), holder.Pid());
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
  EXPECT_NE(opened.detail.find("sleep (процесс " + std::to_string(minicom.Pid()) + ")"), std::string::npos)
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
  EXPECT_NE(opened.detail.find("cat (процесс " + std::to_string(cat.Pid()) + ")"), std::string::npos)
      << opened.detail;
  EXPECT_FALSE(Exists(LockFile())) << "a refused open leaves no lock file";

  // Once cat has gone, the device opens.
  cat.Signal(SIGKILL);
  cat.WaitForExit(5s);
  OpenResult again = OpenSystemDevice(pty_.SlavePath());
  EXPECT_TRUE(again.device) << again.error << ": " << again.detail;
}

TEST_F(HeldDevice, AFifoPlantedAsTheLockFileRefusesTheOpenAtOnceNamingIt) {
  ASSERT_EQ(::mkfifo(LockFile().c_str(), 0644), 0);
  auto done = std::async(std::launch::async, [&] { return OpenSystemDevice(pty_.SlavePath()); });
  if (done.wait_for(5s) != std::future_status::ready) {
    ADD_FAILURE() << "the open blocked on the FIFO";
    const int writer = ::open(LockFile().c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  OpenResult opened = done.get();
  EXPECT_FALSE(opened.device);
  EXPECT_EQ(opened.error, EBUSY);
  EXPECT_NE(opened.detail.find(LockFile()), std::string::npos) << opened.detail;
}

TEST_F(HeldDevice, AScanOutOfTimeFindsNobodyAndSaysSo) {
  ChildProcess cat({"cat", pty_.SlavePath()});
  ASSERT_TRUE(cat.Started());
  const dev_t device = DeviceNumber(pty_.SlavePath());
  ASSERT_TRUE(SeenHolding(cat.Pid(), device));
  const HolderScan cut = ScanDeviceHolders(device, 0ns);
  EXPECT_FALSE(cut.complete);
  EXPECT_TRUE(cut.holders.empty());
  const HolderScan whole = ScanDeviceHolders(device, 10s);
  EXPECT_TRUE(whole.complete);
  ASSERT_EQ(whole.holders.size(), 1u);
  EXPECT_EQ(whole.holders[0].pid, cat.Pid());
}

TEST_F(HeldDevice, APathThroughALinkOpensAndLocksTheDeviceItself) {
  TempFolder folder;
  const std::string link = folder.path().string() + "/my-modem";
  ASSERT_EQ(::symlink(pty_.SlavePath().c_str(), link.c_str()), 0);
  OpenResult opened = OpenSystemDevice(link);
  ASSERT_TRUE(opened.device) << opened.error << ": " << opened.detail;
  EXPECT_EQ(UucpLock::ReadHolder(LockFile()), ::getpid());
}

TEST(SystemDeviceOpen, TellsATerminalByItsNumberAlone) {
  struct Case {
    const char* what;
    unsigned major, minor;
    bool terminal;
  } const cases[] = {
      {"ttyS0", 4, 64, true}, {"tty", 5, 0, true},  {"pts/7", 136, 7, true}, {"pts/300", 137, 44, true},
      {"null", 1, 3, false},  {"vcs", 7, 0, false}, {"watchdog", 10, 130, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsTerminalDevice(makedev(c.major, c.minor)), c.terminal);
  }
}

// A character device that is not a terminal is refused without being opened: opening is what
// arms a watchdog. Copies of harmless devices, made here, show whether anything opened them.
TEST(SystemDeviceOpen, ACharacterDeviceThatIsNoTerminalIsNeverOpened) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs as root: it makes device nodes";
  TempFolder folder;
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  struct Case {
    const char* name;
    unsigned major, minor;
  } const cases[] = {{"null", 1, 3}, {"zero", 1, 5}, {"full", 1, 7}, {"random", 1, 8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string node = folder.path().string() + "/" + c.name;
    ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0666, makedev(c.major, c.minor)), 0);
    ASSERT_GE(::inotify_add_watch(watch, node.c_str(), IN_OPEN), 0);
    OpenResult opened = OpenSystemDevice(node);
    EXPECT_FALSE(opened.device);
    EXPECT_EQ(opened.error, ENOTTY);
    EXPECT_NE(opened.detail.find(node), std::string::npos) << opened.detail;
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the node was opened";
  }
  ::close(watch);
}

// A file system that never answers: a FUSE mount whose server reads no request. Anything that
// asks it (a stat) waits until the server goes, which `Abort` makes happen.
class SilentFuseMount {
 public:
  explicit SilentFuseMount(const std::string& folder) : folder_(folder) {
    fuse_ = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse_ < 0) return;
    const std::string options = "fd=" + std::to_string(fuse_) + ",rootmode=40000,user_id=0,group_id=0";
    mounted_ = ::mount("velmora-silent", folder_.c_str(), "fuse", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SilentFuseMount() {
    Abort();
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  void Abort() {
    if (fuse_ >= 0) ::close(fuse_);
    fuse_ = -1;
  }

 private:
  std::string folder_;
  int fuse_ = -1;
  bool mounted_ = false;
};

TEST_F(HeldDevice, AnotherProgramsFileOnAFileSystemThatNeverAnswersDoesNotStallTheOpen) {
  if (::geteuid() != 0) GTEST_SKIP() << "runs as root: it mounts a FUSE file system";
  TempFolder folder;
  const std::string mountPoint = folder.path().string() + "/silent";
  ASSERT_EQ(::mkdir(mountPoint.c_str(), 0755), 0);
  SilentFuseMount silent(mountPoint);
  if (!silent.Mounted()) GTEST_SKIP() << "no FUSE here";
  // The other program holds the mount's root; opening it as a path asks the server nothing.
  ChildProcess holder({"/usr/bin/python3", "-c",
                       "import os, sys, time\n"
                       "fd = os.open(sys.argv[1], os.O_PATH)\n"
                       "time.sleep(30)\n",
                       mountPoint});
  ASSERT_TRUE(holder.Started());
  bool holding = false;
  for (int i = 0; i < 500 && !holding; ++i) {
    std::this_thread::sleep_for(10ms);
    const std::string fds = "/proc/" + std::to_string(holder.Pid()) + "/fd";
    for (const auto& e : std::filesystem::directory_iterator(fds)) {
      std::error_code ec;
      holding = holding || std::filesystem::read_symlink(e.path(), ec).string() == mountPoint;
    }
  }
  ASSERT_TRUE(holding);

  auto done = std::async(std::launch::async, [&] { return OpenSystemDevice(pty_.SlavePath()); });
  const bool answered = done.wait_for(5s) == std::future_status::ready;
  silent.Abort();  // lets a stalled open go on, so that the test ends either way
  EXPECT_TRUE(answered) << "the open waited for the silent file system";
  OpenResult opened = done.get();
  EXPECT_TRUE(opened.device) << opened.error << ": " << opened.detail;
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
