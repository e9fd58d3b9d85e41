#include "run/target_kind.h"

#include <gtest/gtest.h>

namespace zavo {
namespace {

TEST(TargetKindTest, ChosenByItsSectionName) {
  ArchiverList archivers;
  struct {
    const char* name;
    const char* add;
  } sections[] = {{"7z", "pk a @ArcName"},
                  {"zip", "zip @ArcName"},
                  {"tar.Z", "tar @ArcName"},
                  {"Tar.z", "tar @ArcName"},
                  {"rar", ""}};
  for (const auto& s : sections) {
    archivers.AddDefinition(s.name, "", "x @ArcName", s.add, "");
    archivers.definition(archivers.size() - 1).set_name(s.name);
  }
  struct {
    std::string name;
    int target;  // -1: refused
    std::string message;
  } cases[] = {
      {"zip", 1, ""},
      {"ZIP", 1, ""},  // one section in any letter case
      {"tar.Z", 2, ""},
      {"Tar.z", 3, ""},
      {"TAR.Z", -1,
       "unknown target [TAR.Z]: the sections of [a.ini] are 7z, zip, tar.Z, "
       "Tar.z, rar"},
      {"arj", -1,
       "unknown target [arj]: the sections of [a.ini] are 7z, zip, tar.Z, "
       "Tar.z, rar"},
      {"rar", -1,
       "target [rar] can't pack: its section in [a.ini] has no add "
       "command"},
  };
  for (const auto& c : cases) {
    std::size_t target = 99;
    Status chosen = ChooseTarget(archivers, c.name, "a.ini", &target);
    EXPECT_EQ(c.message, chosen.ok() ? "" : chosen.message()) << c.name;
    EXPECT_EQ(c.target < 0 ? 99u : static_cast<std::size_t>(c.target), target)
        << c.name;
  }
}

}  // namespace
}  // namespace zavo
