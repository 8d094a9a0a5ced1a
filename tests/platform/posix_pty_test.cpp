// The system backend on pseudo-terminals made by the test: the device under test opens the
// slave by its path, the test plays the far end on the master.
#include "platform/device_directory.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/posix/termios_translate_linux.h"
#include "platform/posix/tty_line_driver_linux.h"
#include "platform/posix/uucp_lock.h"
#include "platform/sim/sim_devices.h"
#include "tests/support/device_io.h"
#include "tests/support/process_cpu.h"
#include "tests/support/pty_pair.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using test::EventWait;
using test::InQueue;
using test::PtyPair;
using test::ReadExactly;
using test::ReadUpTo;
using test::WriteAll;

// Generous: only a spinning thread would come near it in a second.
constexpr auto kIdleCpuAllowance = 30ms;

using test::Line;

std::string EveryByteValue(size_t repeats) {
  std::string s;
  for (size_t r = 0; r < repeats; ++r)
    for (int v = 0; v < 256; ++v) s.push_back(static_cast<char>(v));
  return s;
}

// Runs `what` on a thread with the credentials of "nobody" (only that thread's: the raw system
// calls change the calling thread alone), to see what a user without root gets.
void AsNobody(const std::function<void()>& what) {
  std::thread([&] {
    ASSERT_EQ(::syscall(SYS_setgroups, 0, nullptr), 0);
    ASSERT_EQ(::syscall(SYS_setresgid, 65534, 65534, 65534), 0);
    ASSERT_EQ(::syscall(SYS_setresuid, 65534, 65534, 65534), 0);
    what();
  }).join();
}

std::chrono::microseconds CpuOverOneIdleSecond() {
  const auto before = test::ProcessCpuTime();
  std::this_thread::sleep_for(1s);
  return test::ProcessCpuTime() - before;
}

class PosixPty : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenResult r = OpenSystemDevice(pair_.SlavePath());
    ASSERT_TRUE(r.device) << r.error << ": " << r.detail;
    dev_ = std::move(r.device);
    ASSERT_TRUE(dev_->SetCommState(Line(9600)));
    ASSERT_TRUE(dev_->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}));
    ASSERT_TRUE(dev_->SetCommMask(EV_RXCHAR));  // what ReadExactly waits for between reads
  }

  PtyPair pair_;
  std::unique_ptr<CommDevice> dev_;
};

TEST_F(PosixPty, LineSettingsReadBackOnTheMaster) {
  struct Case {
    Dcb dcb;
    uint32_t cflag;  // of CSTOPB, CRTSCTS, PARODD, CMSPAR (a pty keeps no CSIZE, no PARENB)
    uint32_t iflag;  // of IXON, IXOFF
  };
  auto flow = [](Dcb d, uint8_t cts, uint8_t outX, uint8_t inX) {
    d.fOutxCtsFlow = cts;
    d.fOutX = outX;
    d.fInX = inX;
    d.XonChar = 0x05;
    d.XoffChar = 0x06;
    return d;
  };
  const Case cases[] = {
      {Line(1000), 0, 0},
      {Line(250000, 8, NOPARITY, TWOSTOPBITS), CSTOPB, 0},
      {Line(110, 5, MARKPARITY, ONE5STOPBITS), CSTOPB | PARODD | CMSPAR, 0},
      {Line(57600, 6, SPACEPARITY, TWOSTOPBITS), CSTOPB | CMSPAR, 0},
      {flow(Line(9600, 7, EVENPARITY), 1, 0, 0), CRTSCTS, 0},
      {flow(Line(115200, 8, ODDPARITY), 0, 1, 1), PARODD, IXON | IXOFF},
      {flow(Line(256000), 1, 1, 0), CRTSCTS, IXON},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dcb.BaudRate << " baud, " << int{c.dcb.ByteSize} << " bits");
    ASSERT_TRUE(dev_->SetCommState(c.dcb));
    posix::TtyTermios seen;
    ASSERT_EQ(posix::ReadTermios(pair_.Master(), seen), 0);
    EXPECT_EQ(seen.ospeed, c.dcb.BaudRate);
    EXPECT_EQ(seen.ispeed, c.dcb.BaudRate);
    EXPECT_EQ(seen.cflag & (CSTOPB | CRTSCTS | PARODD | CMSPAR), c.cflag);
    EXPECT_EQ(seen.iflag & (IXON | IXOFF), c.iflag);
    // No line errors to mark on a pseudo-terminal: the kernel passes bytes on its fast path.
    EXPECT_EQ(seen.iflag & (INPCK | PARMRK), 0u);
    EXPECT_EQ(seen.cflag & HUPCL, uint32_t{HUPCL});
    EXPECT_EQ(seen.lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(seen.oflag & OPOST, 0u);
    EXPECT_EQ(seen.cc[VSTART], static_cast<uint8_t>(c.dcb.XonChar));
    EXPECT_EQ(seen.cc[VSTOP], static_cast<uint8_t>(c.dcb.XoffChar));
  }
}

