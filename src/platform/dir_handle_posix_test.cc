#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/dir_handle.h"
#include "platform/process.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// Each case runs with openat2 and with the part-by-part fallback: both must
// refuse every way out and every link, at any depth.
class BeneathTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { UseOpenat2(GetParam()); }
  void TearDown() override { UseOpenat2(true); }
};

TEST_P(BeneathTest, OpensOnlyWhatLiesBelowWithoutLinks) {
  ScopedTempDir dir;
  mkdir((dir / "top").c_str(), 0700);
  mkdir((dir / "top/sub").c_str(), 0700);
  mkdir((dir / "outside").c_str(), 0700);
  WriteFile(dir / "top/sub/a.txt", "a");
  WriteFile(dir / "outside/secret", "s");
  EXPECT_EQ(0, symlink((dir / "outside").c_str(), (dir / "top/out").c_str()));
  EXPECT_EQ(0, symlink("sub", (dir / "top/inner").c_str()));
  EXPECT_EQ(0, symlink((dir / "outside/secret").c_str(),
                       (dir / "top/sub/key").c_str()));
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir / "top", &top));
  HeldFile file;
  EXPECT_TRUE(top.OpenFile("sub/a.txt", &file));
  EXPECT_TRUE(top.OpenFile("./sub//a.txt", &file));
  const char* refused[] = {"out/secret",
                           "inner/a.txt",
                           "sub/key",
                           "../outside/secret",
                           "sub/../../outside/secret",
                           "/etc/passwd",
                           ""};
  for (const char* path : refused) {
    EXPECT_FALSE(top.OpenFile(path, &file)) << path;
  }
  HeldFolder sub;
  EXPECT_TRUE(top.OpenFolder("sub", &sub));
  EXPECT_FALSE(top.OpenFolder("out", &sub));
  EXPECT_FALSE(top.OpenFolder("inner", &sub));
  EXPECT_FALSE(top.OpenFolder("..", &sub));
  // The user's own path may go through links; what lies below may not.
  HeldFolder linked;
  ASSERT_TRUE(HeldFolder::Open(dir / "top/out", &linked));
  EXPECT_TRUE(linked.OpenFile("secret", &file));
}

INSTANTIATE_TEST_SUITE_P(Openat2AndFallback, BeneathTest,
                         ::testing::Values(true, false));

TEST(HeldFolderTest, NewEntriesAreExclusiveAndGetExactModes) {
  ScopedTempDir dir;
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  mode_t old_mask = umask(0);
  HeldFolder work;
  bool exists = true;
  ASSERT_TRUE(top.NewFolder("w.tmp", 0700, &work, &exists));
  EXPECT_FALSE(exists);
  HeldFile file;
  ASSERT_TRUE(work.NewFile("new.7z", 0640, &file));
  umask(077);
  HeldFile file2;
  ASSERT_TRUE(work.NewFile("other.7z", 0664, &file2));
  umask(old_mask);
  struct stat st;
  stat((dir / "w.tmp").c_str(), &st);
  EXPECT_EQ(0700u, st.st_mode & 07777);
  stat((dir / "w.tmp/new.7z").c_str(), &st);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  stat((dir / "w.tmp/other.7z").c_str(), &st);
  EXPECT_EQ(0664u, st.st_mode & 07777);

  // Taken names: a folder, a file, a link to a folder, a dangling link.
  mkdir((dir / "elsewhere").c_str(), 0755);
  EXPECT_EQ(0, symlink((dir / "elsewhere").c_str(), (dir / "l.tmp").c_str()));
  EXPECT_EQ(0, symlink((dir / "nowhere").c_str(), (dir / "d.tmp").c_str()));
  for (const char* name : {"w.tmp", "l.tmp", "d.tmp"}) {
    HeldFolder again;
    EXPECT_FALSE(top.NewFolder(name, 0700, &again, &exists)) << name;
    EXPECT_TRUE(exists) << name;
  }
  EXPECT_FALSE(top.NewFile("d.tmp", 0600, &file));
  EXPECT_FALSE(Exists(dir / "nowhere"));
  EXPECT_FALSE(top.NewFolder("a/b", 0700, &work, &exists));
}

