#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fs/file_tree.h"
#include "run/run_options.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

using Strings = std::vector<std::string>;

class NullSink : public OutputSink {
 public:
  void Line(const std::string&) override {}
  void Note(const std::string&) override {}
};

TEST(SettingsPlacesTest, BesideTheProgramThenTheUserThenTheSystem) {
  const std::string system = SettingsPlaces("/p/", "", "").back();
  ASSERT_EQ('/', system[0]);
  EXPECT_EQ("/zavo/zavo.ctl", system.substr(system.size() - 14));
  const struct {
    const char* xdg;
    const char* home;
    Strings places;
  } kCases[] = {
      {"/cfg", "/home/u", {"/p/zavo.ctl", "/cfg/zavo/zavo.ctl", system}},
      {"/cfg/", "/home/u", {"/p/zavo.ctl", "/cfg/zavo/zavo.ctl", system}},
      {"", "/home/u", {"/p/zavo.ctl", "/home/u/.config/zavo/zavo.ctl", system}},
      // Relative values are ignored, as the base directory rules say.
      {"cfg",
       "/home/u",
       {"/p/zavo.ctl", "/home/u/.config/zavo/zavo.ctl", system}},
      {"", "", {"/p/zavo.ctl", system}},
      {"/cfg", "", {"/p/zavo.ctl", "/cfg/zavo/zavo.ctl", system}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.places, SettingsPlaces("/p/", c.xdg, c.home))
        << c.xdg << " " << c.home;
  }
}

// The lookup with the process's environment: the first place that has the
// file wins, and a bare archivers name is looked for beside it.
class SettingsLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CONFIG_HOME");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    MakeFoldersFor(program_ + "/");
    MakeFoldersFor(config_ + "/zavo/");
  }
  void TearDown() override {
    if (had_old_) {
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }
  OptionsResult Load() {
    options_ = RunOptions();
    return LoadRunOptions({program_ + "/zavo", "*.zip"}, dir_.path(), &sink_,
                          nullptr, &options_);
  }

  ScopedTempDir dir_;
  std::string program_ = dir_ / "bin";
  std::string config_ = dir_ / "config";
  NullSink sink_;
  RunOptions options_;
  bool had_old_ = false;
  std::string old_;
};

TEST_F(SettingsLookupTest, FirstPlaceWithTheFileWins) {
  OptionsResult r = Load();
  EXPECT_EQ(OptionsStatus::kFatal, r.status);
  EXPECT_EQ("config file [" + program_ + "/zavo.ctl] or [" + config_ +
                "/zavo/zavo.ctl] or [" + SettingsPlaces("/").back() +
                "] not found",
            r.message);

  WriteFile(config_ + "/zavo/zavo.ctl", "Archives defs.ini\nRecurse yes\n");
  ASSERT_EQ(OptionsStatus::kReady, Load().status);
  EXPECT_EQ(config_ + "/zavo/zavo.ctl", options_.settings_file);
  EXPECT_EQ(config_ + "/zavo/defs.ini", options_.archivers_file);
  EXPECT_TRUE(options_.recurse);

  // A portable install keeps its settings beside the program.
  WriteFile(program_ + "/zavo.ctl", "Archives defs.ini\n");
  ASSERT_EQ(OptionsStatus::kReady, Load().status);
  EXPECT_EQ(program_ + "/zavo.ctl", options_.settings_file);
  EXPECT_EQ(program_ + "/defs.ini", options_.archivers_file);
  EXPECT_FALSE(options_.recurse);
}

}  // namespace
}  // namespace zavo
