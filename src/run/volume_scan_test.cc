#include "run/volume_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavo {
namespace {

using Verdict = VolumeScan::Verdict;

struct Met {
  const char* name;
  Verdict verdict;
  const char* why;
};

// Meets `met` in order in one folder of `entries` ("name" a file, "@name" a
// link, "/name" a folder) with the scan's `pattern`.
void MeetAll(const char* pattern, const std::vector<std::string>& entries,
             const std::vector<Met>& met) {
  ArchiverList archivers;
  archivers.AddDefinition("7z", "", "", "", "");
  archivers.AddDefinition("rar", "", "", "", "");
  std::vector<VolumeNaming> namings;
  ASSERT_TRUE(
      ParseVolumeNamings("*.part{1..}.rar | *.rar *.r{00..99}", &namings));
  archivers.definition(1).set_volume_namings(namings);
  std::vector<DirEntry> listed;
  for (const std::string& entry : entries) {
    DirEntry e;
    e.name = entry;
    if (entry[0] == '@' || entry[0] == '/') {
      e.name = entry.substr(1);
      e.attributes = entry[0] == '@' ? kAttrLink : kAttrFolder;
    }
    listed.push_back(e);
  }
  ScannedFolder folder{nullptr, "/arc/", "", &listed};
  VolumeScan scan;
  scan.Start(&archivers, pattern);
  for (const Met& m : met) {
    SCOPED_TRACE(m.name);
    VolumeScan::Meeting meeting = scan.Meet(folder, m.name);
    EXPECT_EQ(m.verdict, meeting.verdict);
    EXPECT_EQ(m.why, meeting.why);
    EXPECT_EQ(m.verdict == Verdict::kNoVolume ? -1 : 1, meeting.definition);
  }
}

TEST(VolumeScanTest, EachSetIsMetOnceThroughTheFileThatStandsForIt) {
  const Verdict kSet = Verdict::kSet, kPassed = Verdict::kPassed,
                kNo = Verdict::kNoVolume;
  const char* kMasked =
      "[x.rar], which names the set, is not among the files asked for";
  // The first volume stands for the set, met before or after the others.
  MeetAll("*.*", {"x.part1.rar", "x.part2.rar", "x.part3.rar", "y.rar"},
          {{"x.part2.rar", kPassed, ""},
           {"x.part1.rar", kSet, ""},
           {"x.part3.rar", kPassed, ""},
           {"y.rar", kNo, ""}});
  // Without it, the first later volume met stands for the set, once.
  MeetAll("*.*", {"x.part2.rar", "x.part3.rar"},
          {{"x.part2.rar", kSet, ""}, {"x.part3.rar", kPassed, ""}});
  // A first volume that the scan never meets: a link, or left out by the
  // mask.
  MeetAll("*.*", {"@x.part1.rar", "x.part2.rar"}, {{"x.part2.rar", kSet, ""}});
  MeetAll("*.r0?", {"x.rar", "x.r00", "x.r01"},
          {{"x.r00", kSet, kMasked}, {"x.r01", kPassed, ""}});
  // A folder among the volumes is a volume: the set is found, and its
  // opening says it is incomplete.
  MeetAll("*.*", {"x.rar", "/x.r00", "x.r01"}, {{"x.rar", kSet, ""}});
  // x.rar alone is an archive like any other.
  MeetAll("*.*", {"x.rar", "x.zip"}, {{"x.rar", kNo, ""}, {"x.zip", kNo, ""}});
}

TEST(VolumeScanTest, ANewFolderForgetsTheSetsMet) {
  ArchiverList archivers;
  archivers.AddDefinition("rar", "", "", "", "");
  std::vector<VolumeNaming> namings;
  ASSERT_TRUE(ParseVolumeNamings("*.part{1..}.rar", &namings));
  archivers.definition(0).set_volume_namings(namings);
  std::vector<DirEntry> listed(1);
  listed[0].name = "x.part2.rar";
  VolumeScan scan;
  scan.Start(&archivers, "*.*");
  // The same set name in another folder is another set.
  ScannedFolder a{nullptr, "/a/", "a", &listed};
  ScannedFolder b{nullptr, "/b/", "b", &listed};
  EXPECT_EQ(Verdict::kSet, scan.Meet(a, "x.part2.rar").verdict);
  EXPECT_EQ(Verdict::kPassed, scan.Meet(a, "x.part2.rar").verdict);
  EXPECT_EQ(Verdict::kSet, scan.Meet(b, "x.part2.rar").verdict);
}

}  // namespace
}  // namespace zavo
