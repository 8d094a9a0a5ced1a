// The port on the kernel's own serial drivers: the 8250 UART driver behind /dev/ttyS1 and the
// FTDI USB adapter driver behind /dev/ttyUSB0, inside the test machine (scripts/test-machine).
//
// The host plays the far end of both lines: it echoes every byte back, and it acts on request
// lines this program prints on its console ("velmora-host: break" sends a break into ttyS1,
// "velmora-host: unplug" and "velmora-host: plug" pull and plug the adapter). Every wait here has
// a bound, so a missing answer fails a test instead of stalling the machine.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/device_identity.h"
#include "platform/event.h"
#include "console/port_reconnector.h"
#include "port/com_port.h"
#include "port/ecomport.h"
#include "port/error_display.h"
#include "tests/drivers/kernel_line.h"
#include "tests/support/process_cpu.h"
#include "tests/support/watchdog.h"

namespace velmora::port {
namespace {

using namespace std::chrono_literals;
using drivers_test::KernelLine;
using drivers_test::ReadKernelLine;
using drivers_test::ReadOutputLines;
using drivers_test::ReadLowLatency;

constexpr const char* kUart = "ttyS1";
constexpr const char* kUsb = "ttyUSB0";

std::string DevicePath(const std::string& name) { return "/dev/" + name; }
std::string LockPath(const std::string& name) { return "/run/lock/LCK.." + name; }

// A request to the host, on a line of its own.
void AskHost(const std::string& what) {
  std::fflush(stdout);
  std::printf("\nvelmora-host: %s\n", what.c_str());
  std::fflush(stdout);
}

using velmora::test::CountEntries;

// What each open descriptor refers to and what each thread is called, for a failure's message.
std::string Describe(const char* folder, const char* entry) {
  std::string out;
  if (DIR* dir = opendir(folder)) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      const std::string path = std::string(folder) + "/" + e->d_name + entry;
      char target[256] = {};
      if (*entry == '\0') {
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n > 0) target[n] = '\0';
      } else {
        std::ifstream file(path);
        file.getline(target, sizeof target);
      }
      out += std::string(" ") + e->d_name + "=" + target;
    }
    closedir(dir);
  }
  return out;
}

struct Footprint {
  long descriptors = CountEntries("/proc/self/fd");
  long threads = CountEntries("/proc/self/task");
  std::string what = "descriptors:" + Describe("/proc/self/fd", "") + "\nthreads:" + Describe("/proc/self/task", "/comm");
};

// The footprint once it holds still. A joined thread can stay listed for a moment: the join
// returns when the thread's id is cleared, before the kernel takes it off the list, and under
// the machine's emulation that moment is long enough to be seen.
Footprint SettledFootprint() {
  Footprint last;
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(20ms);
    Footprint now;
    if (now.descriptors == last.descriptors && now.threads == last.threads) return now;
    last = now;
  }
  return last;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The process id a UUCP lock file holds; 0 when there is none.
long LockHolder(const std::string& name) {
  std::ifstream file(LockPath(name));
  long pid = 0;
  file >> pid;
  return file ? pid : 0;
}

std::string Hex(const std::string& bytes, size_t limit = 48) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    std::snprintf(b, sizeof b, "%02X ", static_cast<unsigned char>(bytes[i]));
    out += b;
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

// Every byte value, the flow-control characters on their own, and the runs the kernel's in-band
// error marking uses (FF FF, FF 00 00, FF 00 x): data that looks like a mark must stay data.
std::string EveryByteValue() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  bytes += std::string("\x11\x13\x11\x13", 4);
  bytes += std::string("\xFF\xFF\xFF\x00\x00\xFF\x00\x41\xFF", 9);
  for (int i = 255; i >= 0; --i) bytes += static_cast<char>(i);
  return bytes;
}

