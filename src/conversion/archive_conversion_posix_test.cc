#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "conversion/archive_conversion.h"
#include "fs/file_tree.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// "x" extracts a member, "a" writes the archive; each verb exits with the
// code set for it.
class FakeRunner : public CommandRunner {
 public:
  unsigned char RunCommand(const std::string& command,
                           const std::string& folder) override {
    std::string verb = command.substr(0, command.find(' '));
    if (verb == "x") WriteFile(folder + "/member.txt", "m");
    if (verb == "a") {
      std::string name = command.substr(3, command.find('\'', 3) - 3);
      WriteFile(folder + "/" + name, "packed");
    }
    return codes[verb];
  }
  unsigned char RunProgram(const std::vector<std::string>&,
                           const std::string&) override {
    return 0;
  }
  std::map<std::string, unsigned char> codes;
};

class CollectingSink : public OutputSink {
 public:
  void Line(const std::string& text) override { lines.push_back(text); }
  std::vector<std::string> lines;
};

TEST(ArchiveConversionTest, ResultNamesTheFailedStep) {
  struct Case {
    const char* verb;
    bool stop_on_error;
    ConversionStep step;
  } cases[] = {
      {"x", false, ConversionStep::kExtract},
      {"a", false, ConversionStep::kPack},
      {"t", true, ConversionStep::kTest},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    FakeRunner runner;
    runner.codes[c.verb] = 1;
    ArchiverList archivers(&runner);
    archivers.AddDefinition("7z", "", "", "a @ArcName", "t @ArcName");
    archivers.AddDefinition("zip", "", "x @ArcName", "", "");
    RunOptions options;
    options.stop_on_error = c.stop_on_error;
    CollectingSink out;
    WriteFile(dir / "a.zip", "old");
    ArchiveConversion conversion(options, &archivers, &runner, &out,
                                 dir / "a.zip");
    ASSERT_TRUE(conversion.Recognise());
    ConversionResult r = conversion.Run(nullptr);
    EXPECT_EQ(ConversionStatus::kFailed, r.status) << c.verb;
    EXPECT_EQ(c.step, r.step) << c.verb;
    std::string message =
        std::string(StepName(c.step)) + " mistake on [" + dir / "a.zip].";
    EXPECT_EQ(message, r.message);
    // With StopOnError the caller prints the message as the fatal stop.
    EXPECT_EQ(c.stop_on_error
                  ? std::vector<std::string>()
                  : std::vector<std::string>{message + " next archive!"},
              out.lines);
    EXPECT_EQ("old", ReadFile(dir / "a.zip"));
    EXPECT_FALSE(FileExists(dir / "a.7z"));
  }
}

TEST(ArchiveConversionTest, DoneAndTakenNames) {
  ScopedTempDir dir;
  FakeRunner runner;
  ArchiverList archivers(&runner);
  archivers.AddDefinition("7z", "", "", "a @ArcName", "");
  archivers.AddDefinition("zip", "", "x @ArcName", "", "");
  RunOptions options;
  CollectingSink out;
  WriteFile(dir / "a.zip", "old");
  WriteFile(dir / "b.zip", "old");
  WriteFile(dir / "b.7z", "other");

  ArchiveConversion a(options, &archivers, &runner, &out, dir / "a.zip");
  ASSERT_TRUE(a.Recognise());
  ConversionResult r = a.Run(nullptr);
  EXPECT_EQ(ConversionStatus::kDone, r.status);
  EXPECT_EQ(ConversionStep::kNone, r.step);
  EXPECT_EQ(dir / "a.7z", r.final_name);

  ArchiveConversion b(options, &archivers, &runner, &out, dir / "b.zip");
  ASSERT_TRUE(b.Recognise());
  r = b.Run(nullptr);
  EXPECT_EQ(ConversionStatus::kNameTaken, r.status);
  EXPECT_EQ(ConversionStep::kPutInPlace, r.step);
  EXPECT_EQ(
      (std::vector<std::string>{"[a.zip] -> [a.7z] done!",
                                "[b.zip] -> [b.7z] exists, not replaced!"}),
      out.lines);
  EXPECT_EQ("other", ReadFile(dir / "b.7z"));

  // Not an archive of a kind to convert: the target kind and other files.
  ArchiveConversion target(options, &archivers, &runner, &out, dir / "b.7z");
  EXPECT_FALSE(target.Recognise());
}

}  // namespace
}  // namespace zavo
