#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <string>

#include "platform/file_system.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// The kinds come from the folder's own entries here, not from a query of
// each entry: a link to a folder must still read as a link, or the scan
// would descend through it.
TEST(ListingKindsTest, TellsFilesFoldersAndLinksApart) {
  ScopedTempDir dir;
  WriteFile(dir / "a.zip", "x");
  WriteFile(dir / "ro.zip", "x");
  chmod((dir / "ro.zip").c_str(), 0444);
  WriteFile(dir / ".hidden.zip", "x");
  mkdir((dir / "sub.zip").c_str(), 0777);
  symlink((dir / "sub.zip").c_str(), (dir / "to-folder.zip").c_str());
  symlink((dir / "a.zip").c_str(), (dir / "to-file.zip").c_str());
  symlink((dir / "none").c_str(), (dir / "dangling.zip").c_str());
  mkfifo((dir / "pipe.zip").c_str(), 0666);
  WriteFile(dir / "other.txt", "x");
  auto listing = ListFolderKinds(dir / "*.zip");
  ASSERT_NE(nullptr, listing);
  std::map<std::string, std::uint32_t> seen;
  DirEntry e;
  while (listing->Next(&e)) seen[e.name] = e.attributes;
  ASSERT_EQ(8u, seen.size());
  const std::uint32_t kKinds = kAttrFolder | kAttrLink | kAttrArchive;
  EXPECT_EQ(kAttrArchive, seen["a.zip"] & kKinds);
  EXPECT_EQ(kAttrArchive, seen["ro.zip"] & kKinds);
  EXPECT_EQ(kAttrArchive | kAttrHidden, seen[".hidden.zip"]);
  EXPECT_EQ(kAttrFolder, seen["sub.zip"]);
  EXPECT_EQ(kAttrLink, seen["to-folder.zip"]);
  EXPECT_EQ(kAttrLink, seen["to-file.zip"]);
  EXPECT_EQ(kAttrLink, seen["dangling.zip"]);
  EXPECT_EQ(kAttrArchive, seen["pipe.zip"]);
  EXPECT_EQ(nullptr, ListFolderKinds(dir / "missing/*.*"));
}

}  // namespace
}  // namespace zavo
