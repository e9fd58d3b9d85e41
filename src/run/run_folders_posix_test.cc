#include <gtest/gtest.h>

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
  folders.set_top("/top/");
  for (const char* folder : {"", "a", "a/b", "c/d/e"}) {
    std::string path =
        "/top/" + std::string(folder) + (*folder ? "/" : "") + "x.zip";
    for (int shard = 1; shard <= 3; ++shard) {
      options.shard_index = shard;
      EXPECT_EQ(ShardOfFolder(folder, 3) == shard, folders.InShard(path))
          << path << " shard " << shard;
    }
  }
}

TEST(RunFoldersTest, FolderHeldByAnotherRunIsNamedOnceAndLeft) {
  ScopedTempDir dir;
  const std::string held = dir / "held";
  const std::string idle = dir / "idle";
  std::filesystem::create_directory(held);
  std::filesystem::create_directory(idle);
  std::unique_ptr<FolderLock> other;
  ASSERT_TRUE(RunFolders::TakeLock(held + "/x", &other));

  RunOptions options;
  RunFolders folders(options);
  std::ostringstream out;
  StreamSink sink(out);
  folders.Start(&sink);
  EXPECT_FALSE(folders.Enter(held + "/a.zip"));
  EXPECT_FALSE(folders.Enter(held + "/b.zip"));
  EXPECT_TRUE(folders.Enter(idle + "/a.zip"));
  EXPECT_TRUE(folders.left_undone());
  EXPECT_EQ("processing folder [" + held + "]\n" + "folder [" + held +
                "] is being converted by another run\n" +
                "processing folder [" + idle + "]\n",
            out.str());
  // Held by this run now: another cannot take it.
  std::unique_ptr<FolderLock> again;
  EXPECT_FALSE(RunFolders::TakeLock(idle + "/x", &again));
}

}  // namespace
}  // namespace zavo