class DriverPortTest : public ::testing::Test {
 protected:
  DriverPortTest() {
    previousDisplay_ = SetErrorDisplay([this](const std::string& m) { shown.push_back(m); });
    port.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
    port.OnError = [this](TCustomComPort&, TComErrors errors) { errorsSeen = errorsSeen | errors; };
    port.OnBreak = [this](TCustomComPort&) { ++breaks; };
    port.OnTxEmpty = [this](TCustomComPort&) { ++transmitterEmpty; };
    port.OnDeviceLost = [this](TCustomComPort&, const EComPort& e) {
      ++losses;
      lossNumber = e.ErrorNumber();
      lossReason = e.Detail();
    };
  }
  ~DriverPortTest() override {
    if (port.Connected()) {
      try {
        port.ClosePort();
      } catch (...) {
      }
    }
    SetErrorDisplay(previousDisplay_);
  }

  // Stands in for the window's event loop: runs deliveries until `done` or the time is up.
  bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      platform::WaitForOne(port.Sync().Pending(), 10);
      port.Sync().Drain();
    }
    return true;
  }

  // What the far end sent back, once `count` bytes wait (or whatever came within the bound).
  std::string Receive(size_t count, std::chrono::milliseconds limit = 15s) {
    Serve([&] { return static_cast<size_t>(port.InputQueueCount()) >= count; }, limit);
    std::string text;
    const int waiting = port.InputQueueCount();
    if (waiting > 0) port.ReadText(text, waiting);
    return text;
  }

  // What comes back until `marker` is among it (or the bound is up): what an earlier write left
  // with the far end may come first.
  std::string ReceiveUntil(const std::string& marker, std::chrono::milliseconds limit = 15s) {
    std::string text;
    Serve(
        [&] {
          const int waiting = port.InputQueueCount();
          std::string chunk;
          if (waiting > 0) port.ReadText(chunk, waiting);
          text += chunk;
          return text.find(marker) != std::string::npos;
        },
        limit);
    return text;
  }

  // Sends `bytes` and reads the echo; the far end sends every byte back.
  std::string RoundTrip(const std::string& bytes) {
    EXPECT_EQ(port.WriteText(bytes), static_cast<int>(bytes.size()));
    return Receive(bytes.size());
  }

  void OpenAt(const std::string& device, TBaudRate rate) {
    port.SetPort(device);
    port.SetBaudRate(rate);
    port.OpenPort();
  }

  // A call that blocks for good ends the run with a message, well within the host's bound.
  velmora::test::Watchdog watchdog_{150s, ::testing::UnitTest::GetInstance()->current_test_info()->name()};
  TComPort port{"ComPort1"};
  std::vector<std::string> shown;
  TComErrors errorsSeen;
  int breaks = 0;
  int transmitterEmpty = 0;
  int losses = 0;
  int lossNumber = 0;
  std::string lossReason;

 private:
  ErrorDisplay previousDisplay_;
};

// --- bytes ---------------------------------------------------------------------------------

struct RateCase {
  const char* device;
  TBaudRate rate;
};

void PrintTo(const RateCase& c, std::ostream* out) { *out << c.device << " at " << (c.rate == br9600 ? 9600 : 115200); }

class BytesBothWaysTest : public DriverPortTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(BytesBothWaysTest, EveryByteValueComesBackUnchanged) {
  OpenAt(GetParam().device, GetParam().rate);
  const std::string sent = EveryByteValue();
  const std::string back = RoundTrip(sent);
  EXPECT_EQ(back.size(), sent.size());
  EXPECT_TRUE(back == sent) << "sent     " << Hex(sent) << "\nreceived " << Hex(back);
  EXPECT_TRUE(errorsSeen.Empty()) << "line errors reported for clean data";
  EXPECT_EQ(breaks, 0);
  // The driver tells when the last byte left: the 8250 by its transmitter-empty bit, the
  // emulated adapter (whose bit never sets) by its output queue.
  EXPECT_TRUE(Serve([&] { return transmitterEmpty > 0; }, 5s)) << "no transmitter-empty event";
}

INSTANTIATE_TEST_SUITE_P(Lines, BytesBothWaysTest,
                         ::testing::Values(RateCase{kUart, br9600}, RateCase{kUart, br115200},
                                           RateCase{kUsb, br9600}, RateCase{kUsb, br115200}),
                         [](const ::testing::TestParamInfo<RateCase>& param) {
                           return std::string(param.param.device) + "_" +
                                  (param.param.rate == br9600 ? "9600" : "115200");
                         });

// --- line settings -------------------------------------------------------------------------

