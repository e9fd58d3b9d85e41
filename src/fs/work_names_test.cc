#include "fs/work_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fs/random.h"
#include "platform/os.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

// 29 April 2000, 01:36:08.50.
const LocalTime kExampleTime{2000, 4, 29, 1, 36, 8, 50};

class WorkNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RandomSeed() = 0;
    folder_ = WithBackslash(dir_.string());
  }

  ScopedTempDir temp_;
  fs::path dir_{temp_.path()};
  std::string folder_;
};

TEST_F(WorkNamesTest, TimeStampNamesOfTheExampleTime) {
  EXPECT_EQ("136f0432", TimeStampName(kExampleTime));
  EXPECT_EQ("136f0c3a", TimeStampName(kExampleTime));
}

TEST_F(WorkNamesTest, TimeStampNameKeepsLeadingZeros) {
  // Every term zero and the first draw 0: the value 0 itself.
  EXPECT_EQ("00000000", TimeStampName(LocalTime{}));
  LocalTime hundredths{};
  hundredths.hundredths = 99;
  RandomSeed() = 0;
  EXPECT_EQ("00000063", TimeStampName(hundredths));
}

TEST_F(WorkNamesTest, TimeStampNameOfNowIsEightLowerCaseHexDigits) {
  const std::string name = TimeStampName();
  ASSERT_EQ(8u, name.size());
  EXPECT_EQ(std::string::npos, name.find_first_not_of("0123456789abcdef"));
}

TEST_F(WorkNamesTest, WorkFolderNameIsRelativeWithSeparator) {
  EXPECT_EQ(std::string("136f0432.tmp") + kPathSeparator,
            WorkFolderName(folder_, kExampleTime));
}

TEST_F(WorkNamesTest, ExistingFolderMakesItDrawAgain) {
  fs::create_directory(dir_ / "136f0432.tmp");
  EXPECT_EQ(std::string("136f0c3a.tmp") + kPathSeparator,
            WorkFolderName(folder_, kExampleTime));
}

TEST_F(WorkNamesTest, PlainFileOfThatNameIsNotTaken) {
  std::ofstream(dir_ / "136f0432.tmp") << "x";
  EXPECT_EQ(std::string("136f0432.tmp") + kPathSeparator,
            WorkFolderName(folder_, kExampleTime));
}

TEST_F(WorkNamesTest, LinkOfThatNameIsTaken) {
  if (kIsWin32) GTEST_SKIP() << "needs a symbolic link";
  fs::create_directory(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "136f0432.tmp");
  fs::create_symlink(dir_ / "missing", dir_ / "136f0c3a.tmp");
  const std::string name = WorkFolderName(folder_, kExampleTime);
  EXPECT_NE(std::string("136f0432.tmp") + kPathSeparator, name);
  EXPECT_NE(std::string("136f0c3a.tmp") + kPathSeparator, name);
}

TEST(WorkFolderNameFormTest, RecognisesWorkFolderNames) {
  EXPECT_TRUE(IsWorkFolderName("136f0432.tmp"));
  EXPECT_TRUE(IsWorkFolderName(WorkFolderName("/nonexistent/").substr(0, 12)));
  EXPECT_FALSE(IsWorkFolderName("136F0432.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f043.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f04321.tmp"));
  EXPECT_FALSE(IsWorkFolderName("136f0432.tmpx"));
  EXPECT_FALSE(IsWorkFolderName("backup.tmp"));
}

}  // namespace
}  // namespace zavo
