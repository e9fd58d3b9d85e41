#include "run/nesting_limits.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/os.h"

namespace zavo {
namespace {

// An archive in a folder, named as this system names paths.
std::string InA(const std::string& name) {
  return std::string(1, kPathSeparator) + "a" + kPathSeparator + name;
}

TEST(NestingLimitsTest, DepthIsASmallNumberOrZero) {
  const struct {
    const char* text;
    int depth;
  } cases[] = {
      {"", 0},       {"0", 0},  {"1", 1},  {"12", 12}, {"99999", 99999},
      {"100000", 0}, {"-1", 0}, {"1x", 0}, {" 1", 0},  {"+2", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.depth, NestingDepthFromText(c.text)) << "[" << c.text << "]";
  }
}

TEST(NestingLimitsTest, NestedRunsAreLimitedByDepthThenByCount) {
  const std::string deep = "nested too deep, left as it is!";
  const std::string many = "too many nested archives, left as it is!";
  const struct {
    int depth, max_nesting, max_nested;
    std::string lines[3];  // for 1.zip, 2.zip, 3.zip in turn
  } cases[] = {
      {0, 0, 0, {"", "", ""}},  // the run a person started
      {3, 2, 9, {deep, deep, deep}},
      {2, 2, 2, {"", "", many}},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.nesting_depth = c.depth;
    options.max_nesting = c.max_nesting;
    options.max_nested_archives = c.max_nested;
    NestingLimits limits(options);
    limits.Start();
    for (int i = 0; i < 3; ++i) {
      std::string name = std::to_string(i + 1) + ".zip";
      std::string want =
          c.lines[i].empty() ? "" : "[" + name + "] " + c.lines[i];
      EXPECT_EQ(want, limits.LimitLine(InA(name))) << "depth " << c.depth;
    }
  }
}

}  // namespace
}  // namespace zavo