TEST_F(PosixPty, RefusedLineSettingsLeaveTheLineAsItWas) {
  ASSERT_TRUE(dev_->SetCommState(Line(19200)));
  Status s = dev_->SetCommState(Line(9600, 5, NOPARITY, TWOSTOPBITS));
  EXPECT_EQ(s.error, EINVAL);
  posix::TtyTermios seen;
  ASSERT_EQ(posix::ReadTermios(pair_.Master(), seen), 0);
  EXPECT_EQ(seen.ospeed, 19200u);
}

TEST_F(PosixPty, EveryByteValueCrossesBothWays) {
  const std::string data = EveryByteValue(64);  // 16 KiB, more than a pty buffers, 0xFF included
  ASSERT_TRUE(dev_->SetupComm(64 * 1024, 4096));

  pair_.Write(data);
  EXPECT_EQ(ReadExactly(*dev_, data.size()), data);

  std::string farEndGot;
  std::thread reader([&] { farEndGot = pair_.Read(data.size()); });
  test::IoOutcome w = WriteAll(*dev_, data);
  reader.join();
  EXPECT_TRUE(w.completed);
  EXPECT_EQ(w.error, 0);
  EXPECT_EQ(w.transferred, data.size());
  EXPECT_EQ(farEndGot, data);
}

// A far end that does not read fills the kernel's buffer, as a stopped line would.
TEST_F(PosixPty, AWriteToAFarEndThatDoesNotReadGivesUpAndAbandonsTheRest) {
  ASSERT_TRUE(dev_->SetCommTimeouts({MAXDWORD, 0, 0, 0, 200}));
  const std::string data = EveryByteValue(1024);  // 256 KiB, far more than a pty buffers
  test::IoOutcome w = WriteAll(*dev_, data);
  ASSERT_TRUE(w.completed);
  EXPECT_EQ(w.error, 0) << "a timed-out write is no error";
  ASSERT_GT(w.transferred, 0u);
  ASSERT_LT(w.transferred, data.size());

  EXPECT_EQ(pair_.Read(data.size(), 300), data.substr(0, w.transferred)) << "the rest is not sent later";
  ASSERT_EQ(WriteAll(*dev_, "tail").transferred, 4u);
  EXPECT_EQ(pair_.Read(4), "tail");
}

TEST_F(PosixPty, BytesReportedSentSurviveACloseAndAnOpenRightAfter) {
  ASSERT_TRUE(dev_->SetCommState(Line(300)));
  const std::string text = "0123456789";
  ASSERT_EQ(WriteAll(*dev_, text).transferred, text.size());
  dev_.reset();
  OpenResult again = OpenSystemDevice(pair_.SlavePath());
  ASSERT_TRUE(again.device) << again.detail;
  EXPECT_EQ(pair_.Read(text.size()), text);
}

TEST_F(PosixPty, ReceivedCharacterEventFiresOncePerArrival) {
  ASSERT_TRUE(dev_->SetCommMask(EV_RXCHAR));
  EventWait wait(*dev_);
  pair_.Write("abc");
  EXPECT_EQ(wait.WaitMask(), EV_RXCHAR);

  // Nobody read the three bytes: no new arrival, no new event.
  uint32_t mask = 0;
  int error = 0;
  ASSERT_NE(wait.Start().kind, IoStart::Failed);
  EXPECT_FALSE(wait.Wait(200, mask, error));

  pair_.Write("d");
  ASSERT_TRUE(wait.Wait(test::kTestWaitMs, mask, error));
  EXPECT_EQ(mask, EV_RXCHAR);
  EXPECT_EQ(InQueue(*dev_), 4u);
}

