#include "run/volume_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zavo {
namespace {

// How sets are met in scan order, which tests/test_volume_sets.py shows
// whole, in the folders it cannot make: masks, links, other folders.
TEST(VolumeScanTest, EachSetIsMetOnceThroughTheFileThatStandsForIt) {
  ArchiverList archivers;
  archivers.AddDefinition("7z", "", "", "", "");
  archivers.AddDefinition("rar", "", "", "", "");
  std::vector<VolumeNaming> namings;
  ASSERT_TRUE(
      ParseVolumeNamings("*.part{1..}.rar | *.rar *.r{00..99}", &namings));
  archivers.definition(1).set_volume_namings(namings);
  using V = VolumeScan::Verdict;
  struct Case {
    const char* pattern;
    std::vector<std::string> entries;  // "@name" a link, "/name" a folder
    std::vector<std::pair<const char*, V>> met;  // in scan order
    const char* why;
  } cases[] = {
      // A first volume the scan never meets: a link, or one the mask leaves
      // out.
      {"*.*", {"@x.part1.rar", "x.part2.rar"}, {{"x.part2.rar", V::kSet}}, ""},
      {"*.r0?",
       {"x.rar", "x.r00", "x.r01"},
       {{"x.r00", V::kSet}, {"x.r01", V::kPassed}},
       "[x.rar], which names the set, is not among the files asked for"},
      // A folder among the volumes still makes the set (whose opening then
      // finds it incomplete).
      {"*.*", {"x.rar", "/x.r00"}, {{"x.rar", V::kSet}}, ""},
  };
  for (const Case& c : cases) {
    std::vector<DirEntry> listed;
    for (const std::string& entry : c.entries) {
      DirEntry e;
      e.name = entry.substr(entry[0] == '@' || entry[0] == '/' ? 1 : 0);
      if (entry[0] == '@') e.attributes = kAttrLink;
      if (entry[0] == '/') e.attributes = kAttrFolder;
      listed.push_back(e);
    }
    VolumeScan scan;
    scan.Start(&archivers, c.pattern);
    ScannedFolder folder{nullptr, "/a/", "a", &listed};
    std::string why;
    for (const auto& m : c.met) {
      VolumeScan::Meeting meeting = scan.Meet(folder, m.first);
      EXPECT_EQ(m.second, meeting.verdict) << m.first;
      EXPECT_EQ(m.second == V::kNoVolume ? -1 : 1, meeting.definition);
      why += meeting.why;
    }
    EXPECT_EQ(c.why, why);
    // The same names in another folder are another set.
    ScannedFolder other{nullptr, "/b/", "b", &listed};
    EXPECT_EQ(c.met[0].second, scan.Meet(other, c.met[0].first).verdict);
  }
}

}  // namespace
}  // namespace zavo
