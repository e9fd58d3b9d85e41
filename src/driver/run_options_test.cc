#include "driver/run_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

class CollectingSink : public OutputSink {
 public:
  void Line(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

class RunOptionsTest : public ::testing::Test {
 protected:
  OptionsResult Load(std::vector<std::string> params) {
    params.insert(params.begin(), dir_ / "zavo");
    options_ = RunOptions();
    return LoadRunOptions(
        params, start_, &out_, [this](int ms) { paused_ms_ += ms; }, &options_);
  }

  ScopedTempDir dir_;
  std::string start_ = dir_.path();
  CollectingSink out_;
  RunOptions options_;
  int paused_ms_ = 0;
};

TEST_F(RunOptionsTest, StatusOfEachCommandLine) {
  WriteFile(dir_ / "zavo.ctl", "Archives a.ini\n");
  std::string dash = kDashSwitches ? "-r" : "/r";
  struct Case {
    std::vector<std::string> params;
    OptionsStatus status;
  } cases[] = {
      {{}, OptionsStatus::kUsage},
      {{"/r", "/n", "/k", "/r", "*.zip"}, OptionsStatus::kUsage},
      {{kHelpWords[0]}, OptionsStatus::kHelp},
      {{kHelpWords[0], "*.zip"}, OptionsStatus::kHelp},
      {{"/r", dash, "/n", "*.zip"}, OptionsStatus::kReady},
      {{"a.zip", "b.zip"},
       kShellExpandsWildcards ? OptionsStatus::kFatal : OptionsStatus::kReady},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status, Load(c.params).status) << c.params.size();
  }
  EXPECT_TRUE(out_.lines.empty());
}

TEST_F(RunOptionsTest, SwitchesOverrideSettingsAndTheMaskIsCompleted) {
  WriteFile(dir_ / "zavo.ctl",
            "Archives a.ini\nKeepTime yes\nKillExist yes\nFileList x.ion\n"
            "FileList y.ion\n");
  ASSERT_EQ(OptionsStatus::kReady, Load({"/K", "/N", "*.zip"}).status);
  EXPECT_FALSE(options_.keep_time);
  EXPECT_TRUE(options_.nested);
  EXPECT_FALSE(options_.recurse);
  EXPECT_TRUE(options_.kill_exist);
  EXPECT_FALSE(options_.stop_on_error);
  EXPECT_EQ(dir_ / "a.ini", options_.archivers_file);
  EXPECT_EQ(dir_ / "*.zip", options_.file_mask);
  EXPECT_EQ(start_, options_.start_folder);
  EXPECT_EQ(2u, options_.list_file_names.size());
  // A nested run gets everything but the mask.
  EXPECT_EQ((std::vector<std::string>{dir_ / "zavo", "/K", "/N"}),
            options_.nested_command);
}

TEST_F(RunOptionsTest, SettingsFailuresAndWarnings) {
  OptionsResult r = Load({"*.zip"});
  EXPECT_EQ(OptionsStatus::kFatal, r.status);
  // Beside the program is the first place looked; the rest depend on the
  // platform (run_options_posix_test.cc).
  std::string first = "config file [" + dir_ / "zavo.ctl" + "]";
  EXPECT_EQ(first, r.message.substr(0, first.size()));
  EXPECT_EQ(" not found", r.message.substr(r.message.size() - 10));

  WriteFile(dir_ / "zavo.ctl", "Archives a.ini\nnonsense\n");
  EXPECT_EQ(OptionsStatus::kReady, Load({"*.zip"}).status);
  EXPECT_EQ((std::vector<std::string>{
                "wrong line [#2] in [" + dir_ / "zavo.ctl" + "]",
                "pause (3 seconds)..."}),
            out_.lines);
  EXPECT_EQ(3000, paused_ms_);
}

TEST_F(RunOptionsTest, TheReportFromTheCommandLineOrTheSettings) {
  WriteFile(dir_ / "zavo.ctl", "Archives a.ini\nReport from.ctl\n");
  // Its parameters are not among the four, wherever they stand.
  ASSERT_EQ(OptionsStatus::kReady,
            Load({"/r", "--report", "r.jsonl", "/n", "--report-parent",
                  "outer.zip", "/k", "*.zip"})
                .status);
  EXPECT_EQ(dir_ / "r.jsonl", options_.report_file);
  EXPECT_EQ("outer.zip", options_.report_parent);
  EXPECT_EQ(dir_ / "*.zip", options_.file_mask);
  // A nested run is told the very file, and no parent of this run's.
  EXPECT_EQ((std::vector<std::string>{dir_ / "zavo", "/r", "/n", "/k",
                                      "--report", dir_ / "r.jsonl"}),
            options_.nested_command);

  ASSERT_EQ(OptionsStatus::kReady, Load({"*.zip"}).status);
  EXPECT_EQ(dir_ / "from.ctl", options_.report_file);
  EXPECT_EQ("", options_.report_parent);

  EXPECT_EQ(OptionsStatus::kUsage, Load({"*.zip", "--report"}).status);
  EXPECT_EQ(OptionsStatus::kUsage, Load({"--report", "", "*.zip"}).status);
  EXPECT_EQ(OptionsStatus::kUsage, Load({"--report", "r.jsonl"}).status);
}

}  // namespace
}  // namespace zavo
