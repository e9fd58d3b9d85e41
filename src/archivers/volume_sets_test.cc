#include "archivers/volume_sets.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zavo {
namespace {

// The shipped archivers file's namings.
const char kRar[] = "*.part{1..}.rar | *.rar *.r{00..99} *.s{00..99}";
const char kZip[] = "*.z{01..} >*.zip";
const char k7z[] = "*.7z.{001..}";
const char kArj[] = "*.arj *.a{01..99} *.{100..}";

std::vector<VolumeNaming> Parsed(const std::string& value) {
  std::vector<VolumeNaming> namings;
  Status parsed = ParseVolumeNamings(value, &namings);
  EXPECT_TRUE(parsed) << parsed.message();
  return namings;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names)
    text += (text.empty() ? "" : " ") + name;
  return text;
}

std::vector<std::string> Numbered(const std::string& before, int from, int to,
                                  int width, const std::string& after) {
  std::vector<std::string> names;
  for (int i = from; i <= to; ++i) {
    std::string digits = std::to_string(i);
    if (static_cast<int>(digits.size()) < width) {
      digits.insert(0, width - digits.size(), '0');
    }
    names.push_back(before + digits + after);
  }
  return names;
}

TEST(VolumeSetsTest, RolesVolumesAndEndsOfEachNaming) {
  struct Case {
    const char* naming;
    const char* candidate;
    std::vector<std::string> folder;
    VolumeRole role;
    const char* volumes;  // found, in order
    const char* names_set;
    VolumeSetEnd end;
    const char* missing;
  };
  const VolumeRole F = VolumeRole::kFirst, L = VolumeRole::kLater,
                   N = VolumeRole::kNone;
  const VolumeSetEnd kDone = VolumeSetEnd::kComplete,
                     kOpen = VolumeSetEnd::kUnknown,
                     kGap = VolumeSetEnd::kMissing;
  const Case cases[] = {
      // RAR, both namings; the width of .partN is the set's own.
      {kRar,
       "x.part1.rar",
       {"x.part2.rar", "x.part3.rar", "y.part1.rar"},
       F,
       "x.part1.rar x.part2.rar x.part3.rar",
       "x.part1.rar",
       kOpen,
       ""},
      {kRar,
       "x.part02.rar",
       {"x.part01.rar", "x.part10.rar", "x.part1.rar"},
       L,
       "x.part01.rar x.part02.rar x.part10.rar",
       "x.part01.rar",
       kGap,
       "x.part03.rar x.part04.rar x.part05.rar x.part06.rar x.part07.rar "
       "x.part08.rar x.part09.rar"},
      {kRar,
       "x.part2.rar",
       {"x.part3.rar"},
       L,
       "x.part2.rar x.part3.rar",
       "x.part1.rar",
       kGap,
       "x.part1.rar"},
      {kRar,
       "X.RAR",
       {"X.R00", "X.R01", "x.r02"},
       F,
       "X.RAR X.R00 X.R01 x.r02",
       "X.RAR",
       kOpen,
       ""},
      {kRar,
       "x.r00",
       {"x.rar", "x.r02"},
       L,
       "x.rar x.r00 x.r02",
       "x.rar",
       kGap,
       "x.r01"},
      {kRar, "x.rar", {"y.r00", "x.zip"}, N, "", "", kOpen, ""},
      {kRar, "x.r00", {}, L, "x.r00", "x.rar", kGap, "x.rar"},
      // Split zip: the set ends with x.zip, which names it.
      {kZip,
       "x.zip",
       {"x.z01", "x.z02"},
       F,
       "x.z01 x.z02 x.zip",
       "x.zip",
       kDone,
       ""},
      {kZip,
       "x.z02",
       {"x.z01", "x.zip"},
       L,
       "x.z01 x.z02 x.zip",
       "x.zip",
       kDone,
       ""},
      {kZip, "x.zip", {"x.z02"}, F, "x.z02 x.zip", "x.zip", kGap, "x.z01"},
      {kZip, "x.z01", {"x.z02"}, L, "x.z01 x.z02", "x.zip", kGap, "x.zip"},
      {kZip, "x.zip", {"x.zip.bak", "other.z01"}, N, "", "", kOpen, ""},
      // 7z: three digits, more when needed; a lone .001 is a set of one.
      {k7z,
       "a.b.7z.001",
       {"a.b.7z.002"},
       F,
       "a.b.7z.001 a.b.7z.002",
       "a.b.7z.001",
       kOpen,
       ""},
      {k7z, "x.7z.001", {}, F, "x.7z.001", "x.7z.001", kOpen, ""},
      {k7z, "x.7z.0001", {}, N, "", "", kOpen, ""},
      {k7z, "x.7z", {"x.7z.001"}, N, "", "", kOpen, ""},
      // ARJ: .a01 to .a99, then .100 on.
      {kArj,
       "x.arj",
       {"x.a01", "x.a02"},
       F,
       "x.arj x.a01 x.a02",
       "x.arj",
       kOpen,
       ""},
      {kArj, "x.arj", {}, N, "", "", kOpen, ""},
      {kArj,
       "x.a01",
       {"x.arj", "x.a03"},
       L,
       "x.arj x.a01 x.a03",
       "x.arj",
       kGap,
       "x.a02"},
  };
  for (const Case& c : cases) {
    const VolumeSet set =
        FindVolumeSet(Parsed(c.naming), c.candidate, c.folder);
    const std::string what = std::string(c.candidate) + " in " + c.naming;
    EXPECT_EQ(c.role, set.role) << what;
    if (c.role == N) continue;
    EXPECT_EQ(c.volumes, Joined(set.volumes)) << what;
    EXPECT_EQ(c.names_set, set.names_set) << what;
    EXPECT_EQ(c.end, set.end) << what;
    EXPECT_EQ(c.missing, Joined(set.missing)) << what;
  }
}

