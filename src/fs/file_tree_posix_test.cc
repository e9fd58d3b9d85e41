#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
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

bool IsLink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
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
  EXPECT_TRUE(FolderExists(dir / "star*dir?"));
  EXPECT_FALSE(FolderExists(dir / "star*"));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_TRUE(FolderExists(dir / "d"));
  EXPECT_TRUE(FolderExists(dir / "d/"));
  EXPECT_TRUE(FolderExists(""));
  EXPECT_TRUE(FolderExists("/"));
  EXPECT_FALSE(FolderExists(dir / "f"));
  // A link to a folder stands for it in a path, but is an entry of its own.
  EXPECT_TRUE(FolderExists(dir / "link_to_d"));
  EXPECT_TRUE(FileExists(dir / "link_to_d"));
}

TEST(FileTreeTest, ForceFoldersMakesTheFolderPart) {
  ScopedTempDir dir;
  EXPECT_TRUE(ForceFolders(dir / "a/b/"));
  EXPECT_TRUE(FolderExists(dir / "a/b"));
  EXPECT_TRUE(ForceFolders(dir / "a/b/"));
  EXPECT_TRUE(ForceFolders(dir / "c/file"));
  EXPECT_TRUE(FolderExists(dir / "c"));
  EXPECT_FALSE(FolderExists(dir / "c/file"));
  EXPECT_TRUE(ForceFolders(dir / "e//f/"));
  EXPECT_TRUE(FolderExists(dir / "e/f"));
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(ForceFolders(dir / "file/sub/"));
  // Through a link to a folder, as a user's path may go.
  mkdir((dir / "real").c_str(), 0755);
  EXPECT_EQ(0, symlink((dir / "real").c_str(), (dir / "via").c_str()));
  EXPECT_TRUE(ForceFolders(dir / "via/new/"));
  EXPECT_TRUE(FolderExists(dir / "real/new"));
}

TEST(FileTreeTest, CopyKeepsTimeAndModeAndNeverWritesThroughALink) {
  ScopedTempDir dir;
  ScopedTempDir outside;
  WriteFile(dir / "src", "data");
  chmod((dir / "src").c_str(), 0444);
  FileTime t{946684800, 123456789};
  ASSERT_TRUE(SetFileTime(dir / "src", t));
  WriteFile(outside / "victim", "untouched");
  EXPECT_EQ(0, symlink((outside / "victim").c_str(), (dir / "dst").c_str()));

  EXPECT_TRUE(CopyFileTo(dir / "src", dir / "dst", false));
  EXPECT_FALSE(IsLink(dir / "dst"));
  EXPECT_EQ("data", ReadFile(dir / "dst"));
  EXPECT_EQ("untouched", ReadFile(outside / "victim"));
  EXPECT_EQ(0444u, ModeOf(dir / "dst"));
  EXPECT_EQ(0444u, ModeOf(dir / "src"));
  FileTime copied;
  ASSERT_TRUE(GetFileTime(dir / "dst", &copied));
  EXPECT_EQ(t.seconds, copied.seconds);
  EXPECT_EQ(t.nanoseconds, copied.nanoseconds);

  // Onto an existing read-only file nothing is written.
  WriteFile(dir / "other", "new");
  EXPECT_FALSE(CopyFileTo(dir / "other", dir / "dst", false));
  EXPECT_EQ("data", ReadFile(dir / "dst"));
  // The same path, and a missing source, do nothing.
  EXPECT_FALSE(CopyFileTo(dir / "other", dir / "other", false));
  EXPECT_FALSE(CopyFileTo(dir / "missing", dir / "x", false));
  EXPECT_FALSE(FileExists(dir / "x"));
}

TEST(FileTreeTest, CopyHandlesBlockSizes) {
  ScopedTempDir dir;
  for (std::size_t size : {0u, 65534u, 65535u, 65536u, 200000u}) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7);
    WriteFile(dir / "s", data);
    ASSERT_TRUE(CopyFileTo(dir / "s", dir / "d", false)) << size;
    EXPECT_EQ(data, ReadFile(dir / "d")) << size;
  }
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
  std::unique_ptr<DirectoryListing> listing;
  ASSERT_TRUE(ListFolder(dir / "*.*", &listing));
  DirEntry e;
  while (listing->Next(&e)) ++entries;
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

TEST(ListingTest, ReportsFoldersLinksAndReadOnlyFiles) {
  ScopedTempDir dir;
  WriteFile(dir / "a.zip", "x");
  WriteFile(dir / "ro.zip", "x");
  chmod((dir / "ro.zip").c_str(), 0444);
  ForceFolders(dir / "BACKUP.ZIP/");
  EXPECT_EQ(0, symlink((dir / "BACKUP.ZIP").c_str(), (dir / "l.zip").c_str()));
  std::unique_ptr<DirectoryListing> listing;
  ASSERT_TRUE(ListFolder(dir / "*.zip", &listing));
  std::map<std::string, std::uint32_t> seen;
  DirEntry e;
  while (listing->Next(&e)) seen[e.name] = e.attributes;
  ASSERT_EQ(4u, seen.size());
  EXPECT_EQ(kAttrArchive, seen["a.zip"]);
  EXPECT_EQ(kAttrArchive | kAttrReadOnly, seen["ro.zip"]);
  EXPECT_EQ(kAttrFolder, seen["BACKUP.ZIP"]);
  EXPECT_EQ(kAttrLink, seen["l.zip"]);
  EXPECT_TRUE(ListFolder(dir / "missing/*.*", &listing).missing());
}

}  // namespace
}  // namespace zavo