TEST_F(PosixPty, FullInputQueueHoldsTheFarEndBackAndCostsNothing) {
  // One kibibyte is asked for; a tty keeps at least its minimum queue.
  ASSERT_TRUE(dev_->SetupComm(1024, 1024));
  const size_t queue = posix::TtyLineDriver::kMinimumInputQueue;
  const std::string flood = EveryByteValue(1024);  // 256 KiB
  size_t sent = pair_.WriteWhatFits(flood);
  for (int i = 0; i < 500 && InQueue(*dev_) < queue; ++i) {
    std::this_thread::sleep_for(10ms);
    sent += pair_.WriteWhatFits(std::string_view(flood).substr(sent));
  }
  ASSERT_EQ(InQueue(*dev_), queue);
  ASSERT_LT(sent, flood.size()) << "the far end was never held back";

  EXPECT_LT(CpuOverOneIdleSecond(), kIdleCpuAllowance);
  EXPECT_EQ(InQueue(*dev_), queue);

  // Held back, not dropped: everything the far end got rid of arrives, in order.
  ASSERT_TRUE(dev_->SetupComm(sent, 1024));
  EXPECT_EQ(ReadExactly(*dev_, sent), flood.substr(0, sent));
}

TEST_F(PosixPty, PurgeWithRxAbortEndsAPendingWaitAndAPendingRead) {
  ASSERT_TRUE(dev_->SetCommTimeouts({0, 0, 0, 0, 0}));  // a read waits for all it asked for
  ASSERT_TRUE(dev_->SetCommMask(EV_CTS | EV_DSR));
  EventWait wait(*dev_);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);

  auto readEvent = Event::Create(true, false);
  Overlapped readOv;
  readOv.event = readEvent.get();
  char buffer[16];
  ASSERT_EQ(dev_->ReadFile(buffer, sizeof buffer, readOv).kind, IoStart::Pending);

  ASSERT_TRUE(dev_->PurgeComm(PURGE_RXABORT));
  uint32_t mask = 0;
  int waitError = 0;
  ASSERT_TRUE(wait.Wait(test::kTestWaitMs, mask, waitError));
  EXPECT_NE(waitError, 0);
  ASSERT_EQ(WaitForOne(*readEvent, test::kTestWaitMs).kind, WaitOutcome::Signalled);
  uint32_t transferred = 99;
  EXPECT_NE(dev_->GetOverlappedResult(readOv, transferred, false).error, 0);
  EXPECT_EQ(transferred, 0u);
}

TEST_F(PosixPty, FarEndGoneEndsAPendingWaitWithAnErrorAndThenCostsNothing) {
  ASSERT_TRUE(dev_->SetCommMask(EV_RXCHAR | EV_ERR));
  EventWait wait(*dev_);
  ASSERT_EQ(wait.Start().kind, IoStart::Pending);

  pair_.CloseMaster();
  pair_.CloseSlaveKeeper();
  uint32_t mask = 0;
  int error = 0;
  ASSERT_TRUE(wait.Wait(test::kTestWaitMs, mask, error));
  EXPECT_NE(error, 0);

  EXPECT_LT(CpuOverOneIdleSecond(), kIdleCpuAllowance);
  EXPECT_NE(ReadUpTo(*dev_, 1).error, 0);
  EXPECT_NE(WriteAll(*dev_, "x").error, 0);
}

