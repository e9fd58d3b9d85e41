#include "fs/work_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fs/random.h"

namespace zavo {
namespace {

// 29 April 2000, 01:36:08.50.
const LocalTime kExampleTime{2000, 4, 29, 1, 36, 8, 50};

TEST(WorkNamesTest, TimeStampNamesOfTheExampleTime) {
  SetRandomState(0);
  EXPECT_EQ("136f0432", TimeStampName(kExampleTime));
  EXPECT_EQ("136f0c3a", TimeStampName(kExampleTime));
  // Every term zero and the first draw 0: the value 0 itself.
  SetRandomState(0);
  EXPECT_EQ("00000000", TimeStampName(LocalTime{}));
  LocalTime hundredths{};
  hundredths.hundredths = 99;
  SetRandomState(0);
  EXPECT_EQ("00000063", TimeStampName(hundredths));
  const std::string name = TimeStampName();
  ASSERT_EQ(8u, name.size());
  EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789abcdef"));
}

// Jobs draw names at once: no two draws may see one state, or two jobs
// would try the same work-folder name again and again.
TEST(WorkNamesTest, DrawsFromManyThreadsAreAllDifferent) {
  constexpr int kThreads = 4, kDraws = 2000;
  std::vector<std::vector<std::uint32_t>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&drawn, t] {
      for (int i = 0; i < kDraws; ++i) {
        drawn[t].push_back(RandomBelow(0xFFFFFFFFu));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::uint32_t> all;
  for (const auto& d : drawn) all.insert(d.begin(), d.end());
  EXPECT_EQ(static_cast<std::size_t>(kThreads * kDraws), all.size());
}

TEST(WorkFolderNameFormTest, RecognisesWorkFolderNames) {
  EXPECT_TRUE(IsWorkFolderName("136f0432.tmp"));
  EXPECT_TRUE(IsWorkFolderName(TimeStampName() + ".tmp"));
  EXPECT_FALSE(IsWorkFolderName("136F0432.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f043.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f04321.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f0432.tmpx"));
  EXPECT_FALSE(IsWorkFolderName("backup.tmp"));
}

}  // namespace
}  // namespace zavo
