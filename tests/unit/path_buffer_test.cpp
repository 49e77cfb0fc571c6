#include "common/path_buffer.h"

#include "fixture.h"

#include <string>

namespace {

// Pure functions; the fixture still checks that they touch nothing of the machine.
class PathBufferTest : public SimTest {};

TEST_F(PathBufferTest, FormatFillsPlaceholdersInOrder) {
  PathBuffer path;
  ASSERT_TRUE(FormatPath(path, "%s\\3\\%s", "C:\\drivers", "a.dll"));
  EXPECT_STREQ(path, "C:\\drivers\\3\\a.dll");
  ASSERT_TRUE(FormatPath(path, "%splugins\\creator\\%s", "\\", "b.dll"));
  EXPECT_STREQ(path, "\\plugins\\creator\\b.dll");
}

TEST_F(PathBufferTest, FormatTakes259CharactersAndRefuses260) {
  PathBuffer path;
  const std::string dir(259 - 6, 'd');
  ASSERT_TRUE(FormatPath(path, "%s\\%s", dir.c_str(), "a.dll"));
  EXPECT_EQ(std::string(path).size(), 259u);
  EXPECT_FALSE(FormatPath(path, "%s\\%s", dir.c_str(), "ab.dll"));
  EXPECT_STREQ(path, "") << "a refused path must not be left half-written";
}

TEST_F(PathBufferTest, AppendLeavesTheBufferUnchangedWhenItDoesNotFit) {
  PathBuffer path;
  ASSERT_TRUE(CopyPath(path, std::string(250, 'x').c_str()));
  EXPECT_FALSE(AppendPath(path, "0123456789"));
  EXPECT_EQ(std::string(path), std::string(250, 'x'));
  EXPECT_TRUE(AppendPath(path, "012345678"));
  EXPECT_EQ(std::string(path).size(), 259u);
}

TEST_F(PathBufferTest, AppendNeverReadsPastAnUnterminatedBuffer) {
  PathBuffer path;
  memset(path, 'x', sizeof path);
  EXPECT_FALSE(AppendPath(path, "y"));
}

TEST_F(PathBufferTest, CopyRefusesATextOf260Characters) {
  PathBuffer path;
  EXPECT_FALSE(CopyPath(path, std::string(260, 'x').c_str()));
  EXPECT_STREQ(path, "");
  EXPECT_TRUE(CopyPath(path, std::string(259, 'x').c_str()));
}

}  // namespace