// One setting the engine applies, and what the driver must then hold ("" = refused).
struct SettingCase {
  const char* name;
  std::function<void(TComPort&)> apply;
  const char* uart;  // the 8250's readback
  const char* usb;   // the FTDI driver's readback
};

const std::vector<SettingCase>& SettingCases() {
  static const std::vector<SettingCase> cases = {
      {"9600 8N1", [](TComPort& p) { p.SetBaudRate(br9600); }, "9600 8N1", "9600 8N1"},
      {"115200", [](TComPort& p) { p.SetBaudRate(br115200); }, "115200 8N1", "115200 8N1"},
      {"57600", [](TComPort& p) { p.SetBaudRate(br57600); }, "57600 8N1", "57600 8N1"},
      {"1200", [](TComPort& p) { p.SetBaudRate(br1200); }, "1200 8N1", "1200 8N1"},
      // A 16550 makes 57600 for it (divisor 2): 2.9 % off, within what a line tolerates.
      {"56000", [](TComPort& p) { p.SetBaudRate(br56000); }, "56000 8N1", "56000 8N1"},
      {"custom 1000",
       [](TComPort& p) {
         p.SetCustomBaudRate(1000);
         p.SetBaudRate(brCustom);
       },
       "1000 8N1", "1000 8N1"},
      // Its nearest divisor gives 28800 (8 % off) on the 16550, whose driver would report 31250
      // all the same; 250000 is beyond its base rate of 115200.
      {"custom 31250", [](TComPort& p) { p.SetCustomBaudRate(31250); }, "", "31250 8N1"},
      {"custom 250000", [](TComPort& p) { p.SetCustomBaudRate(250000); }, "", "250000 8N1"},
      {"custom 14400", [](TComPort& p) { p.SetCustomBaudRate(14400); }, "14400 8N1", "14400 8N1"},
      {"7 even", [](TComPort& p) {
         p.SetDataBits(dbSeven);
         p.Parity().SetBits(prEven);
       }, "14400 7E1", "14400 7E1"},
      {"7 odd two stop", [](TComPort& p) {
         p.Parity().SetBits(prOdd);
         p.SetStopBits(sbTwoStopBits);
       }, "14400 7O2", "14400 7O2"},
      {"8 mark", [](TComPort& p) {
         p.SetStopBits(sbOneStopBit);
         p.SetDataBits(dbEight);
         p.Parity().SetBits(prMark);
       }, "14400 8M1", "14400 8M1"},
      {"8 space", [](TComPort& p) { p.Parity().SetBits(prSpace); }, "14400 8S1", "14400 8S1"},
      {"6 none two stop", [](TComPort& p) {
         p.Parity().SetBits(prNone);
         p.SetDataBits(dbSix);
         p.SetStopBits(sbTwoStopBits);
       }, "14400 6N2", ""},
      // The FTDI driver takes 5 data bits and reads them back (its "CS5 quirk"); what an adapter
      // makes of it is the chip's matter. 6 it refuses, keeping the old size.
      {"5 one and a half stop", [](TComPort& p) {
         p.SetDataBits(dbFive);
         p.SetStopBits(sbOne5StopBits);
       }, "14400 5N2", "14400 5N2"},
      {"back to 8N1", [](TComPort& p) {
         p.SetDataBits(dbEight);
         p.SetStopBits(sbOneStopBit);
       }, "14400 8N1", "14400 8N1"},
      {"rts/cts", [](TComPort& p) { p.FlowControl().SetOutCTSFlow(true); }, "14400 8N1 rts/cts", "14400 8N1 rts/cts"},
      {"xon/xoff", [](TComPort& p) {
         p.FlowControl().SetOutCTSFlow(false);
         p.FlowControl().SetXonXoffOut(true);
         p.FlowControl().SetXonXoffIn(true);
       }, "14400 8N1 ixon ixoff", "14400 8N1 ixon ixoff"},
      {"flow off, 115200", [](TComPort& p) {
         p.FlowControl().SetXonXoffOut(false);
         p.FlowControl().SetXonXoffIn(false);
         p.SetBaudRate(br115200);
       }, "115200 8N1", "115200 8N1"},
  };
  return cases;
}

