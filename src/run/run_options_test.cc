#include "run/run_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

class CollectingSink : public OutputSink {
 public:
  void Line(const std::string& text) override { lines.push_back(text); }
  void Note(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

// A nested run's command line: `first` and this run's number of jobs.
std::vector<std::string> WithJobs(std::vector<std::string> first, int jobs) {
  if (kDashSwitches) {
    first.push_back("-j");
    first.push_back(std::to_string(jobs));
  } else {
    first.push_back("/j:" + std::to_string(jobs));
  }
  return first;
}

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
       kShellExpandsWildcards ? OptionsStatus::kFatal : OptionsStatus::kUsage},
      // Switches stand anywhere; a switch is never the mask.
      {{"*.zip", "/r"}, OptionsStatus::kReady},
      {{"/R", "*.zip", "/n"}, OptionsStatus::kReady},
      {{"*.zip", kHelpWords[0]}, OptionsStatus::kHelp},
      {{"/r"}, OptionsStatus::kUsage},
      {{dash}, OptionsStatus::kUsage},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& p : c.params) line += " " + p;
    EXPECT_EQ(c.status, Load(c.params).status) << line;
  }
  EXPECT_TRUE(out_.lines.empty());

  OptionsResult r = Load({"-x", "*.zip"});
  if (kDashSwitches) {
    EXPECT_EQ(OptionsStatus::kUsage, r.status);
    EXPECT_EQ("unknown switch [-x]", r.message);
  } else {
    // Where switches start with "/", "-x" is a name.
    EXPECT_EQ(OptionsStatus::kUsage, r.status);
    EXPECT_EQ("", r.message);
  }
  ASSERT_EQ(OptionsStatus::kReady, Load({"*.zip", "/k", dash}).status);
  EXPECT_EQ(dir_ / "*.zip", options_.file_mask);
  EXPECT_TRUE(options_.recurse);
  EXPECT_EQ(WithJobs({dir_ / "zavo", "/k", dash}, 1), options_.nested_command);
}

