#include "port/registry_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_folder.h"

namespace velmora::port {
namespace {

using velmora::test::TempFolder;

class RegistryStoreTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  RegistryStore store_{folder_.path()};
};

TEST_F(RegistryStoreTest, ValuesPersistAcrossObjectsWithNamesInAnyCase) {
  ASSERT_TRUE(store_.OpenKey("Software\\Velmora\\ComPort1", true));
  store_.WriteString("Port", "COM3");
  store_.WriteInteger("Buffer.InputSize", -2048);
  store_.WriteString("port", "COM4");  // the same value, renamed in another case

  RegistryStore other(folder_.path());
  ASSERT_TRUE(other.OpenKey("SOFTWARE\\velmora\\comport1", false));
  EXPECT_EQ(other.ReadString("PORT"), "COM4");
  EXPECT_EQ(other.ReadInteger("buffer.inputsize"), -2048);
  EXPECT_TRUE(other.ValueExists("Port"));
}

TEST_F(RegistryStoreTest, AnyBytesRoundTrip) {
  ASSERT_TRUE(store_.OpenKey("K", true));
  const std::string awkward("a=b%41\nn x=1\r\0\xCF\xF0\xE8\xE2\xE5\xF2", 17);
  store_.WriteString(awkward, awkward);
  store_.WriteString("next", "after");
  EXPECT_EQ(store_.ReadString(awkward), awkward);
  EXPECT_EQ(store_.ReadString("next"), "after");
  EXPECT_FALSE(store_.ValueExists("x"));  // the line break in the data made no value "x"
}

TEST_F(RegistryStoreTest, ReadFailuresFollowTheValueKinds) {
  ASSERT_TRUE(store_.OpenKey("K", true));
  store_.WriteString("text", "1");
  store_.WriteInteger("number", 1);
  EXPECT_EQ(store_.ReadString("absent"), "");
  EXPECT_THROW(store_.ReadInteger("absent"), RegistryError);
  EXPECT_THROW(store_.ReadInteger("text"), RegistryError);
  EXPECT_THROW(store_.ReadString("number"), RegistryError);
}

TEST_F(RegistryStoreTest, WithoutAnOpenKeyWritesFailAndReadsAreEmpty) {
  EXPECT_FALSE(store_.HasOpenKey());
  EXPECT_THROW(store_.WriteString("a", "b"), RegistryError);
  EXPECT_THROW(store_.WriteInteger("a", 1), RegistryError);
  EXPECT_EQ(store_.ReadString("a"), "");
  EXPECT_THROW(store_.ReadInteger("a"), RegistryError);
  // Opening without creating fails for a missing key, and leaves no key open.
  EXPECT_FALSE(store_.OpenKey("Missing\\Key", false));
  EXPECT_FALSE(store_.HasOpenKey());
}

TEST_F(RegistryStoreTest, MalformedPathsAreRefused) {
  for (const char* path : {"\\ComPort1", "A\\\\B", "A\\", "\\"}) {
    EXPECT_FALSE(store_.OpenKey(path, true)) << path;
    EXPECT_FALSE(store_.HasOpenKey());
  }
  EXPECT_FALSE(store_.OpenKey(std::string(256, 'k'), true));
  EXPECT_TRUE(store_.OpenKey(std::string(255, 'k'), true));
}

TEST_F(RegistryStoreTest, PathElementsStayInsideTheFolder) {
  const std::filesystem::path inner = folder_ / "store";
  RegistryStore store(inner);
  ASSERT_TRUE(store.OpenKey("..\\..\\escaped", true));
  store.WriteString("v", "x");
  ASSERT_TRUE(store.OpenKey("a/b\\..", true));
  store.WriteString("v", "y");
  // Everything is under the store's folder; nothing appeared beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
  ASSERT_TRUE(store.OpenKey("..\\..\\ESCAPED", false));
  EXPECT_EQ(store.ReadString("v"), "x");
}

TEST_F(RegistryStoreTest, RootsAreSeparateTrees) {
  ASSERT_TRUE(store_.OpenKey("A", true));
  store_.WriteString("v", "user");
  store_.SetRootKey(RegistryStore::Root::kLocalMachine);
  EXPECT_FALSE(store_.HasOpenKey());
  EXPECT_FALSE(store_.OpenKey("A", false));
  ASSERT_TRUE(store_.OpenKey("A", true));
  EXPECT_EQ(store_.ReadString("v"), "");
}

TEST_F(RegistryStoreTest, UnwritableKeyFails) {
  ASSERT_TRUE(store_.OpenKey("A", true));
  // A folder where the values file belongs: the write cannot replace it.
  std::filesystem::create_directory(folder_.path() / "HKEY_CURRENT_USER" / "a" / "@values");
  EXPECT_THROW(store_.WriteString("v", "x"), RegistryError);
}

}  // namespace
}  // namespace velmora::port
