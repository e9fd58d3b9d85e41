#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "conversion/volume_set_source.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// RAR 4 heads: a volume (0x0001), the first one (0x0100) or a whole archive.
const std::string kRarHead = std::string("Rar!\x1A\x07\x00", 7) + "CRs";
const std::string kRarFirst = kRarHead + std::string("\x01\x01", 2);
const std::string kRarLater = kRarHead + std::string("\x01\x00", 2);
const std::string kRarWhole = kRarHead + std::string("\x00\x00", 2);

class VolumeSetSourceTest : public ::testing::Test {
 protected:
  // The set of x.part1.rar in `path`, opened.
  void OpenSet(const std::string& path, VolumeSetSource* set) {
    std::vector<VolumeNaming> namings;
    ASSERT_TRUE(ParseVolumeNamings("*.part{1..}.rar", &namings));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
      names.push_back(entry.path().filename().string());
    ASSERT_TRUE(HeldFolder::Open(path, &folder_));
    HeldFile candidate;
    EntryStatus status;
    ASSERT_TRUE(folder_.OpenFile("x.part1.rar", &candidate));
    ASSERT_TRUE(candidate.Stat(&status));
    set->Open(folder_, FindVolumeSet(namings, "x.part1.rar", names),
              "x.part1.rar", status);
  }

  ScopedTempDir dir_;
  HeldFolder folder_;
};

TEST_F(VolumeSetSourceTest,
       ASetIsWholeOnlyWithEveryVolumeAPlainFileThatAgrees) {
  struct Case {
    const char* what;
    std::string part2;  // "/": a folder
    std::string part3;
    const char* why;
  } cases[] = {
      {"whole", kRarLater, kRarLater, ""},
      {"a folder", "/", kRarLater, "volume [x.part2.rar] is not a plain file"},
      {"a whole archive among them", kRarWhole, kRarLater,
       "[x.part2.rar] is a whole archive, no volume of a set"},
      {"a second first", kRarLater, kRarFirst,
       "[x.part3.rar] is marked as the first volume of a set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = dir_ / c.what;
    ASSERT_EQ(0, mkdir(folder.c_str(), 0700));
    WriteFile(folder + "/x.part1.rar", kRarFirst);
    if (c.part2 == "/") {
      ASSERT_EQ(0, mkdir((folder + "/x.part2.rar").c_str(), 0700));
    } else {
      WriteFile(folder + "/x.part2.rar", c.part2);
    }
    WriteFile(folder + "/x.part3.rar", c.part3);
    VolumeSetSource set;
    OpenSet(folder, &set);
    EXPECT_EQ(c.why, set.why());
    EXPECT_EQ(std::string(c.why).empty(), set.complete());
    EXPECT_EQ("x", set.set_name());
  }
}

TEST_F(VolumeSetSourceTest, OnlyTheVolumesReadAreRemoved) {
  for (const char* name :
       {"x.part1.rar", "x.part2.rar", "x.part3.rar", "x.part4.rar"}) {
    WriteFile(dir_ / name,
              name == std::string("x.part1.rar") ? kRarFirst : kRarLater);
  }
  ASSERT_EQ(0, chmod((dir_ / "x.part4.rar").c_str(), 0444));
  VolumeSetSource set;
  OpenSet(dir_.path(), &set);
  ASSERT_TRUE(set.complete()) << set.why();
  // Renamed over by someone else after it was read: theirs now.
  ASSERT_EQ(0,
            rename((dir_ / "x.part3.rar").c_str(), (dir_ / "moved").c_str()));
  WriteFile(dir_ / "x.part3.rar", "someone else's");
  std::vector<std::string> left;
  set.Remove(&folder_, "x.part1.rar", &left);
  EXPECT_TRUE(left.empty());
  // The kept name (the new archive's) and a read-only volume stay.
  EXPECT_EQ(kRarFirst, ReadFile(dir_ / "x.part1.rar"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.part2.rar"));
  EXPECT_EQ("someone else's", ReadFile(dir_ / "x.part3.rar"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "x.part4.rar"));
}

}  // namespace
}  // namespace zavo