TEST_F(RunOptionsTest, SwitchesOverrideSettingsAndTheMaskIsCompleted) {
  WriteFile(dir_ / "zavo.ctl",
            "Archives a.ini\nKeepTime yes\nKillExist yes\nFileList x.ion\n"
            "FileList y.ion\n");
  ASSERT_EQ(OptionsStatus::kReady, Load({"/K", "/N", "*.zip"}).status);
  EXPECT_FALSE(options_.conversion.keep_time);
  EXPECT_TRUE(options_.conversion.nested);
  EXPECT_FALSE(options_.recurse);
  EXPECT_TRUE(options_.conversion.kill_exist);
  EXPECT_FALSE(options_.conversion.stop_on_error);
  EXPECT_EQ(dir_ / "a.ini", options_.archivers_file);
  EXPECT_EQ(dir_ / "*.zip", options_.file_mask);
  EXPECT_EQ(start_, options_.conversion.start_folder);
  EXPECT_EQ(2u, options_.list_file_names.size());
  // A nested run gets everything but the mask.
  EXPECT_EQ(WithJobs({dir_ / "zavo", "/K", "/N"}, 1), options_.nested_command);
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

TEST_F(RunOptionsTest, NumbersInTheSettings) {
  struct Case {
    const char* line;
    bool ready;
    std::vector<int> scan_fail_codes;
  } cases[] = {
      {"ScanFailCodes 2", true, {2}},
      {"ScanFailCodes 2, 3\nScanFailCodes 40\tx", false, {}},
      {"ScanFailCodes 2,3\nScanFailCodes 40 255", true, {2, 3, 40, 255}},
      {"ScanFailCodes 0", false, {}},
      {"ScanFailCodes 256", false, {}},
      {"ScanFailCodes -1", false, {}},
      {"MaxDepth deep", false, {}},
      {"MaxFileSize 2Q", false, {}},
  };
  for (const Case& c : cases) {
    WriteFile(dir_ / "zavo.ctl", std::string("Archives a.ini\n") + c.line);
    const OptionsResult r = Load({"*.zip"});
    EXPECT_EQ(c.ready, r.status == OptionsStatus::kReady) << c.line;
    if (c.ready) {
      EXPECT_EQ(c.scan_fail_codes, options_.conversion.scan_fail_codes)
          << c.line;
    } else {
      EXPECT_EQ("wrong ", r.message.substr(0, 6)) << c.line;
    }
  }
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
  // A nested run is told the very file (on POSIX it is handed the report
  // itself, open, when it starts), and no parent of this run's.
  std::vector<std::string> nested =
      WithJobs({dir_ / "zavo", "/r", "/n", "/k"}, 1);
  if (kIsWin32) {
    nested.push_back("--report");
    nested.push_back(dir_ / "r.jsonl");
  }
  EXPECT_EQ(nested, options_.nested_command);

  ASSERT_EQ(OptionsStatus::kReady, Load({"*.zip"}).status);
  EXPECT_EQ(dir_ / "from.ctl", options_.report_file);
  EXPECT_EQ("", options_.report_parent);

  EXPECT_EQ(OptionsStatus::kUsage, Load({"*.zip", "--report"}).status);
  EXPECT_EQ(OptionsStatus::kUsage, Load({"--report", "", "*.zip"}).status);
  EXPECT_EQ(OptionsStatus::kUsage, Load({"--report", "r.jsonl"}).status);
}

TEST_F(RunOptionsTest, JobsAndShards) {
  WriteFile(dir_ / "zavo.ctl", "Archives a.ini\nJobs 3\n");
  int processors = static_cast<int>(std::thread::hardware_concurrency());
  if (processors == 0) processors = 1;
  struct Case {
    std::vector<std::string> params;
    OptionsStatus status;
    int jobs, shard, shards;
  } cases[] = {
      {{"*.zip"}, OptionsStatus::kReady, 3, 0, 0},  // the key
      {{"-j", "2", "*.zip"}, OptionsStatus::kReady, 2, 0, 0},
      {{"/j:5", "*.zip"}, OptionsStatus::kReady, 5, 0, 0},
      {{"-j", "0", "*.zip"}, OptionsStatus::kReady, processors, 0, 0},
      {{"-j", "x", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"-j", "-1", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"-j", "99999", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"*.zip", "-j"}, OptionsStatus::kUsage, 0, 0, 0},
      {{"--shard", "2/3", "*.zip"}, OptionsStatus::kReady, 3, 2, 3},
      {{"--shard", "1/1", "*.zip"}, OptionsStatus::kReady, 3, 1, 1},
      {{"--shard", "0/3", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"--shard", "4/3", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"--shard", "3", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
      {{"--shard", "1/0", "*.zip"}, OptionsStatus::kFatal, 0, 0, 0},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& p : c.params) line += p + " ";
    if (!kDashSwitches && line.find("-j ") != std::string::npos) continue;
    options_ = RunOptions();
    OptionsResult r = Load(c.params);
    EXPECT_EQ(c.status, r.status) << line;
    if (r.status != OptionsStatus::kReady) continue;
    EXPECT_EQ(c.jobs, options_.jobs) << c.params[0];
    EXPECT_EQ(c.shard, options_.shard_index) << c.params[0];
    EXPECT_EQ(c.shards, options_.shard_count) << c.params[0];
    // Neither is counted among the four parameters, nor passed on but as
    // the number of jobs.
    EXPECT_EQ(dir_ / "*.zip", options_.file_mask);
    EXPECT_EQ(WithJobs({dir_ / "zavo"}, c.jobs), options_.nested_command);
  }
  WriteFile(dir_ / "zavo.ctl", "Archives a.ini\nJobs many\n");
  EXPECT_EQ(OptionsStatus::kFatal, Load({"*.zip"}).status);
}

TEST_F(RunOptionsTest, TargetKeepQuietAndVerbose) {
  const std::string dash_t = kDashSwitches ? "-t" : "--to";
  const std::vector<std::string> tar_passed_on =
      kDashSwitches ? std::vector<std::string>{"--to", "tar"}
                    : std::vector<std::string>{"/t:tar"};
  struct Case {
    const char* settings;
    std::vector<std::string> params;
    OptionsStatus status;
    std::string target;
    bool keep, quiet, verbose;
  } cases[] = {
      {"", {"*.zip"}, OptionsStatus::kReady, "", false, false, false},
      {"Target zip\nKeepOriginal yes\n",
       {"*.zip"},
       OptionsStatus::kReady,
       "zip",
       true,
       false,
       false},
      // The switch wins over the key, in each of its forms.
      {"Target zip\n",
       {dash_t, "tar", "*.zip"},
       OptionsStatus::kReady,
       "tar",
       false,
       false,
       false},
      {"Target zip\n",
       {"*.zip", "--to", "tar"},
       OptionsStatus::kReady,
       "tar",
       false,
       false,
       false},
      {"",
       {"/T:tar", "*.zip"},
       OptionsStatus::kReady,
       "tar",
       false,
       false,
       false},
      {"KeepOriginal no\n",
       {"--keep", "--quiet", "--verbose", "*.zip"},
       OptionsStatus::kReady,
       "",
       true,
       true,
       true},
      {"", {"/q", "/V", "*.zip"}, OptionsStatus::kReady, "", false, true, true},
      // None of them is among the four parameters.
      {"",
       {"/r", "/n", "/k", "/q", "--keep", "/v", "--to", "tar", "*.zip"},
       OptionsStatus::kReady,
       "tar",
       true,
       true,
       true},
      {"", {"*.zip", "--to"}, OptionsStatus::kUsage, "", false, false, false},
      {"", {"/t:", "*.zip"}, OptionsStatus::kUsage, "", false, false, false},
      // The kind took the mask's place.
      {"", {"--to", "*.zip"}, OptionsStatus::kUsage, "", false, false, false},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& p : c.params) line += p + " ";
    WriteFile(dir_ / "zavo.ctl", "Archives a.ini\n" + std::string(c.settings));
    OptionsResult r = Load(c.params);
    ASSERT_EQ(c.status, r.status) << line;
    if (r.status != OptionsStatus::kReady) continue;
    EXPECT_EQ(c.target, options_.target_name) << line;
    EXPECT_EQ(c.keep, options_.conversion.keep_original) << line;
    EXPECT_EQ(c.quiet, options_.quiet) << line;
    EXPECT_EQ(c.verbose, options_.verbose) << line;
    EXPECT_EQ(c.quiet, AsksForQuiet([&] {
                std::vector<std::string> args = c.params;
                args.insert(args.begin(), "zavo");
                return args;
              }()))
        << line;
    // Nested runs get the target, and learn the rest from their parent.
    std::vector<std::string> nested = options_.nested_command;
    bool passed_on =
        std::search(nested.begin(), nested.end(), tar_passed_on.begin(),
                    tar_passed_on.end()) != nested.end();
    EXPECT_EQ(c.target == "tar", passed_on) << line;
    for (const std::string& p : nested) {
      EXPECT_TRUE(p != "--keep" && p != "/q" && p != "--quiet" && p != "/v")
          << line;
    }
  }
}

TEST(ShardTest, StableAndSpread) {
  // FNV-1a 64: the offset basis for no bytes, and a known value for "a"
  // (0xaf63dc4c8601ec8c).
  EXPECT_EQ(static_cast<int>(14695981039346656037ull % 7) + 1,
            ShardOfFolder("", 7));
  EXPECT_EQ(static_cast<int>(0xaf63dc4c8601ec8cull % 10) + 1,
            ShardOfFolder("a", 10));
  int counts[4] = {0, 0, 0, 0};
  for (int i = 0; i < 400; ++i) {
    int shard = ShardOfFolder("x/" + std::to_string(i), 4);
    ASSERT_GE(shard, 1);
    ASSERT_LE(shard, 4);
    ++counts[shard - 1];
  }
  for (int n : counts) EXPECT_GT(n, 50);
}

}  // namespace
}  // namespace zavo
