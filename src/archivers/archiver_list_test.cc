#include "archivers/archiver_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archivers/command_runner.h"
#include "config/shell_quote.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

// Keeps every command with its folder and answers with the codes it was
// given, then 0.
class RecordingRunner : public CommandRunner {
 public:
  struct Call {
    std::string command;
    std::string folder;
  };

  unsigned char RunCommand(const std::string& command,
                           const std::string& folder) override {
    calls.push_back({command, folder});
    return NextCode();
  }
  unsigned char RunProgram(const std::vector<std::string>& argv,
                           const std::string& folder) override {
    std::string joined;
    for (const std::string& a : argv) joined += a + " ";
    calls.push_back({joined, folder});
    return NextCode();
  }

  std::vector<Call> calls;
  std::vector<unsigned char> codes;

 private:
  unsigned char NextCode() {
    if (codes.empty()) return 0;
    unsigned char code = codes.front();
    codes.erase(codes.begin());
    return code;
  }
};

// A value as it lands in a command after the text `before`.
std::string Quoted(const std::string& before, const std::string& value) {
  return kQuotesForShell ? QuoteForShell(before, value) : value;
}

class ArchiverCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = WithBackslash(dir_.string());
    work_ = folder_ + "1f0c33a7.tmp" + kPathSeparator;
  }

  std::string Write(const std::string& name) {
    std::ofstream(dir_ / name) << "data";
    return folder_ + name;
  }

  ScopedTempDir temp_;
  fs::path dir_{temp_.path()};
  std::string folder_;
  std::string work_;
  RecordingRunner runner_;
};

