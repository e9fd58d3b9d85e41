#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "run/run_folders.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

TEST(RunFoldersTest, ShardsSplitTheTreeBelowTheMasksFolder) {
  RunOptions options;
  options.shard_count = 3;
  RunFolders folders(options);
  for (const char* folder : {"", "a", "a/b", "c/d/e"}) {
    for (int shard = 1; shard <= 3; ++shard) {
      options.shard_index = shard;
      EXPECT_EQ(ShardOfFolder(folder, 3) == shard, folders.InShard(folder))
          << folder << " shard " << shard;
    }
  }
}

TEST(RunFoldersTest, FolderHeldByAnotherRunIsNamedAndLeft) {
  ScopedTempDir dir;
  std::filesystem::create_directory(dir / "held");
  std::filesystem::create_directory(dir / "idle");
  HeldFolder held, idle;
  ASSERT_TRUE(HeldFolder::Open(dir / "held", &held));
  ASSERT_TRUE(HeldFolder::Open(dir / "idle", &idle));
  std::ostringstream out, err;
  StreamSink sink(out, err);
  std::unique_ptr<FolderLock> other;
  ASSERT_TRUE(RunFolders::TakeLock(held, dir / "held/", &sink, &other));

  RunOptions options;
  RunFolders folders(options);
  folders.Start(&sink);
  std::unique_ptr<FolderLock> lock;
  bool ours = RunFolders::TakeLock(held, dir / "held/", &sink, &lock);
  EXPECT_FALSE(ours);
  folders.Enter(std::move(held), dir / "held/", std::move(lock), ours);
  ours = RunFolders::TakeLock(idle, dir / "idle/", &sink, &lock);
  EXPECT_TRUE(ours);
  HeldFolder idle_again;
  ASSERT_TRUE(idle.Duplicate(&idle_again));
  folders.Enter(std::move(idle_again), dir / "idle/", std::move(lock), ours);
  EXPECT_TRUE(folders.left_undone());
  EXPECT_EQ("processing folder [" + dir / "held" + "]\n" + "folder [" +
                dir / "held" + "] is being converted by another run\n" +
                "processing folder [" + dir / "idle" + "]\n",
            out.str());
  EXPECT_EQ("", err.str());
  // Held by this run now: another cannot take it.
  std::unique_ptr<FolderLock> again;
  EXPECT_FALSE(RunFolders::TakeLock(idle, dir / "idle/", &sink, &again));
}

// Who may write in a folder, as the folder lock asks it of a lock's holder:
// a lock held by someone who could never convert there does not count.
TEST(RunFoldersTest, OnlyAHolderThatMayWriteInTheFolderCounts) {
  struct Case {
    std::uint32_t uid, gid;
    const char* groups;
    std::uint32_t mode;
    bool may;
  } cases[] = {
      {0, 0, "", 0755, true},             // root
      {100, 100, "", 0755, true},         // the owner
      {200, 200, "", 0755, false},        // a stranger
      {200, 200, "", 01777, true},        // anyone may write: sticky or not
      {200, 300, "", 0775, true},         // the folder's group
      {200, 200, "7 300 9", 0775, true},  // a member of the folder's group
      {200, 200, "7 9", 0775, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.may, MayWriteFolder(c.uid, c.gid, c.groups, 100, 300, c.mode))
        << c.uid << "/" << c.gid << " " << c.groups << " " << c.mode;
  }
}

}  // namespace
}  // namespace zavo
