#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "conversion/volume_set_source.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// RAR 4 heads: a volume (flag 0x0001), the first (0x0100), a whole archive.
const std::string kHead = std::string("Rar!\x1A\x07\x00", 7) + "CRs";
const std::string kFirst = kHead + std::string("\x01\x01", 2);
const std::string kLater = kHead + std::string("\x01\x00", 2);
const std::string kWhole = kHead + std::string("\x00\x00", 2);

// The set of x.part1.rar..x.part4.rar made of `heads` ("/": a folder) in a
// new folder `name` of `dir`, opened; *folder holds the folder.
void OpenSet(const ScopedTempDir& dir, const std::string& name,
             const std::vector<std::string>& heads, HeldFolder* folder,
             VolumeSetSource* set) {
  const std::string path = dir / name;
  ASSERT_EQ(0, mkdir(path.c_str(), 0700));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < heads.size(); ++i) {
    names.push_back("x.part" + std::to_string(i + 1) + ".rar");
    if (heads[i] == "/") {
      ASSERT_EQ(0, mkdir((path + "/" + names.back()).c_str(), 0700));
    } else {
      WriteFile(path + "/" + names.back(), heads[i]);
    }
  }
  std::vector<VolumeNaming> namings;
  ASSERT_TRUE(ParseVolumeNamings("*.part{1..}.rar", &namings));
  HeldFile first;
  EntryStatus status;
  ASSERT_TRUE(HeldFolder::Open(path, folder));
  ASSERT_TRUE(folder->OpenFile("x.part1.rar", &first));
  ASSERT_TRUE(first.Stat(&status));
  set->Open(*folder, FindVolumeSet(namings, "x.part1.rar", names),
            "x.part1.rar", status);
}

TEST(VolumeSetSourceTest, ASetIsWholeWithPlainVolumesThatAgree) {
  ScopedTempDir dir;
  struct Case {
    std::vector<std::string> heads;
    const char* why;
  } cases[] = {
      {{kFirst, kLater, kLater}, ""},
      {{kFirst, "/", kLater}, "volume [x.part2.rar] is not a plain file"},
      {{kFirst, kWhole, kLater},
       "[x.part2.rar] is a whole archive, no volume of a set"},
      {{kFirst, kLater, kFirst},
       "[x.part3.rar] is marked as the first volume of a set"},
      {{kWhole}, ""},  // alone, a whole archive is a set of one
  };
  int made = 0;
  for (const Case& c : cases) {
    HeldFolder folder;
    VolumeSetSource set;
    OpenSet(dir, std::to_string(++made), c.heads, &folder, &set);
    EXPECT_EQ(c.why, set.why()) << made;
    EXPECT_EQ("x", set.set_name());
  }
}

TEST(VolumeSetSourceTest, OnlyTheVolumesReadAreRemoved) {
  ScopedTempDir dir;
  HeldFolder folder;
  VolumeSetSource set;
  OpenSet(dir, "s", {kFirst, kLater, kLater, kLater}, &folder, &set);
  ASSERT_TRUE(set.complete()) << set.why();
  ASSERT_EQ(0, chmod((dir / "s/x.part4.rar").c_str(), 0444));
  // Renamed over by someone else after it was read: theirs now.
  std::filesystem::rename(dir / "s/x.part3.rar", dir / "s/moved");
  WriteFile(dir / "s/x.part3.rar", "someone else's");
  std::vector<std::string> left;
  set.Remove(&folder, "x.part1.rar", &left);
  EXPECT_TRUE(left.empty());
  // The kept name (the new archive's) and a read-only volume stay.
  EXPECT_EQ(kFirst, ReadFile(dir / "s/x.part1.rar"));
  EXPECT_FALSE(std::filesystem::exists(dir / "s/x.part2.rar"));
  EXPECT_EQ("someone else's", ReadFile(dir / "s/x.part3.rar"));
  EXPECT_TRUE(std::filesystem::exists(dir / "s/x.part4.rar"));
}

}  // namespace
}  // namespace zavo
