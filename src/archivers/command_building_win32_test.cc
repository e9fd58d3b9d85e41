// Command building on Win32: names that cmd.exe would read even inside the
// template's quotes are refused for that archive; nothing is run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archivers/archiver_commands.h"

namespace zavo {
namespace {

TEST(CommandBuildingTest, NamesCmdReadsInsideQuotesAreNotRun) {
  const char* const kRefused[] = {"e%PATH%f.zip", "a!b!.zip", "q\"&calc\".zip",
                                  "%"};
  for (const char* name : kRefused) {
    std::string command;
    EXPECT_EQ(BuildOutcome::kUnsafe,
              BuildCommand("7z x \"@ArcName\"", {{"@ArcName", name}}, &command))
        << name;
  }
  // Anything else goes in as written; the template quotes it.
  std::string command;
  ASSERT_EQ(BuildOutcome::kBuilt,
            BuildCommand("7z x \"@ArcName\"",
                         {{"@ArcName", "C:\\a b&c^d(1);'x'.zip"}}, &command));
  EXPECT_EQ("7z x \"C:\\a b&c^d(1);'x'.zip\"", command);
}

}  // namespace
}  // namespace zavo
