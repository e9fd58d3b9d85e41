#include "archivers/archiver_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "archivers/archiver_commands.h"
#include "archivers/command_runner.h"
#include "config/shell_quote.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

// Keeps every command with where it runs and answers with the exit codes
// it was given, then 0.
class RecordingRunner : public CommandRunner {
 public:
  struct Call {
    std::string command;
    std::string folder;
  };

  ProcessResult Run(const ChildSpec& launch) override {
    calls.push_back({launch.command, launch.folder_path});
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    if (!codes.empty()) {
      result.exit_code = codes.front();
      codes.erase(codes.begin());
    }
    return result;
  }

  std::vector<Call> calls;
  std::vector<int> codes;
};

// Where a command runs.
ChildSpec In(const std::string& folder) {
  ChildSpec launch;
  launch.folder_path = folder;
  return launch;
}

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
  ArchiverList list;
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
  ArchiverList read_only;
  read_only.AddDefinitionsFromFile(path, false);
  ASSERT_EQ(1u, read_only.size());
  std::ifstream again(dir_ / "archivers.ini", std::ios::binary);
  EXPECT_EQ(untidy, std::string((std::istreambuf_iterator<char>(again)),
                                std::istreambuf_iterator<char>()));
}

// A list template is read with the others, refused where its macro's
// quoting is not proven, and run with the archive's name.
TEST_F(ArchiverCommandTest, ListTemplatesAreReadCheckedAndRun) {
  const std::string path = folder_ + "archivers.ini";
  std::ofstream(dir_ / "archivers.ini", std::ios::binary)
      << "[7z]\nextension=7z\n[arj]\nextension=arj\n"
         "list=lsar -j @ArcName | cat\n[lzh]\nextension=lzh\n"
         "list=sh -c \"lsar -j @ArcName\"\n";
  ArchiverList list;
  std::vector<ArchiverList::RefusedTemplate> refused =
      list.AddDefinitionsFromFile(path, false);
  // Win32 quotes no macro for a shell, and refuses none.
  ASSERT_EQ(kQuotesForShell ? 1u : 0u, refused.size());
  if (kQuotesForShell) {
    EXPECT_EQ("lzh", refused[0].section);
    EXPECT_EQ("list", refused[0].key);
  }
  const std::string source = folder_ + "link/old.arj";
  EXPECT_TRUE(
      ListArchive(list.definition(1), source, In(work_), &runner_).succeeded());
  EXPECT_EQ(CommandOutcome::Kind::kNoTemplate,
            ListArchive(list.definition(0), source, In(work_), &runner_).kind);
  ASSERT_EQ(1u, runner_.calls.size());
  EXPECT_EQ("lsar -j " + Quoted("lsar -j ", source) + " | cat",
            runner_.calls[0].command);
  EXPECT_EQ(work_, runner_.calls[0].folder);
}

// Each operation puts the archive and the file name of its own into its
// template, runs where it is told, and says how the command ended.
TEST_F(ArchiverCommandTest, OperationsFillTheirTemplatesAndRunWhereTold) {
  ArchiverDefinition definition("arj", "", "unpk x @ArcName @FileName",
                                "pk a @ArcName @FileName",
                                "tst @arcname @FileName");
  const std::string archive = Write("OLD.ARJ");
  runner_.codes = {7, 0, 2};
  CommandOutcome extracted =
      ExtractArchive(definition, archive, In(work_), &runner_);
  CommandOutcome packed =
      PackArchive(definition, "new.7z", In(work_), &runner_);
  CommandOutcome tested = TestArchive(definition, "new.7z", In(""), &runner_);
  EXPECT_EQ(7, extracted.process.exit_code);
  EXPECT_FALSE(extracted.succeeded());
  EXPECT_TRUE(packed.succeeded());
  EXPECT_EQ("exited with 2", tested.Describe());
  ASSERT_EQ(3u, runner_.calls.size());
  const std::string x = "unpk x " + Quoted("unpk x ", archive) + " ";
  EXPECT_EQ(x + Quoted(x, kExtractFileName), runner_.calls[0].command);
  EXPECT_EQ(work_, runner_.calls[0].folder);
  const std::string a = "pk a " + Quoted("pk a ", "new.7z") + " ";
  EXPECT_EQ(a + Quoted(a, kPackFileName), runner_.calls[1].command);
  // The test has no file name: the macro stays as written.
  EXPECT_EQ("tst " + Quoted("tst ", "new.7z") + " @FileName",
            runner_.calls[2].command);
}

TEST_F(ArchiverCommandTest, WhatIsNotRunSaysWhy) {
  struct Case {
    std::string test_template;
    std::string name;
    CommandOutcome::Kind kind;
  };
  std::string longest(MaxCommandLength() - 2, 'a');
  while (2 + Quoted("t ", longest).size() > MaxCommandLength()) {
    longest.pop_back();
  }
  const Case cases[] = {
      {"", "a.7z", CommandOutcome::Kind::kNoTemplate},
      {"t @ArcName", longest, CommandOutcome::Kind::kRan},
      {"t @ArcName", longest + "a", CommandOutcome::Kind::kTooLong},
      // A "|" that a function would take for its own separator.
      {"t @PAD{LEFT|.|30|@ArcName}", "a|b.zip", CommandOutcome::Kind::kUnsafe},
  };
  for (const Case& c : cases) {
    ArchiverDefinition definition("", "", "", "", c.test_template);
    runner_.calls.clear();
    CommandOutcome outcome = TestArchive(definition, c.name, In(""), &runner_);
    EXPECT_EQ(c.kind, outcome.kind) << c.test_template;
    EXPECT_EQ(c.kind == CommandOutcome::Kind::kRan ? 1u : 0u,
              runner_.calls.size());
  }
  ASSERT_TRUE(runner_.calls.size() <= 1);
}

TEST_F(ArchiverCommandTest, MacrosAndFunctionsExpandAsWritten) {
  struct Case {
    std::string test_template;
    std::string name;
    std::string command;  // empty: not run
  };
  const std::string first = "t " + Quoted("t ", "a.7z") + "|";
  const Case cases[] = {
      // Macro names match in any letter case.
      {"t @ARCNAME|@arcName", "a.7z", first + Quoted(first, "a.7z")},
      {"t @PAD{RIGHT|-|3|abcdef} @NUM{,|1234}", "a.7z", "t abc 1,234"},
      // An inserted value is never substituted into again.
      {"t @ArcName", "/arc/x@ARCNAME@FileName.zip",
       "t " + Quoted("t ", "/arc/x@ARCNAME@FileName.zip")},
      // A text function may cut a quoted name apart; only names that need
      // no quoting may meet one.
      {"t @PAD{LEFT|.|9|@ArcName}", "it's;x.7z",
       kQuotesForShell ? "" : "t it's;x.7z"},
      {"t @PAD{LEFT|.|24|@ArcName}", "/arc/plain-name_1.7z",
       kQuotesForShell ? "t ..'/arc/plain-name_1.7z'"
                       : "t ..../arc/plain-name_1.7z"},
  };
  for (const Case& c : cases) {
    ArchiverDefinition definition("", "", "", "", c.test_template);
    runner_.calls.clear();
    TestArchive(definition, c.name, In(""), &runner_);
    if (c.command.empty()) {
      EXPECT_TRUE(runner_.calls.empty()) << c.test_template;
    } else {
      ASSERT_EQ(1u, runner_.calls.size()) << c.test_template;
      EXPECT_EQ(c.command, runner_.calls[0].command);
    }
  }
}

}  // namespace
}  // namespace zavo