// Every volume of a long set knows the same set, in the same order.
TEST(VolumeSetsTest, EveryVolumeOfALongSetFindsTheWholeSet) {
  std::vector<std::string> arj = {"x.arj"};
  for (const std::string& n : Numbered("x.a", 1, 99, 2, "")) arj.push_back(n);
  for (const std::string& n : Numbered("x.", 100, 104, 3, "")) {
    arj.push_back(n);
  }
  std::vector<std::string> part = Numbered("x.part", 1, 120, 3, ".rar");
  for (const auto& set : {std::make_pair(std::string(kArj), arj),
                          std::make_pair(std::string(kRar), part)}) {
    for (const std::string& candidate : set.second) {
      const VolumeSet found =
          FindVolumeSet(Parsed(set.first), candidate, set.second);
      ASSERT_EQ(set.second, found.volumes) << candidate;
      EXPECT_EQ(
          candidate == set.second[0] ? VolumeRole::kFirst : VolumeRole::kLater,
          found.role)
          << candidate;
      EXPECT_EQ("x", found.set_name);
      EXPECT_TRUE(found.missing.empty()) << candidate;
    }
  }
  // A far number makes a long gap, listed only in part.
  const VolumeSet far =
      FindVolumeSet(Parsed(kRar), "x.part1.rar", {"x.part99999.rar"});
  EXPECT_EQ(VolumeSetEnd::kMissing, far.end);
  EXPECT_EQ(100u, far.missing.size());
  EXPECT_EQ("x.part2.rar", far.missing[0]);
  // One gone from the middle is named wherever the set is looked at from.
  arj.erase(arj.begin() + 100);  // x.100
  EXPECT_EQ("x.100", Joined(FindVolumeSet(Parsed(kArj), "x.104", arj).missing));
}

TEST(VolumeSetsTest, WrongValuesAreRefused) {
  std::vector<VolumeNaming> namings;
  for (const char* value : {"x.{1..}", "*.*.rar", "*.r{a..b}", "*.r{1..2}{3..}",
                            "*.r{9..2}", "*.r{1-2}", "*.rar |", "*.a{01..99"}) {
    Status parsed = ParseVolumeNamings(value, &namings);
    EXPECT_FALSE(parsed) << value;
    EXPECT_NE(std::string::npos, parsed.message().find('[')) << value;
  }
  EXPECT_TRUE(ParseVolumeNamings("", &namings));
  EXPECT_TRUE(namings.empty());
  ASSERT_TRUE(ParseVolumeNamings(kZip, &namings));
  ASSERT_EQ(1u, namings.size());
  EXPECT_EQ(1u, namings[0].names_set);
}

TEST(VolumeSetsTest, HeadersTellVolumes) {
  const std::string rar4 = std::string("Rar!\x1A\x07\x00", 7) + "\x5A\x6E\x73";
  const std::string rar5 = std::string("Rar!\x1A\x07\x01\x00", 8) + "CRC!";
  struct Case {
    std::string head;
    bool known, volume, first, continues;
  };
  const Case cases[] = {
      {rar4 + std::string("\x11\x01\x0D\x00", 4), true, true, true, false},
      {rar4 + std::string("\x11\x00\x0D\x00", 4), true, true, false, false},
      {rar4 + std::string("\x00\x00\x0D\x00", 4), true, false, false, false},
      // size, type 1, flags 0, archive flags: volume (+ its number 2)
      {rar5 + std::string("\x06\x01\x00\x01", 4), true, true, true, false},
      {rar5 + std::string("\x06\x01\x00\x03\x02", 5), true, true, false, false},
      {rar5 + std::string("\x06\x01\x00\x00", 4), true, false, false, false},
      {std::string("\x60\xEA\x29\x00\x22\x0B\x01\x02\x14\x00", 10), true, true,
       false, true},
      {std::string("\x60\xEA\x29\x00\x22\x0B\x01\x02\x10\x00", 10), true, false,
       false, false},
      {"PK\x03\x04 not marked", false, false, false, false},
      {std::string("Rar!\x1A\x07\x00", 7), false, false, false, false},
  };
  for (const Case& c : cases) {
    const VolumeMarks marks = ReadVolumeMarks(c.head);
    EXPECT_EQ(c.known, marks.known) << c.head.size();
    EXPECT_EQ(c.volume, marks.volume) << c.head.size();
    EXPECT_EQ(c.first, marks.first) << c.head.size();
    EXPECT_EQ(c.continues, marks.continues) << c.head.size();
  }
}

}  // namespace
}  // namespace zavo