class LineSettingsTest : public DriverPortTest, public ::testing::WithParamInterface<const char*> {};

// Each setting in turn on one open port, read back from the driver after each. Where the driver
// cannot take a setting, the port says so (EComPort 7) and the line stays as it was.
TEST_P(LineSettingsTest, EverySettingReadsBackFromTheDriver) {
  const std::string device = GetParam();
  const bool usb = device == kUsb;
  OpenAt(device, br9600);
  KernelLine line;
  ASSERT_EQ(ReadKernelLine(DevicePath(device), line), "");
  EXPECT_TRUE(line.marksLineErrors) << "line errors are not marked in band on " << device;
  std::string expected = line.Describe();
  for (const SettingCase& c : SettingCases()) {
    SCOPED_TRACE(c.name);
    const std::string want = usb ? c.usb : c.uart;
    const std::string before = expected;
    int refusedWith = 0;
    try {
      // One block per case: the driver sees the case whole, not its steps.
      port.BeginSettingsUpdate();
      c.apply(port);
      port.EndSettingsUpdate();
    } catch (const EComPort& e) {
      refusedWith = e.ErrorNumber();
    }
    ASSERT_EQ(port.UpdateCount(), 0);
    ASSERT_EQ(ReadKernelLine(DevicePath(device), line), "");
    if (want.empty()) {
      EXPECT_EQ(refusedWith, kErrSetState) << "the driver took it as " << line.Describe();
      EXPECT_EQ(line.Describe(), before) << "a refused setting changed the line";
    } else {
      EXPECT_EQ(refusedWith, 0);
      EXPECT_EQ(line.Describe(), want);
      expected = want;
    }
    EXPECT_TRUE(port.Connected());
  }
  // The flow characters the engine set are the driver's.
  EXPECT_EQ(line.startChar, static_cast<uint8_t>(port.FlowControl().XonChar()));
  EXPECT_EQ(line.stopChar, static_cast<uint8_t>(port.FlowControl().XoffChar()));
  // And the line still carries bytes at the last rate.
  EXPECT_EQ(RoundTrip("after the settings"), "after the settings");
}

INSTANTIATE_TEST_SUITE_P(Lines, LineSettingsTest, ::testing::Values(kUart, kUsb));

// --- output lines --------------------------------------------------------------------------

class OutputLinesTest : public DriverPortTest, public ::testing::WithParamInterface<const char*> {};

