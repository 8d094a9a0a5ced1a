// The path watcher on real folders and pseudo-terminals: it is told of a path appearing through
// its descriptor, with no polling, also when the folders above the path come later.
#include "platform/path_watcher.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "tests/support/process_cpu.h"
#include "tests/support/temp_folder.h"
#include "tests/support/pty_pair.h"

namespace velmora::platform {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;
using test::PtyPair;

bool Readable(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(limit.count())) == 1 && (p.revents & POLLIN);
}

// Waits on the descriptor, as the console's notifier does, until the watcher reports the path.
bool ReportedWithin(PathWatcher& watcher, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!Readable(watcher.Descriptor(), left)) return false;
    if (watcher.TakeChanges()) return true;
  }
  return false;
}

std::unique_ptr<PathWatcher> Watch(const std::string& path) {
  int error = 0;
  std::unique_ptr<PathWatcher> watcher = PathWatcher::Create(path, &error);
  EXPECT_TRUE(watcher) << error;
  return watcher;
}

TEST(PathWatcher, SeesALinkMadeRemovedAndMadeAgainToAPseudoTerminal) {
  TempFolder folder;
  const std::string link = folder.path().string() + "/modem";
  auto watcher = Watch(link);
  ASSERT_TRUE(watcher);
  EXPECT_FALSE(watcher->PathExists());
  EXPECT_FALSE(Readable(watcher->Descriptor(), 0ms));

  PtyPair first;
  ASSERT_EQ(::symlink(first.SlavePath().c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));

  ASSERT_EQ(::unlink(link.c_str()), 0);
  EXPECT_FALSE(watcher->TakeChanges()) << "a removal is not an appearance";
  EXPECT_FALSE(watcher->PathExists());

  PtyPair second;
  ASSERT_EQ(::symlink(second.SlavePath().c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));
}

TEST(PathWatcher, SeesALinkRePointedByRenameAsLnDoes) {
  TempFolder folder;
  const std::string link = folder.path().string() + "/modem";
  PtyPair first, second;
  ASSERT_EQ(::symlink(first.SlavePath().c_str(), link.c_str()), 0);
  auto watcher = Watch(link);
  ASSERT_TRUE(watcher);

  const std::string staging = folder.path().string() + "/.modem.new";
  ASSERT_EQ(::symlink(second.SlavePath().c_str(), staging.c_str()), 0);
  ASSERT_EQ(::rename(staging.c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));
}

TEST(PathWatcher, ALinkThatPointsNowhereIsNotReported) {
  TempFolder folder;
  const std::string link = folder.path().string() + "/modem";
  auto watcher = Watch(link);
  ASSERT_TRUE(watcher);
  ASSERT_EQ(::symlink("/dev/pts/nothing-here", link.c_str()), 0);
  ASSERT_TRUE(Readable(watcher->Descriptor(), 2s));
  EXPECT_FALSE(watcher->TakeChanges());
}

TEST(PathWatcher, OtherNamesInTheFolderAreNotReported) {
  TempFolder folder;
  auto watcher = Watch(folder.path().string() + "/modem");
  ASSERT_TRUE(watcher);
  std::ofstream(folder.path().string() + "/modem2") << "x";
  std::ofstream(folder.path().string() + "/other") << "x";
  ASSERT_TRUE(Readable(watcher->Descriptor(), 2s));
  EXPECT_FALSE(watcher->TakeChanges());
}

TEST(PathWatcher, FollowsFoldersThatAppearOnTheWayAsUdevMakesThem) {
  // /dev/serial/by-id/ goes away with the last USB serial adapter and comes back with the next.
  TempFolder folder;
  const std::string byId = folder.path().string() + "/serial/by-id";
  const std::string link = byId + "/usb-FTDI_FT232R_A10K1234-if00-port0";
  auto watcher = Watch(link);
  ASSERT_TRUE(watcher);

  PtyPair pty;
  ASSERT_EQ(::mkdir((folder.path().string() + "/serial").c_str(), 0755), 0);
  ASSERT_TRUE(Readable(watcher->Descriptor(), 2s));
  EXPECT_FALSE(watcher->TakeChanges());
  ASSERT_EQ(::mkdir(byId.c_str(), 0755), 0);
  ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));

  // The adapter pulled again: the folders go; plugged again: they and the link come back.
  std::filesystem::remove_all(folder.path().string() + "/serial");
  while (Readable(watcher->Descriptor(), 100ms)) watcher->TakeChanges();
  EXPECT_FALSE(watcher->PathExists());
  std::filesystem::create_directories(byId);
  ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));
}

TEST(PathWatcher, SeesAPseudoTerminalNodeMadeAgainUnderTheSameName) {
  // The kernel reuses the lowest free pseudo-terminal number: the path of a closed pair comes
  // back with the next pair, as a replugged adapter's /dev/ttyUSB0 does.
  std::string path;
  {
    PtyPair gone;
    path = gone.SlavePath();
  }
  auto watcher = Watch(path);
  ASSERT_TRUE(watcher);
  std::optional<PtyPair> next;
  next.emplace();
  if (next->SlavePath() != path) GTEST_SKIP() << "the kernel gave another number: " << next->SlavePath();
  EXPECT_TRUE(ReportedWithin(*watcher, 2s));
}

TEST(PathWatcher, WaitingCostsNoProcessorTime) {
  TempFolder folder;
  auto watcher = Watch(folder.path().string() + "/modem");
  ASSERT_TRUE(watcher);
  const auto before = test::ProcessCpuTime();
  EXPECT_FALSE(Readable(watcher->Descriptor(), 500ms));
  EXPECT_LT(test::ProcessCpuTime() - before, 20ms);
}

}  // namespace
}  // namespace velmora::platform
