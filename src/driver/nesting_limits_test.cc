#include "driver/nesting_limits.h"

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

TEST(NestingLimitsTest, TopRunIsNeverLimited) {
  RunOptions options;
  options.max_nesting = 0;
  options.max_nested_archives = 0;
  NestingLimits limits(options);
  limits.Start();
  EXPECT_EQ("", limits.LimitLine(InA("b.zip")));
  EXPECT_EQ("", limits.LimitLine(InA("b.zip")));
}

TEST(NestingLimitsTest, NestedRunIsLimitedByDepthThenByCount) {
  RunOptions options;
  options.nesting_depth = 3;
  options.max_nesting = 2;
  NestingLimits deep(options);
  deep.Start();
  EXPECT_EQ("[b.zip] nested too deep, left as it is!",
            deep.LimitLine(InA("b.zip")));

  options.nesting_depth = 2;
  options.max_nested_archives = 2;
  NestingLimits counted(options);
  counted.Start();
  EXPECT_EQ("", counted.LimitLine(InA("1.zip")));
  EXPECT_EQ("", counted.LimitLine(InA("2.zip")));
  EXPECT_EQ("[3.zip] too many nested archives, left as it is!",
            counted.LimitLine(InA("3.zip")));
}

}  // namespace
}  // namespace zavo