// Opening a tty raises DTR and RTS, which on a radio modem keys the transmitter. In the driver's
// own view the port holds them as its settings say from the open on, and as the operator sets
// them after.
TEST_P(OutputLinesTest, DtrAndRtsAreAsSetFromTheOpenOn) {
  const std::string device = GetParam();
  const std::string path = DevicePath(device);
  struct Step {
    const char* what;
    std::function<void()> act;
    bool dtr, rts;
  };
  const std::vector<Step> steps = {
      {"opened with both disabled", [&] { OpenAt(device, br9600); }, false, false},
      {"DTR raised", [&] { port.SetDTRState(true); }, true, false},
      {"RTS raised", [&] { port.SetRTSState(true); }, true, true},
      {"both dropped", [&] { port.SetDTRState(false), port.SetRTSState(false); }, false, false},
      {"reopened with both enabled",
       [&] {
         port.ClosePort();
         port.FlowControl().SetControlDTR(dtrEnable);
         port.FlowControl().SetControlRTS(rtsEnable);
         port.OpenPort();
       },
       true, true},
      {"rate changed", [&] { port.SetBaudRate(br115200); }, true, true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    bool dtr = !step.dtr, rts = !step.rts;
    ASSERT_EQ(ReadOutputLines(path, dtr, rts), "");
    EXPECT_EQ(dtr, step.dtr);
    EXPECT_EQ(rts, step.rts);
  }
  // The input lines read without error on both drivers (what they show is the emulation's).
  EXPECT_NO_THROW(port.LineSignals());
}

INSTANTIATE_TEST_SUITE_P(Lines, OutputLinesTest, ::testing::Values(kUart, kUsb));

// --- output held back at the close --------------------------------------------------------

// With XON/XOFF output flow the far end's XOFF (here our own, echoed back) stops the 8250
// driver's output; what it still holds would keep a plain close waiting for the tty's closing
// wait (30 s). The port lets the close go at once, and the line opens and carries bytes again
// after it. (The emulated FTDI adapter ignores flow control, so nothing is held there.)
TEST_F(DriverPortTest, OutputStoppedByXoffDoesNotHoldTheClose) {
  const std::string device = kUart;
  port.FlowControl().SetXonXoffOut(true);
  OpenAt(device, br9600);
  port.WriteText(std::string(1, port.FlowControl().XoffChar()));
  Serve([] { return false; }, 500ms);  // the XOFF comes back and stops the output
  const std::string held(4000, 'h');
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(1000);
  EXPECT_LT(port.WriteText(held), static_cast<int>(held.size())) << "nothing was held back";
  const auto start = std::chrono::steady_clock::now();
  port.ClosePort();
  const auto closing = std::chrono::steady_clock::now() - start;
  EXPECT_LT(closing, 10s) << "the close waited for output that could not leave";
  port.FlowControl().SetXonXoffOut(false);
  port.OpenPort();
  // What was held may still come first; the fresh bytes arrive after it.
  port.WriteText("free again");
  const std::string text = ReceiveUntil("free again");
  EXPECT_NE(text.find("free again"), std::string::npos) << text.size() << " bytes came back";
}

// --- break ---------------------------------------------------------------------------------

// The host sends a telnet BREAK into the 8250's socket, then "Z": the UART sees a break
// condition, and the byte after it is plain data.
TEST_F(DriverPortTest, ABreakFromTheFarEndIsReportedAndCounted) {
  OpenAt(kUart, br115200);
  AskHost("break");
  EXPECT_TRUE(Serve([&] { return breaks > 0 && port.InputQueueCount() > 0; }, 15s)) << "no break seen";
  Serve([] { return false; }, 300ms);  // a second report would come now
  EXPECT_EQ(breaks, 1);
  // A break alone is no line-status error event; the error word holds it until read.
  EXPECT_TRUE(errorsSeen.Empty());
  const TComErrors errors = port.ReadLineErrors();
  EXPECT_TRUE(errors.Has(erBreak)) << "the break was not among the line errors";
  EXPECT_FALSE(errors.Has(erFrame));
  EXPECT_TRUE(port.ReadLineErrors().Empty()) << "reading the errors did not clear them";
  std::string after;
  port.ReadText(after, port.InputQueueCount());
  // The break's own NUL (as Windows drivers put it in) may come first; then the plain byte.
  EXPECT_TRUE(after == "Z" || after == std::string("\0Z", 2)) << Hex(after);
  // A second break is a second report.
  AskHost("break");
  EXPECT_TRUE(Serve([&] { return breaks == 2; }, 15s));
}

// --- lock files and a second opener --------------------------------------------------------

class LockTest : public DriverPortTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LockTest, TheLockFileNamesTheHolderAndASecondOpenerIsRefused) {
  const std::string device = GetParam();
  // The second opener is another process, forked before any thread of the port exists: it waits
  // for a byte on `go`, tries to open the device, and reports on `result`.
  int go[2], result[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(result), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(go[1]);
    ::close(result[0]);
    char byte;
    if (::read(go[0], &byte, 1) != 1) ::_exit(2);
    std::string report;
    try {
      TComPort second("ComPort2");
      second.SetDeviceDirectory(std::make_shared<platform::DeviceDirectory>());
      second.SetPort(device);
      second.OpenPort();
      report = "opened";
    } catch (const EComPort& e) {
      report = std::to_string(e.ErrorNumber()) + " " + std::to_string(e.WinErrorCode()) + " " + e.Detail();
    }
    (void)!::write(result[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(go[0]);
  ::close(result[1]);

  OpenAt(device, br9600);
  EXPECT_EQ(LockHolder(device), static_cast<long>(::getpid())) << LockPath(device);
  ASSERT_EQ(::write(go[1], "g", 1), 1);
  ::close(go[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(result[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  ::close(result[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(report.rfind("1 " + std::to_string(EBUSY) + " ", 0), 0u) << report;
  EXPECT_NE(report.find(std::to_string(::getpid())), std::string::npos) << "the holder is not named: " << report;
  // The refusal touched nothing of ours: the lock is still this process's and the line works.
  EXPECT_EQ(LockHolder(device), static_cast<long>(::getpid()));
  EXPECT_EQ(RoundTrip("still ours"), "still ours");
  port.ClosePort();
  EXPECT_FALSE(Exists(LockPath(device)));
}

INSTANTIATE_TEST_SUITE_P(Lines, LockTest, ::testing::Values(kUart, kUsb));

// --- low latency ---------------------------------------------------------------------------

class LowLatencyTest : public DriverPortTest, public ::testing::WithParamInterface<const char*> {};

// A USB adapter holds received bytes for its latency timer; the port asks the driver for low
// latency while it is open (the FTDI driver then sets a 1 ms timer) and leaves the device as it
// found it at the close. The 8250 keeps the flag too, so both lines show the request.
TEST_P(LowLatencyTest, AskedForWhileOpenAndPutBackAtTheClose) {
  const std::string device = GetParam();
  const std::string path = DevicePath(device);
  bool on = true;
  ASSERT_EQ(ReadLowLatency(path, on), "");
  ASSERT_FALSE(on) << "the device already had low latency before the test";
  OpenAt(device, br115200);
  ASSERT_EQ(ReadLowLatency(path, on), "");
  EXPECT_TRUE(on) << "low latency was not asked for";
  EXPECT_EQ(RoundTrip("quick"), "quick");
  port.ClosePort();
  ASSERT_EQ(ReadLowLatency(path, on), "");
  EXPECT_FALSE(on) << "the close left low latency on";
}

INSTANTIATE_TEST_SUITE_P(Lines, LowLatencyTest, ::testing::Values(kUart, kUsb));

// --- a port without a chip ------------------------------------------------------------------

// The 8250 driver makes ttyS0 to ttyS3 whether or not a UART answers behind them (the machine
// has two). Opening one without a chip fails with the device named, and leaves nothing behind.
TEST_F(DriverPortTest, APortWithoutAChipIsRefusedAndNamed) {
  const std::string device = "ttyS3";
  ASSERT_TRUE(Exists(DevicePath(device)));
  const Footprint before = SettledFootprint();
  port.SetPort(device);
  try {
    port.OpenPort();
    ADD_FAILURE() << "a port without a chip opened";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), kErrOpen);
    EXPECT_NE(e.Detail().find(DevicePath(device)), std::string::npos) << e.Detail();
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(Exists(LockPath(device)));
  const Footprint after = SettledFootprint();
  EXPECT_EQ(after.descriptors, before.descriptors) << before.what << "\n" << after.what;
  EXPECT_EQ(after.threads, before.threads) << before.what << "\n" << after.what;
}

// --- open and close, many times ------------------------------------------------------------

class CycleTest : public DriverPortTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CycleTest, OpeningAndClosingLeavesNothingBehind) {
  const std::string device = GetParam();
  port.SetPort(device);
  port.SetBaudRate(br115200);
  port.OpenPort();
  port.ClosePort();
  const Footprint before = SettledFootprint();
  // A cycle takes about 15 ms under the machine's software emulation on a quiet host, and up to
  // 90 ms on a busy one: a thousand on each line stay well inside the run's bound.
  constexpr int kCycles = 1000;
  for (int i = 0; i < kCycles; ++i) {
    port.OpenPort();
    ASSERT_TRUE(port.Connected()) << "cycle " << i;
    ASSERT_TRUE(Exists(LockPath(device))) << "cycle " << i;
    port.ClosePort();
    ASSERT_FALSE(Exists(LockPath(device))) << "cycle " << i;
  }
  const Footprint after = SettledFootprint();
  EXPECT_EQ(after.descriptors, before.descriptors) << before.what << "\n" << after.what;
  EXPECT_EQ(after.threads, before.threads) << before.what << "\n" << after.what;
  port.OpenPort();
  EXPECT_EQ(RoundTrip("after the cycles"), "after the cycles");
}

INSTANTIATE_TEST_SUITE_P(Lines, CycleTest, ::testing::Values(kUart, kUsb));

// --- the adapter pulled --------------------------------------------------------------------

// The adapter is pulled while bytes stream both ways. The port reports the loss once, lets go
// of everything it held, and costs nothing afterwards; plugged back, the same port opens it
// again with the same settings and bytes flow.
TEST_F(DriverPortTest, TheAdapterPulledMidFloodIsReleasedAndOpensAgainWhenBack) {
  port.SetCustomBaudRate(230400);
  // A write the lost device never finishes returns after two seconds instead of blocking the loop.
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(2000);
  OpenAt(kUsb, brCustom);
  // The port keeps the event of its blocking calls between them: not part of the device.
  EXPECT_EQ(RoundTrip("warm"), "warm");
  port.ClosePort();
  const Footprint before = SettledFootprint();
  port.OpenPort();
  ASSERT_TRUE(Exists(LockPath(kUsb)));
  std::string block(1024, 'f');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);

  // Stream for a moment, then ask for the pull and keep streaming until the loss is reported.
  size_t received = 0;
  bool asked = false;
  int writeFailures = 0;
  const auto start = std::chrono::steady_clock::now();
  const bool lost = Serve(
      [&] {
        if (losses > 0) return true;
        try {
          if (port.Connected()) {
            port.WriteText(block);
            const int waiting = port.InputQueueCount();
            std::string text;
            if (waiting > 0) received += static_cast<size_t>(port.ReadText(text, waiting));
          }
        } catch (const EComPort&) {
          ++writeFailures;  // the calls made between the loss and its report fail; fine
        }
        if (!asked && std::chrono::steady_clock::now() - start > 500ms) {
          AskHost("unplug");
          asked = true;
        }
        return false;
      },
      30s);
  ASSERT_TRUE(lost) << "the loss was never reported";
  EXPECT_GT(received, 0u) << "nothing flowed before the pull";
  EXPECT_EQ(losses, 1);
  EXPECT_EQ(lossNumber, kErrWaitFailed);
  EXPECT_FALSE(port.Connected());
  // The loss goes to the handler, which tells the operator; nothing else is shown.
  EXPECT_TRUE(shown.empty()) << shown[0];
  EXPECT_NE(lossReason.find(kUsb), std::string::npos) << lossReason;
  EXPECT_FALSE(Exists(LockPath(kUsb))) << "the lock file outlived the device";
  const Footprint released = SettledFootprint();
  EXPECT_EQ(released.descriptors, before.descriptors)
      << "a descriptor of the lost device is still held\n" << before.what << "\n" << released.what;
  EXPECT_EQ(released.threads, before.threads)
      << "a thread of the lost device is still running\n" << before.what << "\n" << released.what;

  // Idle after the loss: no spinning on a dead descriptor.
  const auto cpuBefore = velmora::test::ProcessCpuTime();
  Serve([] { return false; }, 1s);
  EXPECT_LT(velmora::test::ProcessCpuTime() - cpuBefore, 200ms) << "something spins after the loss";
  EXPECT_EQ(losses, 1);
  EXPECT_TRUE(shown.empty());

  AskHost("plug");
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!Exists(DevicePath(kUsb)) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(Exists(DevicePath(kUsb))) << "the adapter did not come back";
  port.OpenPort();
  ASSERT_TRUE(port.Connected());
  KernelLine line;
  ASSERT_EQ(ReadKernelLine(DevicePath(kUsb), line), "");
  EXPECT_EQ(line.Describe(), "230400 8N1");
  // What the host still held from the flood may arrive first; the fresh bytes come after it.
  const std::string fresh = "plugged back in";
  port.WriteText(fresh);
  const std::string text = ReceiveUntil(fresh);
  EXPECT_NE(text.find(fresh), std::string::npos) << Hex(text.substr(text.size() > 48 ? text.size() - 48 : 0));
}

// --- which adapter is at the name ---------------------------------------------------------

// After a pull, the next adapter plugged in gets the kernel name the pulled one had, whichever it
// is. What the reconnect goes by is the adapter's identity in sysfs: another adapter of the same
// make at the name reads as another, the same one plugged back reads as itself.
TEST_F(DriverPortTest, TheAdapterAtTheNameIsKnownByItsIdentity) {
  const std::string path = DevicePath(kUsb);
  const std::optional<platform::DeviceIdentity> first = platform::ReadDeviceIdentity(path);
  ASSERT_TRUE(first.has_value()) << "the FTDI adapter has no identity in sysfs";
  EXPECT_EQ(first->vendorId, "0403");
  EXPECT_EQ(first->productId, "6001");
  auto replug = [&](const char* request) {
    AskHost("unplug");
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (Exists(path) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(Exists(path)) << "the adapter did not go";
    AskHost(request);
    deadline = std::chrono::steady_clock::now() + 30s;
    std::optional<platform::DeviceIdentity> identity;
    while (!(identity = platform::ReadDeviceIdentity(path)) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(50ms);
    return identity;
  };
  const std::optional<platform::DeviceIdentity> other = replug("plug-other");
  ASSERT_TRUE(other.has_value()) << "the other adapter did not come at " << path;
  EXPECT_EQ(other->serial, "VELMORA-OTHER");
  EXPECT_NE(*other, *first) << platform::DescribeIdentity(*other);
  const std::optional<platform::DeviceIdentity> back = replug("plug");
  ASSERT_TRUE(back.has_value()) << "the first adapter did not come back at " << path;
  EXPECT_EQ(*back, *first) << platform::DescribeIdentity(*back) << " / " << platform::DescribeIdentity(*first);
  // The line works again for the tests after this one.
  OpenAt(kUsb, br9600);
  EXPECT_EQ(RoundTrip("same adapter"), "same adapter");
}

// --- the reconnect ------------------------------------------------------------------------

// The console's reconnect on the real driver: the adapter pulled, another adapter of the same
// make plugged in at its name is not opened (and said), the lost one plugged back is reopened
// with its settings and carries bytes.
TEST_F(DriverPortTest, TheReconnectReopensOnlyTheAdapterThatWasLost) {
  int argc = 1;
  char name[] = "test_drivers_guest";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  console::PortReconnector reconnector(port, [this] { port.OpenPort(); });
  int reopened = 0;
  QString foreign;
  QObject::connect(&reconnector, &console::PortReconnector::reopened, [&] { ++reopened; });
  QObject::connect(&reconnector, &console::PortReconnector::foreignDeviceFound,
                   [&](const QString& found, const QString&) { foreign = found; });
  port.OnDeviceLost = [&](TCustomComPort&, const EComPort&) {
    ++losses;
    reconnector.WatchForReturn();
  };
  // The window's loop: the port's deliveries and the reconnector's watch and timers.
  const auto serve = [&](const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until) {
      platform::WaitForOne(port.Sync().Pending(), 10);
      port.Sync().Drain();
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
  };
  port.SetCustomBaudRate(57600);
  OpenAt(kUsb, brCustom);
  reconnector.RememberDevice();

  AskHost("unplug");
  ASSERT_TRUE(serve([&] { return losses == 1; }, 30s)) << "the loss was never reported";
  ASSERT_TRUE(reconnector.IsWatching());
  AskHost("plug-other");
  ASSERT_TRUE(serve([&] { return !foreign.isEmpty(); }, 30s)) << "the other adapter was not told";
  EXPECT_TRUE(foreign.contains("VELMORA-OTHER")) << foreign.toStdString();
  serve([] { return false; }, 3s);  // past the reconnector's retries
  EXPECT_FALSE(port.Connected()) << "another adapter at the name was opened";
  EXPECT_EQ(reopened, 0);
  EXPECT_TRUE(reconnector.IsWatching());

  AskHost("unplug");
  serve([&] { return !Exists(DevicePath(kUsb)); }, 30s);
  AskHost("plug");
  ASSERT_TRUE(serve([&] { return reopened == 1; }, 30s)) << "the lost adapter was not reopened";
  EXPECT_TRUE(port.Connected());
  KernelLine line;
  ASSERT_EQ(ReadKernelLine(DevicePath(kUsb), line), "");
  EXPECT_EQ(line.Describe(), "57600 8N1");
  EXPECT_EQ(RoundTrip("back again"), "back again");
  port.OnDeviceLost = nullptr;
}

}  // namespace
}  // namespace velmora::port
