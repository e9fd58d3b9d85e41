#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "conversion/archive_conversion.h"
#include "fs/file_tree.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// "x" extracts a member, "a" writes the archive; each verb exits with the
// code set for it. It runs in the test's process, so a held folder's
// "/dev/fd/N" leads where it leads a child.
class FakeRunner : public CommandRunner {
 public:
  ProcessResult Run(const ChildSpec& launch) override {
    const std::string folder = "/dev/fd/" + std::to_string(launch.folder);
    const std::string& command = launch.command;
    std::string verb = command.substr(0, command.find(' '));
    if (verb == "x") WriteFile(folder + "/member.txt", "m");
    if (verb == "a") {
      std::string name = command.substr(3, command.find('\'', 3) - 3);
      WriteFile(folder + "/" + name, "packed");
    }
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    result.exit_code = codes[verb];
    return result;
  }
  std::map<std::string, int> codes;
};

class CollectingSink : public OutputSink {
 public:
  void Line(const std::string& text) override { lines.push_back(text); }
  void Note(const std::string& text) override { notes.push_back(text); }
  std::vector<std::string> lines;
  std::vector<std::string> notes;
};

class ArchiveConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    archivers_.AddDefinition("7z", "", "", "a @ArcName", "t @ArcName");
    archivers_.AddDefinition("zip", "", "x @ArcName", "", "");
  }
  // The conversion of the zip archive `name` in the test's folder.
  std::unique_ptr<ArchiveConversion> Convert(const std::string& name) {
    ArchiveSource source;
    EXPECT_TRUE(HeldFolder::Open(dir_.path(), &source.folder));
    EXPECT_TRUE(source.folder.OpenFile(name, &source.file));
    EXPECT_TRUE(source.file.Stat(&source.status));
    source.name = name;
    source.path = dir_ / name;
    source.kind = 1;
    return std::unique_ptr<ArchiveConversion>(new ArchiveConversion(
        settings_, archivers_, &runner_, std::move(source), -1, -1));
  }
  // Prepares and commits; the result of the step that ended it.
  ConversionResult Run(ArchiveConversion* conversion) {
    ConversionResult result;
    if (!conversion->Prepare(&out_, nullptr, nullptr, &result)) return result;
    return conversion->Commit(&out_, nullptr, nullptr, nullptr);
  }

  ScopedTempDir dir_;
  FakeRunner runner_;
  ArchiverList archivers_;
  ConversionSettings settings_;
  CollectingSink out_;
};

TEST_F(ArchiveConversionTest, ResultNamesTheFailedStep) {
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
    runner_.codes.clear();
    runner_.codes[c.verb] = 1;
    settings_.stop_on_error = c.stop_on_error;
    out_.lines.clear();
    WriteFile(dir_ / "a.zip", "old");
    ConversionResult r = Run(Convert("a.zip").get());
    EXPECT_EQ(ConversionStatus::kFailed, r.status) << c.verb;
    EXPECT_EQ(c.step, r.step) << c.verb;
    std::string message =
        std::string(StepName(c.step)) + " mistake on [" + dir_ / "a.zip].";
    EXPECT_EQ(message, r.message);
    // With StopOnError the caller prints the message as the fatal stop.
    EXPECT_EQ(c.stop_on_error
                  ? std::vector<std::string>()
                  : std::vector<std::string>{message + " next archive!"},
              out_.lines);
    EXPECT_EQ("old", ReadFile(dir_ / "a.zip"));
    EXPECT_FALSE(FileExists(dir_ / "a.7z"));
  }
}

// A prepared archive waits, its work folder held, until it is committed or
// discarded; what the name is taken by decides only then.
TEST_F(ArchiveConversionTest, PreparedArchivesGoInPlaceOrAreDiscarded) {
  WriteFile(dir_ / "a.zip", "old");
  WriteFile(dir_ / "b.zip", "old");
  WriteFile(dir_ / "c.zip", "old");
  auto a = Convert("a.zip");
  auto b = Convert("b.zip");
  auto c = Convert("c.zip");
  ConversionResult r;
  ASSERT_TRUE(a->Prepare(&out_, nullptr, nullptr, &r));
  ASSERT_TRUE(b->Prepare(&out_, nullptr, nullptr, &r));
  ASSERT_TRUE(c->Prepare(&out_, nullptr, nullptr, &r));
  // Taken while b waited.
  WriteFile(dir_ / "b.7z", "other");
  r = a->Commit(&out_, nullptr, nullptr, nullptr);
  EXPECT_EQ(ConversionStatus::kDone, r.status);
  EXPECT_EQ(dir_ / "a.7z", r.final_name);
  r = b->Commit(&out_, nullptr, nullptr, nullptr);
  EXPECT_EQ(ConversionStatus::kNameTaken, r.status);
  EXPECT_EQ(ConversionStep::kPutInPlace, r.step);
  c->Discard();
  EXPECT_EQ(
      (std::vector<std::string>{"[a.zip] -> [a.7z] done!",
                                "[b.zip] -> [b.7z] exists, not replaced!"}),
      out_.lines);
  EXPECT_EQ("other", ReadFile(dir_ / "b.7z"));
  EXPECT_EQ("old", ReadFile(dir_ / "b.zip"));
  EXPECT_EQ("old", ReadFile(dir_ / "c.zip"));
  EXPECT_FALSE(FileExists(dir_ / "c.7z"));
  EXPECT_FALSE(FileExists(dir_ / "a.zip"));
}

// KillExist replaces a name only where the file there could be the old
// archive's owner's own: never a folder, a read-only file, one of this
// run's own products, or (in an upload folder) another user's file.
TEST_F(ArchiveConversionTest, KillExistReplacesOnlyWhatItMay) {
  settings_.kill_exist = true;
  WriteFile(dir_ / "a.zip", "old");
  WriteFile(dir_ / "a.7z", "mine");
  WriteFile(dir_ / "r.zip", "old");
  WriteFile(dir_ / "r.7z", "read-only");
  chmod((dir_ / "r.7z").c_str(), 0444);
  WriteFile(dir_ / "p.zip", "old");
  WriteFile(dir_ / "p.7z", "made by this run");
  SortedTextList made;
  made.Insert(dir_ / "p.7z");
  WriteFile(dir_ / "f.zip", "old");
  mkdir((dir_ / "f.7z").c_str(), 0755);
  WriteFile(dir_ / "n.zip", "old");
  using Taken = ArchiveConversion::Taken;
  struct Case {
    const char* name;
    const SortedTextList* made;
    Taken taken;
  } cases[] = {{"a.zip", nullptr, Taken::kReplaceable},
               {"r.zip", nullptr, Taken::kBlocked},
               {"f.zip", nullptr, Taken::kBlocked},
               {"p.zip", &made, Taken::kKept},
               {"n.zip", nullptr, Taken::kFree}};
  for (const Case& c : cases) {
    EXPECT_EQ(c.taken, Convert(c.name)->NameTaken(c.made)) << c.name;
  }
  if (geteuid() == 0) {
    // Another user's file of that name stays, KillExist or not.
    WriteFile(dir_ / "o.zip", "old");
    WriteFile(dir_ / "o.7z", "theirs");
    ASSERT_EQ(0, chown((dir_ / "o.7z").c_str(), 4242, 4242));
    EXPECT_EQ(Taken::kKept, Convert("o.zip")->NameTaken(nullptr));
  }
}

}  // namespace
}  // namespace zavo
