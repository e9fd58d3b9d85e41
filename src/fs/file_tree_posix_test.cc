#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

TEST(FileTreeTest, ExistenceTests) {
  ScopedTempDir dir;
  WriteFile(dir / "f", "x");
  mkdir((dir / "d").c_str(), 0755);
  EXPECT_EQ(0, symlink((dir / "d").c_str(), (dir / "link_to_d").c_str()));
  EXPECT_TRUE(FileExists(dir / "f"));
  EXPECT_FALSE(FileExists(dir / "d"));
  EXPECT_FALSE(FileExists(""));
  // "*" matches nothing unless a file has that very name.
  EXPECT_FALSE(FileExists(dir / "*"));
  WriteFile(dir / "*", "x");
  mkdir((dir / "star*dir?").c_str(), 0755);
  EXPECT_TRUE(FileExists(dir / "*"));
  EXPECT_FALSE(FileExists(dir / "star*dir?"));
  EXPECT_FALSE(FileExists(dir / "missing"));
  // A link to a folder is an entry of its own.
  EXPECT_TRUE(FileExists(dir / "link_to_d"));
}

TEST(FileTreeTest, ReplaceFileContentsKeepsTheModeAndLeavesNoTemp) {
  ScopedTempDir dir;
  WriteFile(dir / "list", "old");
  chmod((dir / "list").c_str(), 0640);
  EXPECT_TRUE(ReplaceFileContents(dir / "list", "new"));
  EXPECT_EQ("new", ReadFile(dir / "list"));
  EXPECT_EQ(0640u, ModeOf(dir / "list"));
  Status failed = ReplaceFileContents(dir / "no/such/list", "x");
  EXPECT_FALSE(failed.ok());
  EXPECT_FALSE(failed.message().empty());
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(1, entries);
}

TEST(ListingTest, MasksMatchRegardlessOfCase) {
  struct Case {
    const char* mask;
    const char* name;
    bool match;
  } cases[] = {
      {"*.*", "README", true},
      {"*.*", ".profile", true},
      {"*.zip", "A.ZIP", true},
      {"*.zip", "a.zip.bak", false},
      {"?.zip", "ab.zip", false},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"readme.*", "readme", true},
      {"*", "x", true},
      {"*.tar.gz", "x.TAR.GZ", true},
      {"[x].zip", "[x].zip", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.match, MatchesMask(c.mask, c.name))
        << c.mask << " / " << c.name;
  }
}

}  // namespace
}  // namespace zavo
