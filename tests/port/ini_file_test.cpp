#include "port/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/watchdog.h"

namespace velmora::port {
namespace {

using velmora::test::ReadFileBytes;
using velmora::test::TempFolder;
using velmora::test::WriteFileBytes;

class IniFileTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::filesystem::path path_ = folder_ / "ZORVA.INI";
  IniFile ini_{path_};
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
  EXPECT_EQ(ini_.ReadString("ComPort1", "Port", "COM1"), "COM1");
  EXPECT_EQ(ini_.ReadInteger("ComPort1", "CustomBaudRate", 9600), 9600);
  EXPECT_FALSE(std::filesystem::exists(path_));

  ini_.WriteString("Velmora", "RTS/CTS", "1");
  ini_.WriteInteger("Velmora", "TxDelay", -5);
  ini_.WriteString("Velmora", "Editor", "");
  EXPECT_EQ(ReadFileBytes(path_), "[Velmora]\nRTS/CTS=1\nTxDelay=-5\nEditor=\n");
  EXPECT_EQ(ini_.ReadString("Velmora", "Editor", "x"), "");  // present and empty is not absent
}

TEST_F(IniFileTest, NoCachingBetweenCalls) {
  IniFile other(path_);
  ini_.WriteString("S", "K", "one");
  EXPECT_EQ(other.ReadString("S", "K", ""), "one");
  WriteFileBytes(path_, "[S]\nK=two\n");
  EXPECT_EQ(ini_.ReadString("S", "K", ""), "two");
}

TEST_F(IniFileTest, IntegersAcceptHexAndFallBackOnAnythingElse) {
  WriteFileBytes(path_,
                 "[S]\nhex=0x400\nHEX2=0X10\ndollar=$10\nneg=-7\nbad=abc\nempty=\nspaced=  12  \n"
                 "trailing=12abc\nhuge=99999999999\n");
  EXPECT_EQ(ini_.ReadInteger("S", "hex", 1), 1024);
  EXPECT_EQ(ini_.ReadInteger("S", "hex2", 1), 16);
  EXPECT_EQ(ini_.ReadInteger("S", "dollar", 1), 16);
  EXPECT_EQ(ini_.ReadInteger("S", "neg", 1), -7);
  EXPECT_EQ(ini_.ReadInteger("S", "bad", 1), 1);
  EXPECT_EQ(ini_.ReadInteger("S", "empty", 1), 1);
  EXPECT_EQ(ini_.ReadInteger("S", "spaced", 1), 12);
  EXPECT_EQ(ini_.ReadInteger("S", "trailing", 1), 1);
  EXPECT_EQ(ini_.ReadInteger("S", "huge", 1), 1);
}

TEST_F(IniFileTest, NamesIgnoreLetterCaseAndValuesAreTrimmedAndUnquoted) {
  WriteFileBytes(path_,
                 "[comport1]\n  port  =  COM7  \nPARITY.CHECK=Yes\nq1=\"  quoted  \"\nq2='x'\n"
                 "q3=\"half\n[ Velmora ]\nrts/cts=1\n");
  EXPECT_EQ(ini_.ReadString("ComPort1", "Port", ""), "COM7");
  EXPECT_EQ(ini_.ReadString("COMPORT1", "Parity.Check", ""), "Yes");
  EXPECT_EQ(ini_.ReadString("ComPort1", "q1", ""), "  quoted  ");
  EXPECT_EQ(ini_.ReadString("ComPort1", "q2", ""), "x");
  EXPECT_EQ(ini_.ReadString("ComPort1", "q3", ""), "\"half");
  EXPECT_EQ(ini_.ReadString("Velmora", "RTS/CTS", ""), "1");
  // A key belongs to its own section only.
  EXPECT_EQ(ini_.ReadString("Velmora", "Port", "none"), "none");
}

TEST_F(IniFileTest, WindowsFileReadsTheSameAndKeepsItsLineEnds) {
  // CRLF line ends, CP1251 bytes ("Редактор" in a comment and a path), a byte-order mark.
  const std::string windows =
      "\xEF\xBB\xBF[Velmora]\r\n; \xD0\xE5\xE4\xE0\xEA\xF2\xEE\xF0\r\n"
      "Editor=C:\\\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB\\view.exe\r\nCRLF=1\r\n\r\n"
      "[ComPort1]\r\nPort=COM3\r\n";
  WriteFileBytes(path_, windows);
  EXPECT_EQ(ini_.ReadString("Velmora", "Editor", ""), "C:\\\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB\\view.exe");
  EXPECT_EQ(ini_.ReadInteger("Velmora", "CRLF", 0), 1);
  EXPECT_EQ(ini_.ReadString("ComPort1", "Port", ""), "COM3");

  ini_.WriteString("velmora", "crlf", "2");
  ini_.WriteString("Velmora", "TxDelay", "5");
  ini_.WriteString("Other", "A", "b");
  EXPECT_EQ(ReadFileBytes(path_),
            "\xEF\xBB\xBF[Velmora]\r\n; \xD0\xE5\xE4\xE0\xEA\xF2\xEE\xF0\r\n"
            "Editor=C:\\\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xFB\\view.exe\r\nCRLF=2\r\nTxDelay=5\r\n\r\n"
            "[ComPort1]\r\nPort=COM3\r\n\r\n[Other]\r\nA=b\r\n");
}

TEST_F(IniFileTest, WriteKeepsEverythingElse) {
  const std::string before =
      "; settings\n\n[ComPort1]\nPort = COM1\n; the speed\nBaudRate=9600\n\n"
      "; console options follow\n[Velmora]\nRTS/CTS=1\nnot a key line\n[comport1]\nLate=1";
  WriteFileBytes(path_, before);
  ini_.WriteString("COMPORT1", "port", "ttyUSB0");      // spelling and " = " of the file stay
  ini_.WriteString("ComPort1", "StopBits", "1");        // after the section's last key
  ini_.WriteString("ComPort1", "Late", "2");            // a key of a repeated section
  ini_.WriteString("Velmora", "Editor", "/usr/bin/xdg-open");
  EXPECT_EQ(ReadFileBytes(path_),
            "; settings\n\n[ComPort1]\nPort = ttyUSB0\n; the speed\nBaudRate=9600\nStopBits=1\n\n"
            "; console options follow\n[Velmora]\nRTS/CTS=1\nEditor=/usr/bin/xdg-open\nnot a key line\n"
            "[comport1]\nLate=2");
}

TEST_F(IniFileTest, NewKeyAfterHeaderWithoutLineEnd) {
  WriteFileBytes(path_, "[S]");
  ini_.WriteString("S", "K", "v");
  EXPECT_EQ(ReadFileBytes(path_), "[S]\nK=v\n");
  WriteFileBytes(path_, "x=1");
  ini_.WriteString("S", "K", "v");
  EXPECT_EQ(ReadFileBytes(path_), "x=1\n\n[S]\nK=v\n");
}

TEST_F(IniFileTest, UnwritableFileFailsAndLeavesNoTrace) {
  IniFile inMissingFolder(folder_ / "no-such-folder" / "ZORVA.INI");
  try {
    inMissingFolder.WriteString("S", "K", "v");
    FAIL() << "no error";
  } catch (const IniFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + (folder_ / "no-such-folder" / "ZORVA.INI").string());
  }
  std::filesystem::create_directory(path_);  // a folder where the file should be
  EXPECT_THROW(ini_.WriteString("S", "K", "v"), IniFileError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST_F(IniFileTest, TextsThatWouldBreakTheFileAreRefused) {
  WriteFileBytes(path_, "[S]\nK=v\n");
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } refused[] = {{"S", "K", "a\nInjected=1"}, {"S", "K", "a\r"}, {"S", "A=B", "v"},
                 {"S", "[T]", "v"},          {"S", ";c", "v"},  {"S", "", "v"},
                 {"", "K", "v"},             {"S]", "K", "v"},  {"S", " K", "v"},
                 {"S\n[T", "K", "v"}};
  for (const auto& r : refused) {
    EXPECT_THROW(ini_.WriteString(r.section, r.key, r.value), IniFileError) << r.section << "/" << r.key;
  }
  EXPECT_EQ(ReadFileBytes(path_), "[S]\nK=v\n");
}

TEST_F(IniFileTest, ReplacingKeepsPermissionsAndSymbolicLinks) {
  const std::filesystem::path real = folder_ / "real.ini";
  WriteFileBytes(real, "[S]\nK=1\n");
  ::chmod(real.c_str(), 0600);
  std::filesystem::create_symlink("real.ini", path_);
  ini_.WriteString("S", "K", "2");
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFileBytes(real), "[S]\nK=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the file and the link: the temporary file was renamed, not left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 2);
}

// What stands in the file's place and is no settings file reads as empty at once and is never
// written over: a FIFO (no writer: an open that waited for one would hold the window for ever),
// a device that never ends, a file too large to be one.
TEST_F(IniFileTest, WhatIsNoSettingsFileReadsAsEmptyAndIsNotReplaced) {
  const struct {
    const char* what;
    int error;
  } cases[] = {{"fifo", EINVAL}, {"device", EINVAL}, {"too large", EFBIG}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(path_);
    const std::string what = c.what;
    if (what == "fifo") {
      ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    }
    if (what == "device") std::filesystem::create_symlink("/dev/zero", path_);
    const std::string large = "[S]\nK=big\n" + std::string(kLargestIniFile, ';');
    if (what == "too large") WriteFileBytes(path_, large);
    const velmora::test::Watchdog bound(std::chrono::seconds(10), "reading the settings file");
    EXPECT_EQ(ini_.ReadString("S", "K", "default"), "default");
    EXPECT_FALSE(ini_.ValueExists("S", "K"));
    EXPECT_EQ(ini_.ReadError(), c.error);
    EXPECT_THROW(ini_.WriteString("S", "K", "v"), IniFileError);
    if (what == "too large") {
      EXPECT_EQ(ReadFileBytes(path_), large);
    }
    if (what == "fifo") {
      EXPECT_EQ(std::filesystem::status(path_).type(), std::filesystem::file_type::fifo);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
  }
  std::filesystem::remove(path_);
  WriteFileBytes(path_, "[S]\nK=v\n" + std::string(kLargestIniFile - 8, ';'));  // at the bound
  EXPECT_EQ(ini_.ReadString("S", "K", ""), "v");
  EXPECT_EQ(ini_.ReadError(), 0);
}

// The file's rules keep links: a link that leads nowhere yet is where the file is to be made.
TEST_F(IniFileTest, DanglingLinkGetsItsFileMade) {
  std::filesystem::create_directory(folder_ / "real");
  std::filesystem::create_symlink("real/zorva.ini", path_);
  ini_.WriteString("S", "K", "1");
  EXPECT_TRUE(std::filesystem::is_symlink(path_));
  EXPECT_EQ(ReadFileBytes(folder_ / "real" / "zorva.ini"), "[S]\nK=1\n");
  EXPECT_EQ(ini_.ReadString("S", "K", ""), "1");
  // A loop of links is refused, not followed round.
  std::filesystem::remove(path_);
  std::filesystem::create_symlink("ZORVA.INI", path_);
  EXPECT_THROW(ini_.WriteString("S", "K", "2"), IniFileError);
}

// A save made as root (the console started with sudo) leaves the user's file the user's.
TEST_F(IniFileTest, ReplacementKeepsOwnerAndGroup) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  WriteFileBytes(path_, "[S]\nK=1\n");
  ::chmod(path_.c_str(), 0600);
  ASSERT_EQ(::chown(path_.c_str(), 65534, 65534), 0);
  ini_.WriteString("S", "K", "2");
  struct stat st {};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReadFileBytes(path_), "[S]\nK=2\n");
}

TEST(IniText, SetThenFindAgreeOnAwkwardContent) {
  const std::string contents[] = {"", "\n", "[S", "[s]\r\nk\r\n", "k=v\n[S]\n", "[S]\n[S]\nK=x\n",
                                  "\xEF\xBB\xBF[S]\nK=1", "[S]\n;K=1\n", "[T]\nK=1\n[S]\n"};
  for (const std::string& content : contents) {
    const std::string updated = SetIniValue(content, "S", "K", "new");
    EXPECT_EQ(FindIniValue(updated, "s", "k"), "new") << content;
  }
  EXPECT_EQ(FindIniValue("[T]\nK=1\n[S]\n", "T", "K"), "1");
  EXPECT_EQ(FindIniValue(SetIniValue("[T]\nK=1\n[S]\n", "S", "K", "2"), "T", "K"), "1");
}

}  // namespace
}  // namespace velmora::port