TEST(HeldFolderTest, RemoveTreeNeverLeavesThroughLinksOrSwaps) {
  ScopedTempDir dir;
  mkdir((dir / "outside").c_str(), 0700);
  WriteFile(dir / "outside/keep", "k");
  mkdir((dir / "w").c_str(), 0700);
  mkdir((dir / "w/a").c_str(), 0700);
  mkdir((dir / "w/a/locked").c_str(), 0700);
  WriteFile(dir / "w/a/locked/f", "f");
  chmod((dir / "w/a/locked").c_str(), 0);
  mkdir((dir / "w/a/ro").c_str(), 0700);
  WriteFile(dir / "w/a/ro/f", "f");
  chmod((dir / "w/a/ro").c_str(), 0500);
  EXPECT_EQ(
      0, symlink((dir / "outside").c_str(), (dir / "w/a/to-outside").c_str()));
  EXPECT_EQ(
      0, symlink((dir / "outside/keep").c_str(), (dir / "w/to-keep").c_str()));
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));

  // The held sub-folder is moved away and a link to the outside takes its
  // name: emptying through the descriptor clears the moved folder only.
  HeldFolder a;
  ASSERT_TRUE(top.OpenFolder("w/a", &a));
  ASSERT_EQ(0, rename((dir / "w/a").c_str(), (dir / "moved").c_str()));
  EXPECT_EQ(0, symlink((dir / "outside").c_str(), (dir / "w/a").c_str()));
  EXPECT_TRUE(a.RemoveChildren());
  EXPECT_FALSE(Exists(dir / "moved/locked"));
  EXPECT_FALSE(Exists(dir / "moved/to-outside"));

  EXPECT_TRUE(top.RemoveTree("w"));
  EXPECT_FALSE(Exists(dir / "w"));
  EXPECT_EQ("k", ReadText(dir / "outside/keep"));
  EXPECT_TRUE(top.RemoveTree("missing"));
}

TEST(HeldFolderTest, RenameBetweenHeldFoldersWithAndWithoutReplacing) {
  ScopedTempDir dir;
  mkdir((dir / "w").c_str(), 0700);
  WriteFile(dir / "w/new.7z", "new");
  WriteFile(dir / "w/second.7z", "2");
  WriteFile(dir / "a.7z", "taken");
  HeldFolder top, work;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  ASSERT_TRUE(top.OpenFolder("w", &work));
  bool taken = false;
  EXPECT_FALSE(work.Rename("new.7z", top, "a.7z", false, &taken));
  EXPECT_TRUE(taken);
  EXPECT_EQ("taken", ReadText(dir / "a.7z"));
  EXPECT_TRUE(work.Rename("new.7z", top, "a.7z", true, &taken));
  EXPECT_EQ("new", ReadText(dir / "a.7z"));
  EXPECT_TRUE(work.Rename("second.7z", top, "b.7z", false, &taken));
  EXPECT_FALSE(taken);
  EXPECT_TRUE(top.Sync());
  EXPECT_EQ("2", ReadText(dir / "b.7z"));
}

// A child reads the held file and starts in the held folder even after
// both names were given to something else.
TEST(HeldFolderTest, ChildrenUseTheHeldFileAndFolderNotTheNames) {
  ScopedTempDir dir;
  mkdir((dir / "w").c_str(), 0700);
  WriteFile(dir / "a.zip", "listed");
  HeldFolder top, work;
  HeldFile file;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  ASSERT_TRUE(top.OpenFolder("w", &work));
  ASSERT_TRUE(top.OpenFile("a.zip", &file));
  ASSERT_EQ(0, rename((dir / "a.zip").c_str(), (dir / "b.zip").c_str()));
  WriteFile(dir / "a.zip", "swapped");
  ASSERT_EQ(0, rename((dir / "w").c_str(), (dir / "w2").c_str()));
  mkdir((dir / "w").c_str(), 0700);
  ChildSpec launch;
  launch.command = "cat " + file.ChildPath() + " > out";
  work.StartChildHere(&launch);
  launch.inherit = {file.handle()};
  ProcessResult r = RunChild(launch);
  EXPECT_EQ(0, r.Code()) << r.error;
  EXPECT_EQ("listed", ReadText(dir / "w2/out"));
  EXPECT_FALSE(Exists(dir / "w/out"));
  EntryStatus status;
  ASSERT_TRUE(file.Stat(&status));
  EntryStatus now;
  ASSERT_TRUE(top.Stat("b.zip", &now));
  EXPECT_TRUE(status.identity == now.identity);
  ASSERT_TRUE(top.Stat("a.zip", &now));
  EXPECT_FALSE(status.identity == now.identity);
}