TEST_F(ArchiverCommandTest, DefinitionsComeFromTheFileWhichIsNormalised) {
  const std::string path = folder_ + "archivers.ini";
  // Binary: a text-mode stream on Win32 would make every "\r\n" "\r\r\n".
  std::ofstream(dir_ / "archivers.ini", std::ios::binary)
      << "[7z]\r\nextension = 7z\r\nadd=pk a @ArcName\r\n[zip]\r\n"
         "ident=0,504B\r\nextract=unpk x @ArcName\r\ntest=unpk t @ArcName\r\n";
  ArchiverList list(&runner_);
  EXPECT_TRUE(list.AddDefinitionsFromFile(path).empty());
  EXPECT_TRUE(list.AddDefinitionsFromFile(folder_ + "missing.ini").empty());

  ASSERT_EQ(2u, list.size());
  EXPECT_EQ("7z", list.definition(0).extension());
  EXPECT_EQ("pk a @ArcName", list.definition(0).add_command());
  EXPECT_EQ(std::string("PK"), list.definition(1).ident_bytes());
  EXPECT_EQ("unpk x @ArcName", list.definition(1).extract_command());
  EXPECT_EQ("unpk t @ArcName", list.definition(1).test_command());
  EXPECT_EQ("7z", list.definition(0).name());
  EXPECT_EQ("zip", list.definition(1).name());
  std::ifstream in(dir_ / "archivers.ini", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  EXPECT_EQ(0u, text.find("[7z]\r\nextension=7z\r\n")) << text;

  // Without write-back the file stays as it is.
  const std::string untidy = "[7z]\nextension = 7z\n";
  std::ofstream(dir_ / "archivers.ini", std::ios::binary) << untidy;
  ArchiverList read_only(&runner_);
  read_only.AddDefinitionsFromFile(path, false);
  ASSERT_EQ(1u, read_only.size());
  std::ifstream again(dir_ / "archivers.ini", std::ios::binary);
  EXPECT_EQ(untidy, std::string((std::istreambuf_iterator<char>(again)),
                                std::istreambuf_iterator<char>()));
}

TEST_F(ArchiverCommandTest, ListPrintsIntoAFileOfItsFolder) {
  const std::string path = folder_ + "archivers.ini";
  std::ofstream(dir_ / "archivers.ini", std::ios::binary)
      << "[7z]\nextension=7z\n[arj]\nextension=arj\n"
         "list=lsar -j @ArcName | cat\n[lzh]\nextension=lzh\n"
         "list=sh -c \"lsar -j @ArcName\"\n";
  ArchiverList list(&runner_);
  std::vector<ArchiverList::RefusedTemplate> refused =
      list.AddDefinitionsFromFile(path, false);
  // Win32 quotes no macro for a shell, and refuses none.
  ASSERT_EQ(kQuotesForShell ? 1u : 0u, refused.size());
  if (kQuotesForShell) {
    EXPECT_EQ("lzh", refused[0].section);
    EXPECT_EQ("list", refused[0].key);
  }
  list.SetArchiveName(Write("old.arj"));
  const std::string source = folder_ + "link/old.arj";
  EXPECT_EQ(0, list.ListFrom(source, work_, "listing.json"));
  ASSERT_EQ(1u, runner_.calls.size());
  // The whole template's output, a pipeline too, goes to the file.
  EXPECT_EQ(
      "{ lsar -j " + Quoted("lsar -j ", source) + " | cat\n} >listing.json",
      runner_.calls[0].command);
  EXPECT_EQ(work_, runner_.calls[0].folder);
  EXPECT_EQ(folder_ + "old.arj", list.archive_name());
}

TEST_F(ArchiverCommandTest, ExtractRunsInTheWorkFolderItMakes) {
  ArchiverList list(&runner_);
  list.AddDefinition("rar", "", "", "", "");
  list.AddDefinition("arj", "", "unpk x @ArcName", "", "");
  const std::string archive = Write("OLD.ARJ");
  const std::string current = GetCurrentFolder();
  list.SetArchiveName(archive);
  runner_.codes = {7};

  EXPECT_EQ(7, list.Extract(work_));
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ("unpk x " + Quoted("unpk x ", archive), runner_.calls[0].command);
  EXPECT_EQ(NoTrailingBackslash(work_), runner_.calls[0].folder);
  EXPECT_TRUE(fs::is_directory(work_));
  EXPECT_EQ(1, list.current());
  EXPECT_EQ(current, GetCurrentFolder());
}

TEST_F(ArchiverCommandTest, PackNamesTheNewArchiveWithTheTargetExtension) {
  ArchiverList list(&runner_);
  list.AddDefinition("rar", "", "", "pk a @ArcName @FileName", "");
  list.AddDefinition("zip", "", "", "", "");
  list.SetArchiveName(Write("OLD.ZIP"));
  ASSERT_EQ(1, list.Identify());

  EXPECT_EQ(0, list.Pack(work_));
  const std::string name = PathFileName(list.archive_name());
  ASSERT_EQ(12u, name.size());
  EXPECT_EQ(std::string::npos,
            name.substr(0, 8).find_first_not_of("0123456789abcdef"));
  EXPECT_EQ(".rar", name.substr(8));
  EXPECT_EQ(work_ + name, list.archive_name());
  EXPECT_EQ(list.archive_name(), list.definition(0).archive_name());
  EXPECT_EQ(1, list.current());

  ASSERT_EQ(1u, runner_.calls.size());
  const std::string before = "pk a " + Quoted("pk a ", name) + " ";
  EXPECT_EQ(before + Quoted(before, kPackFileName), runner_.calls[0].command);
  EXPECT_EQ(NoTrailingBackslash(work_), runner_.calls[0].folder);
}

TEST_F(ArchiverCommandTest, TestRunsInTheCurrentFolderWithoutFileName) {
  ArchiverList list(&runner_);
  list.AddDefinition("7z", "", "", "", "tst @arcname @FileName");
  const std::string archive = Write("new.7z");
  list.SetArchiveName(archive);
  runner_.codes = {2};

  EXPECT_EQ(2, list.Test());
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ("tst " + Quoted("tst ", archive) + " @FileName",
            runner_.calls[0].command);
  EXPECT_EQ("", runner_.calls[0].folder);
}

TEST_F(ArchiverCommandTest, MacroNamesMatchInAnyLetterCase) {
  ArchiverDefinition definition("", "", "", "", "t @ARCNAME|@arcName");
  definition.SetArchiveName("a.7z");
  EXPECT_EQ(0, definition.Test(&runner_));
  ASSERT_EQ(1u, runner_.calls.size());
  const std::string first = "t " + Quoted("t ", "a.7z") + "|";
  EXPECT_EQ(first + Quoted(first, "a.7z"), runner_.calls[0].command);
}

TEST_F(ArchiverCommandTest, NothingToRunGivesNotRun) {
  ArchiverDefinition empty("zip", "", "", "", "");
  empty.SetArchiveName(Write("a.zip"));
  EXPECT_EQ(kNotRun, empty.Extract(work_, &runner_));
  EXPECT_EQ(kNotRun, empty.Pack(work_, &runner_));
  EXPECT_EQ(kNotRun, empty.Test(&runner_));

  ArchiverDefinition unnamed("zip", "", "x", "a", "t");
  EXPECT_EQ(kNotRun, unnamed.Extract(work_, &runner_));
  EXPECT_EQ(kNotRun, unnamed.Test(&runner_));

  // A file where the work folder should be.
  ArchiverDefinition blocked("zip", "", "x @ArcName", "", "");
  blocked.SetArchiveName(Write("b.zip"));
  Write("taken");
  EXPECT_EQ(kNotRun,
            blocked.Extract(folder_ + "taken" + kPathSeparator, &runner_));
  EXPECT_TRUE(runner_.calls.empty());
}

TEST_F(ArchiverCommandTest, NoNameOrNoRecognitionGivesNoArchiver) {
  ArchiverList list(&runner_);
  EXPECT_EQ(kNoArchiver, list.Extract(work_));
  EXPECT_EQ(kNoArchiver, list.Pack(work_));
  list.SetArchiveName(Write("a.zip"));
  EXPECT_EQ(kNoArchiver, list.Pack(work_));  // no definitions
  list.AddDefinition("rar", "", "x", "a", "t");
  EXPECT_EQ(kNoArchiver, list.Extract(work_));
  EXPECT_EQ(kNoArchiver, list.Test());
  EXPECT_TRUE(runner_.calls.empty());
  EXPECT_FALSE(fs::exists(work_));
}

TEST_F(ArchiverCommandTest, RelativeArchiveNameIsMadeAbsoluteForExtract) {
  ArchiverDefinition definition("zip", "", "x @ArcName", "", "");
  definition.SetArchiveName("rel.zip");
  EXPECT_EQ(0, definition.Extract(work_, &runner_));
  ASSERT_EQ(1u, runner_.calls.size());
  const std::string absolute = WithBackslash(GetCurrentFolder()) + "rel.zip";
  EXPECT_EQ("x " + Quoted("x ", absolute), runner_.calls[0].command);
}

TEST_F(ArchiverCommandTest, CommandLongerThanTheInterpreterTakesIsNotRun) {
  ArchiverDefinition definition("", "", "", "", "t @ArcName");
  // The longest name that still fits, then one character more.
  std::string name(MaxCommandLength() - 2, 'a');
  while (2 + Quoted("t ", name).size() > MaxCommandLength()) name.pop_back();
  definition.SetArchiveName(name);
  EXPECT_EQ(0, definition.Test(&runner_));
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ(MaxCommandLength(), runner_.calls[0].command.size());

  definition.SetArchiveName(name + "a");
  EXPECT_EQ(kCommandTooLong, definition.Test(&runner_));
  EXPECT_EQ(1u, runner_.calls.size());
}

TEST_F(ArchiverCommandTest, TemplateFunctionsStillWork) {
  ArchiverDefinition definition("", "", "", "",
                                "t @PAD{RIGHT|-|3|abcdef} @NUM{,|1234}");
  definition.SetArchiveName("a.7z");
  EXPECT_EQ(0, definition.Test(&runner_));
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ("t abc 1,234", runner_.calls[0].command);
}

TEST_F(ArchiverCommandTest, NameHoldingAMacroNameGoesInAsItIs) {
  // An inserted value is never substituted into again.
  ArchiverDefinition definition("", "", "", "", "t @ArcName");
  definition.SetArchiveName("/arc/x@ARCNAME@FileName.zip");
  EXPECT_EQ(0, definition.Test(&runner_));
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ("t " + Quoted("t ", "/arc/x@ARCNAME@FileName.zip"),
            runner_.calls[0].command);
  // A "|" that a function would take for its own separator is refused.
  ArchiverDefinition padded("", "", "", "", "t @PAD{LEFT|.|30|@ArcName}");
  padded.SetArchiveName("a|b.zip");
  EXPECT_EQ(kCommandUnsafe, padded.Test(&runner_));
  EXPECT_EQ(1u, runner_.calls.size());
}

TEST_F(ArchiverCommandTest, FunctionsNeverRunOverNamesTheShellWouldRead) {
  if (!kQuotesForShell) GTEST_SKIP() << "names are quoted for a shell only";
  // A text function may cut a quoted name apart; only names that need no
  // quoting may meet one.
  ArchiverDefinition definition("", "", "", "", "t @PAD{LEFT|.|9|@ArcName}");
  definition.SetArchiveName("it's;x.7z");
  EXPECT_EQ(kCommandUnsafe, definition.Test(&runner_));
  EXPECT_TRUE(runner_.calls.empty());
  definition.SetArchiveName("/arc/plain-name_1.7z");
  EXPECT_EQ(0, definition.Test(&runner_));
  EXPECT_EQ(1u, runner_.calls.size());
}

}  // namespace
}  // namespace zavo
