#include "config/settings_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace zavo {
namespace {

const char* const kKeys[] = {"Recurse",   "Nested",   "KeepTime", "StopOnError",
                             "KillExist", "Archives", "AddFile",  "DeleteFile",
                             "Scan",      "FileList"};
constexpr int kRecurse = 1;
constexpr int kArchives = 6;
constexpr int kAddFile = 7;
constexpr int kScan = 9;

class SettingsFileTest : public ::testing::Test {
 protected:
  SettingsFileTest() {
    for (const char* key : kKeys) settings_.AddKey(key);
  }

  // Loads `data` as the settings file and expects success.
  void Load(const std::string& data) {
    WriteFile(path_, data);
    Status loaded = settings_.Load(path_);
    ASSERT_TRUE(loaded) << loaded.message();
  }

  std::vector<std::string> Values(int key) const {
    std::vector<std::string> values;
    for (int i = 1; i <= settings_.ValueCount(key); ++i) {
      values.push_back(settings_.Value(key, i));
    }
    return values;
  }

  std::vector<int> BadLines() const {
    std::vector<int> lines;
    for (int i = 1; i <= settings_.BadLineCount(); ++i) {
      lines.push_back(settings_.BadLine(i));
    }
    return lines;
  }

  ScopedTempDir dir_;
  std::string path_ = dir_ / "zavo.ctl";
  SettingsFile settings_;
};

using Strings = std::vector<std::string>;

TEST_F(SettingsFileTest, ReadsOneLine) {
  const struct {
    const char* line;
    int key;               // 0: no key gets a value
    const char* expected;  // the key's only value
    bool bad;
  } kCases[] = {
      {"Recurse=yes", 0, "", true},
      {"RecurseYes", 0, "", true},
      {"recurse   yes", kRecurse, "yes", false},
      {"RECURSE\tyes", kRecurse, "yes", false},
      {"  Recurse yes  ", kRecurse, "yes", false},
      {"Recurse", 0, "", false},
      {"Recurse \"\"", 0, "", false},
      {"Scan *.zip ; old ones", kScan, "*.zip", false},
      {"Scan ; only a comment", 0, "", false},
      {"Archives \"C:\\My Files\\arc.ini\"", kArchives, "C:\\My Files\\arc.ini",
       false},
      {"Archives \"\"a \"b\" c\"", kArchives, "a \"b\" c", false},
      {"Scan \"  x  \"", kScan, "  x  ", false},
      {"Scan clamscan \"@Folder\"", kScan, "clamscan \"@Folder\"", false},
      {"Scan \"C:\\av\\scan.exe\" @Folder", kScan,
       "\"C:\\av\\scan.exe\" @Folder", false},
      {"Scan \"", kScan, "\"", false},
      {"Scan tool @PAD{LEFT|.|6|ab}", kScan, "tool @PAD{LEFT|.|6|ab}", false},
      {"; comment", 0, "", false},
      {" \t ", 0, "", false},
      {"", 0, "", false},
      {"@Define", 0, "", false},
      {"@define   ", 0, "", false},
      {"@DefineX a b", 0, "", true},
      {"Unknown value", 0, "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.line);
    SettingsFile settings;
    for (const char* key : kKeys) settings.AddKey(key);
    WriteFile(path_, c.line);
    ASSERT_TRUE(settings.Load(path_));
    for (int key = 1; key <= 10; ++key) {
      EXPECT_EQ(key == c.key ? 1 : 0, settings.ValueCount(key)) << key;
    }
    if (c.key != 0) {
      EXPECT_EQ(c.expected, settings.Value(c.key, 1));
    }
    EXPECT_EQ(c.bad ? 1 : 0, settings.BadLineCount());
  }
}

TEST_F(SettingsFileTest, GathersValuesAndCountsEveryLine) {
  Load(
      "AddFile b.txt\r\n; comment\r\n\r\nwrong\nAddFile a.txt\n\rbad=1\r"
      "AddFile c.txt");
  EXPECT_EQ((Strings{"b.txt", "a.txt", "c.txt"}), Values(kAddFile));
  EXPECT_EQ((std::vector<int>{4, 6}), BadLines());
}

TEST_F(SettingsFileTest, IndexesOutOfRangeReadAsNothing) {
  Load("Recurse yes\nwrong\n");
  EXPECT_EQ("", settings_.Value(0, 1));
  EXPECT_EQ("", settings_.Value(11, 1));
  EXPECT_EQ("", settings_.Value(1, 0));
  EXPECT_EQ("", settings_.Value(1, 2));
  EXPECT_EQ("", settings_.Value(2, 1));
  EXPECT_EQ(0, settings_.ValueCount(0));
  EXPECT_EQ(0, settings_.ValueCount(11));
  EXPECT_EQ(-1, settings_.BadLine(0));
  EXPECT_EQ(-1, settings_.BadLine(2));
  EXPECT_EQ(2, settings_.BadLine(1));
}

TEST_F(SettingsFileTest, SubstitutesDefinedMacros) {
  Load(
      "@define ROOT c:\\arc\n"
      "Archives ROOT\\defs.ini\n"
      "Scan root\\a Root\\b\n"
      "@Define CMD pk -a\n"
      "Scan CMD\n"
      "Scan @@CMD\n");
  EXPECT_EQ((Strings{"c:\\arc\\defs.ini"}), Values(kArchives));
  EXPECT_EQ((Strings{"c:\\arc\\a c:\\arc\\b", "pk", "@CMD"}), Values(kScan));
  EXPECT_TRUE(BadLines().empty());
}

TEST_F(SettingsFileTest, MacrosDoNotBreakKeysOrDefinitions) {
  Load(
      "@Define X 1\n"
      "@Define X 2\n"           // redefines X
      "Scan tool -v1 X\n"       // no macro "1" was made
      "@Define ARC /srv/arc\n"  // a part of "Archives"
      "Archives ARC/a.ini\n"
      "@Define ROOT /r\n"
      "@Define SUB ROOT/sub\n"  // values use earlier macros
      "Scan SUB\n");
  EXPECT_EQ((Strings{"tool -v1 2", "/r/sub"}), Values(kScan));
  EXPECT_EQ((Strings{"/srv/arc/a.ini"}), Values(kArchives));
  EXPECT_TRUE(BadLines().empty());
}

TEST_F(SettingsFileTest, MacrosCanSpellAKeyOrEmptyALine) {
  Load(
      "@Define K Scan\n"
      "K x\n"
      "@Define GONE\n"
      "GONE\n");
  EXPECT_EQ((Strings{"x"}), Values(kScan));
  EXPECT_EQ((std::vector<int>{4}), BadLines());
}

TEST_F(SettingsFileTest, LinesThatWouldBeCutAreBad) {
  std::string long_value(260, 'x');
  std::string fits(240, 'y');
  Load("Scan " + long_value + "\n" +         // 1: too long
       "Scan short ;" + long_value + "\n" +  // 2: long comment
       "@Define LONG " + fits + "\n" +       // 3
       "Scan LONG LONG\n" +                  // 4: too long expanded
       "Scan LONG\n");                       // 5
  EXPECT_EQ((Strings{"short", fits}), Values(kScan));
  EXPECT_EQ((std::vector<int>{1, 4}), BadLines());
}

TEST_F(SettingsFileTest, LoadFailsWithoutKeysOrFile) {
  SettingsFile no_keys;
  WriteFile(path_, "Recurse yes\n");
  Status loaded = no_keys.Load(path_);
  EXPECT_FALSE(loaded);
  EXPECT_NE(std::string::npos, loaded.message().find("no keys"));

  loaded = settings_.Load(dir_ / "missing.ctl");
  EXPECT_TRUE(loaded.missing());
  EXPECT_NE(std::string::npos, loaded.message().find("missing.ctl"));
  EXPECT_FALSE(settings_.Load(dir_.path()));  // a folder is not a file
  EXPECT_EQ(0, settings_.ValueCount(kRecurse));
}

TEST_F(SettingsFileTest, SecondLoadAppendsValuesAndForgetsBadLines) {
  Load("AddFile one\nbad\n");
  Load("AddFile two\n");
  EXPECT_EQ((Strings{"one", "two"}), Values(kAddFile));
  EXPECT_EQ(0, settings_.BadLineCount());
}

TEST_F(SettingsFileTest, OnlyTheFirstOfTwoEqualKeysGetsValues) {
  settings_.AddKey("scan");
  Load("SCAN a\n");
  EXPECT_EQ(1, settings_.ValueCount(kScan));
  EXPECT_EQ(0, settings_.ValueCount(11));
}

TEST_F(SettingsFileTest, EmptyFileHoldsNothing) {
  Load("");
  EXPECT_EQ(0, settings_.BadLineCount());
  for (int key = 1; key <= 10; ++key) EXPECT_EQ(0, settings_.ValueCount(key));
}

}  // namespace
}  // namespace zavo