// A claimed folder is live to anyone who opens it; once its holder is gone
// it is a proven leftover, to one run at a time; a folder never claimed is
// not proven.
TEST(WorkClaimTest, TellsLiveWorkFromProvenLeftovers) {
  ScopedTempDir dir;
  HeldFolder parent;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &parent));
  HeldFolder work;
  ASSERT_TRUE(parent.NewFolder("1a2b3c4d.tmp", 0700, &work, nullptr));
  ASSERT_TRUE(work.ClaimWork());
  HeldFolder met;
  ASSERT_TRUE(parent.OpenFolder("1a2b3c4d.tmp", &met));
  EXPECT_EQ(LeftoverCheck::kLive, met.CheckLeftover());
  work.Close();
  EXPECT_EQ(LeftoverCheck::kProven, met.CheckLeftover());
  // While one run acts on it, another one that meets it keeps away.
  HeldFolder second;
  ASSERT_TRUE(parent.OpenFolder("1a2b3c4d.tmp", &second));
  EXPECT_EQ(LeftoverCheck::kLive, second.CheckLeftover());
  met.Close();
  EXPECT_EQ(LeftoverCheck::kProven, second.CheckLeftover());
  second.Close();
  // Others who may write in it may have set the mark.
  HeldFolder open_to_all;
  ASSERT_TRUE(parent.OpenFolder("1a2b3c4d.tmp", &open_to_all));
  ASSERT_TRUE(open_to_all.SetMode(0720));
  EXPECT_EQ(LeftoverCheck::kUnproven, open_to_all.CheckLeftover());

  mkdir((dir / "0badf00d.tmp").c_str(), 0700);
  HeldFolder plain;
  ASSERT_TRUE(parent.OpenFolder("0badf00d.tmp", &plain));
  EXPECT_EQ(LeftoverCheck::kUnproven, plain.CheckLeftover());

  // A live run's folder without the mark (a file system without it) is
  // still live; once that run is gone it is not proven.
  HeldFolder unmarked;
  ASSERT_TRUE(parent.NewFolder("2b3c4d5e.tmp", 0700, &unmarked, nullptr));
  ASSERT_TRUE(unmarked.ClaimWork());
  removexattr((dir / "2b3c4d5e.tmp").c_str(), "user.zavo.work");
  HeldFolder seen;
  ASSERT_TRUE(parent.OpenFolder("2b3c4d5e.tmp", &seen));
  EXPECT_EQ(LeftoverCheck::kLive, seen.CheckLeftover());
  unmarked.Close();
  EXPECT_EQ(LeftoverCheck::kUnproven, seen.CheckLeftover());
}

// The kinds come from the folder's own entries here, not from a query of
// each entry: a link to a folder must still read as a link, or the scan
// would descend through it.
TEST(ListingKindsTest, TellsFilesFoldersAndLinksApart) {
  ScopedTempDir dir;
  WriteFile(dir / "a.zip", "x");
  WriteFile(dir / ".hidden.zip", "x");
  mkdir((dir / "sub.zip").c_str(), 0777);
  EXPECT_EQ(
      0, symlink((dir / "sub.zip").c_str(), (dir / "to-folder.zip").c_str()));
  EXPECT_EQ(0, symlink((dir / "a.zip").c_str(), (dir / "to-file.zip").c_str()));
  EXPECT_EQ(0, symlink((dir / "none").c_str(), (dir / "dangling.zip").c_str()));
  mkfifo((dir / "pipe.zip").c_str(), 0666);
  HeldFolder folder;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &folder));
  for (bool kinds_only : {true, false}) {
    std::vector<DirEntry> entries;
    ASSERT_TRUE(folder.List(&entries, kinds_only));
    std::map<std::string, std::uint32_t> seen;
    for (const DirEntry& e : entries) seen[e.name] = e.attributes;
    ASSERT_EQ(7u, seen.size());
    const std::uint32_t kKinds = kAttrFolder | kAttrLink | kAttrArchive;
    EXPECT_EQ(kAttrArchive, seen["a.zip"] & kKinds);
    EXPECT_EQ(kAttrArchive | kAttrHidden, seen[".hidden.zip"]);
    EXPECT_EQ(kAttrFolder, seen["sub.zip"]);
    EXPECT_EQ(kAttrLink, seen["to-folder.zip"]);
    EXPECT_EQ(kAttrLink, seen["to-file.zip"]);
    EXPECT_EQ(kAttrLink, seen["dangling.zip"]);
    EXPECT_EQ(kAttrArchive, seen["pipe.zip"] & kKinds);
  }
}

}  // namespace
}  // namespace zavo