TEST_F(PosixPty, XonXoffOutputFlowUsesTheBlocksCharacters) {
  Dcb dcb = Line(9600);
  dcb.fOutX = 1;
  dcb.XonChar = 0x01;
  dcb.XoffChar = 0x02;
  ASSERT_TRUE(dev_->SetCommState(dcb));

  // The kernel takes the flow characters out of the input in order, so once 'z' arrived the
  // stop before it has been acted on.
  pair_.Write(std::string("\x02z", 2));
  ASSERT_EQ(ReadExactly(*dev_, 1), "z");

  auto writeEvent = Event::Create(true, false);
  Overlapped writeOv;
  writeOv.event = writeEvent.get();
  const std::string text = "hello";
  ASSERT_NE(dev_->WriteFile(text.data(), static_cast<uint32_t>(text.size()), writeOv).kind, IoStart::Failed);
  EXPECT_EQ(pair_.Read(text.size(), 200), "");

  pair_.Write(std::string("\x01", 1));
  EXPECT_EQ(pair_.Read(text.size()), text);
  ASSERT_EQ(WaitForOne(*writeEvent, test::kTestWaitMs).kind, WaitOutcome::Signalled);
  EXPECT_EQ(InQueue(*dev_), 0u);  // the flow characters are not data
}

TEST_F(PosixPty, InputFlowSendsTheBlocksXoffAndXon) {
  ASSERT_TRUE(dev_->SetupComm(1024, 1024));
  Dcb dcb = Line(9600);
  dcb.fInX = 1;
  dcb.XonChar = 0x0E;
  dcb.XoffChar = 0x0F;
  dcb.XonLim = 100;
  dcb.XoffLim = 512;
  ASSERT_TRUE(dev_->SetCommState(dcb));

  const size_t fill = posix::TtyLineDriver::kMinimumInputQueue - 400;  // leaves less room than XoffLim
  std::thread writer([&] { pair_.Write(std::string(fill, 'x')); });
  EXPECT_EQ(pair_.Read(1), "\x0F");
  writer.join();
  EXPECT_EQ(ReadExactly(*dev_, fill), std::string(fill, 'x'));  // down to XonLim and below
  EXPECT_EQ(pair_.Read(1), "\x0E");
}

TEST_F(PosixPty, ModemLinesAreOffAndOutputsAreKeptAsAShadow) {
  for (uint32_t f : {SETDTR, SETRTS, CLRDTR, CLRRTS, SETBREAK, CLRBREAK}) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(dev_->EscapeCommFunction(f));
  }
  EXPECT_EQ(test::ModemStatus(*dev_), 0u);
}

TEST_F(PosixPty, TransmitEmptyFollowsAWrite) {
  ASSERT_TRUE(dev_->SetCommMask(EV_TXEMPTY));
  EventWait wait(*dev_);
  ASSERT_TRUE(WriteAll(*dev_, "ping").completed);
  EXPECT_EQ(wait.WaitMask(), EV_TXEMPTY);
  EXPECT_EQ(pair_.Read(4), "ping");
}

TEST(PosixOpen, TheDriverSeesAPseudoTerminalAndStartsNoModemThread) {
  PtyPair pair;
  posix::TtyLineDriver::Opened opened = posix::TtyLineDriver::Open(pair.SlavePath());
  ASSERT_TRUE(opened.driver) << opened.detail;
  EXPECT_TRUE(opened.driver->IsPseudoTerminal());
  auto wake = Event::Create(true, false);
  ASSERT_TRUE(opened.driver->Start(*wake));
  EXPECT_FALSE(opened.driver->WatchesModemLinesWithThread());
  EXPECT_EQ(opened.driver->NextDeadline(), std::nullopt);
  EXPECT_TRUE(opened.driver->TransmitterEmpty());
  opened.driver->Stop();
}

TEST(PosixOpen, ASecondOpenIsRefusedAlsoForRootAndTheFirstCloseReleasesIt) {
  PtyPair pair;
  OpenResult first = OpenSystemDevice(pair.SlavePath());
  ASSERT_TRUE(first.device) << first.detail;

  OpenResult second = OpenSystemDevice(pair.SlavePath());
  EXPECT_FALSE(second.device);
  EXPECT_EQ(second.error, EWOULDBLOCK);  // the lock, which root cannot pass either
  EXPECT_NE(second.detail.find("занято"), std::string::npos) << second.detail;

  if (::geteuid() == 0) {
    // A user without root is stopped by TIOCEXCL before the lock.
    ASSERT_EQ(::chmod(pair.SlavePath().c_str(), 0666), 0);
    OpenResult other;
    AsNobody([&] { other = OpenSystemDevice(pair.SlavePath()); });
    EXPECT_FALSE(other.device);
    EXPECT_EQ(other.error, EBUSY);
  }

  first.device.reset();
  OpenResult again = OpenSystemDevice(pair.SlavePath());
  EXPECT_TRUE(again.device) << again.detail;
}

