#include "run/nested_tally.h"

#include <gtest/gtest.h>

#include <string>

namespace zavo {
namespace {

TEST(NestedTallyTest, CountsReachWhoeverItIsHandedOnTo) {
  std::unique_ptr<NestedTally> top = NestedTally::Create();
  ASSERT_NE(nullptr, top);
  ChildSpec launch;
  top->HandOn(&launch);
  ASSERT_EQ(1u, launch.environment.size());
  EXPECT_EQ(3u, launch.inherit.size());
  const std::string prefix = std::string(NestedTally::kVariable) + "=";
  ASSERT_EQ(prefix, launch.environment[0].substr(0, prefix.size()));
  // A nested run opens what it was handed (here in the same process).
  std::unique_ptr<NestedTally> nested =
      NestedTally::Open(launch.environment[0].substr(prefix.size()));
  ASSERT_NE(nullptr, nested);
  for (ArchiveStatus status :
       {ArchiveStatus::kConverted, ArchiveStatus::kKept, ArchiveStatus::kFailed,
        ArchiveStatus::kLeft, ArchiveStatus::kLeft}) {
    nested->Count(status);
  }
  NestedCounts counts = top->Counts();
  EXPECT_EQ(2, counts.converted);
  EXPECT_EQ(1, counts.failed);
  EXPECT_EQ(2, counts.left);
  EXPECT_EQ("nested archives: 2 converted, 1 failed, 2 left alone",
            NestedSummary(counts));
  // Texts that name no tally here.
  for (const char* text : {"", "1,2", "x,y,z", "1,2,3"}) {
    EXPECT_EQ(nullptr, NestedTally::Open(text)) << text;
  }
}

}  // namespace
}  // namespace zavo
