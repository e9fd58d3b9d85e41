#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "testing/temp_dir.h"
#include "verify/deep_folder.h"
#include "verify/member_check.h"
#include "verify/member_reader.h"

namespace zavo {
namespace {

constexpr int kDepth = 1500;

// A chain of kDepth folders with a file at the bottom, made one level at a
// time through descriptors: the path is far longer than PATH_MAX.
void MakeDeepTree(const std::string& top) {
  int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < kDepth; ++i) {
    std::string name = "folder-" + std::to_string(100000 + i);
    ASSERT_EQ(0, mkdirat(fd, name.c_str(), 0755));
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    fd = next;
  }
  int file = openat(fd, "bottom.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(4, write(file, "deep", 4));
  close(file);
  close(fd);
}

// Keeps the process's descriptors far below the tree's depth.
class FewDescriptors {
 public:
  FewDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    struct rlimit low = saved_;
    low.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &low);
  }
  ~FewDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  struct rlimit saved_;
};

TEST(DeepFolderTest, WalksAndComparesATreeDeeperThanTheDescriptorLimit) {
  ScopedTempDir dir;
  MakeDeepTree(dir.path());
  FewDescriptors few;
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  int folders = 0;
  std::string bottom;
  std::string failed;
  ASSERT_TRUE(WalkTree(
      top, {},
      [&](const std::string& path, const DirEntry& entry, const HeldFolder&) {
        if ((entry.attributes & kAttrFolder) != 0) ++folders;
        if (entry.name == "bottom.txt") bottom = path;
        return true;
      },
      &failed))
      << failed;
  EXPECT_EQ(kDepth, folders);
  ASSERT_GT(bottom.size(), 4096u);
  std::string folder = bottom.substr(0, bottom.rfind('/'));
  HeldFolder deepest;
  ASSERT_TRUE(OpenFolderBelow(top, folder, &deepest));
  EntryStatus status;
  ASSERT_TRUE(deepest.Stat("bottom.txt", &status));
  EXPECT_EQ(4, status.size);

  // The tree read as an archive and compared with itself.
  auto reader = TreeReader(&top, {});
  MemberCheckSettings settings;
  EXPECT_EQ(std::vector<std::string>{},
            CheckMembers(reader.get(), top, settings).losses);
}

}  // namespace
}  // namespace zavo