// Runs `what` in a child process with no more than `spare` descriptors free; its exit code.
// `warmUp` runs first with the full limit: the sanitizers check a class's dynamic type once with
// a pipe, which a process without descriptors cannot make.
int InChildWithSpareDescriptors(int spare, const std::function<void()>& warmUp, const std::function<int()>& what) {
  const pid_t child = ::fork();
  if (child == 0) {
    warmUp();
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowestFree + spare);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(250);
    ::_exit(what());
  }
  // Bounded: a child that hangs fails the test instead of stalling the run.
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 1000 && (ended = ::waitpid(child, &status, WNOHANG)) == 0; ++i) std::this_thread::sleep_for(10ms);
  if (ended != child) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return 254;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

TEST(PosixOpen, ShortOfDescriptorsAnOpenFailsWithTheSystemNumberAndTheDeviceStaysFree) {
  PtyPair pair;
  auto openOnce = [](const std::function<OpenResult()>& open) {
    return [open] { (void)open(); };
  };
  auto openTwice = [](const std::function<OpenResult()>& open) {
    return [open] {
      OpenResult r = open();
      if (r.device) return 0;
      const int error = r.error;
      rlimit limit{};
      ::getrlimit(RLIMIT_NOFILE, &limit);
      limit.rlim_cur = limit.rlim_max;
      ::setrlimit(RLIMIT_NOFILE, &limit);
      // Nothing of the failed open may linger: the device opens at once now.
      return open().device ? error : 200;
    };
  };
  const std::string path = pair.SlavePath();
  // The tty takes the one descriptor left; its I/O thread's event finds none.
  auto openTty = [path] { return OpenSystemDevice(path); };
  EXPECT_EQ(InChildWithSpareDescriptors(1, openOnce(openTty), openTwice(openTty)), EMFILE);
  auto plug = sim::LoopbackPlug::Create();
  auto openPlug = [plug] { return plug->Endpoint()->Open(); };
  EXPECT_EQ(InChildWithSpareDescriptors(0, openOnce(openPlug), openTwice(openPlug)), EMFILE);
}

TEST(PosixOpen, FailuresCarryTheSystemNumberAndWhatToDo) {
  OpenResult missing = OpenSystemDevice("/dev/ttyVELMORA_NONE");
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_NE(missing.detail.find("/dev/ttyVELMORA_NONE"), std::string::npos) << missing.detail;

  OpenResult notSerial = OpenSystemDevice("/dev/null");
  EXPECT_EQ(notSerial.error, ENOTTY);

  if (::geteuid() != 0) GTEST_SKIP() << "the permission case runs as root (it opens as nobody)";
  PtyPair pair;
  struct stat st {};
  ASSERT_EQ(::stat(pair.SlavePath().c_str(), &st), 0);
  ASSERT_EQ(::chmod(pair.SlavePath().c_str(), 0660), 0);
  const group* owner = ::getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string groupName = owner->gr_name;
  // A stale lock file of root's, which nobody may not remove from the sticky lock folder, is
  // passed over: the reason given is still the device's own.
  const std::string lockFile = std::string(velmora::platform::posix::kUucpLockFolder) + "/" +
                               velmora::platform::posix::UucpLock::FileName(pair.SlavePath());
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  if (FILE* stale = std::fopen(lockFile.c_str(), "w")) {
    std::fprintf(stale, "%10d\n", static_cast<int>(ended));
    std::fclose(stale);
  }
  OpenResult denied;
  AsNobody([&] { denied = OpenSystemDevice(pair.SlavePath()); });
  ::unlink(lockFile.c_str());
  EXPECT_EQ(denied.error, EACCES);
  EXPECT_NE(denied.detail.find("'" + groupName + "'"), std::string::npos) << denied.detail;
  EXPECT_NE(denied.detail.find("в неё не входит"), std::string::npos) << denied.detail;
}

}  // namespace
}  // namespace velmora::platform
