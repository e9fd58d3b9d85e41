// Commands run for real through /bin/sh: exit codes, folders, and names that
// a shell would otherwise read as code.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archivers/archiver_commands.h"
#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fake archiver that writes its arguments, each ended by a zero byte,
    // to the file "args" beside it.
    std::ofstream(dir_ / "fake.sh")
        << "out=\"$(dirname \"$0\")/args\"\n"
           ": > \"$out\"\n"
           "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$out\"; done\n";
    fs::create_directory(dir_ / "w");
    std::ofstream(dir_ / "w" / "x") << "keep me";
  }

  std::vector<std::string> RecordedArguments() {
    std::ifstream in(dir_ / "args", std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(all, arg, '\0')) args.push_back(arg);
    fs::remove(dir_ / "args");
    return args;
  }

  // Nothing a hostile name could have run has left a trace, also not in
  // the current folder, where a command put in the background would run.
  void ExpectNothingExecuted() {
    for (const fs::path& folder : {dir_, dir_ / "w", fs::current_path()}) {
      EXPECT_FALSE(fs::exists(folder / "pwned")) << folder;
    }
    EXPECT_TRUE(fs::exists(dir_ / "w" / "x"));
  }

  // The 8-bit code of `command` run in `folder`.
  int Code(const std::string& command, const std::string& folder = "") {
    ChildSpec launch;
    launch.command = command;
    launch.folder_path = folder;
    return runner_.Run(launch).Code();
  }
  int Code(const std::vector<std::string>& argv) {
    ChildSpec launch;
    launch.argv = argv;
    return runner_.Run(launch).Code();
  }

  ScopedTempDir temp_;
  fs::path dir_{temp_.path()};
  SystemCommandRunner runner_;
};

TEST_F(CommandTest, ExitCodesAndFailures) {
  struct Case {
    const char* command;
    unsigned char code;
  };
  const Case cases[] = {
      {"exit 0", 0},
      {"exit 3", 3},
      {"exit 300", 44},  // the low 8 bits
      {"exit 256", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.code, Code(c.command)) << c.command;
  }
  EXPECT_NE(0, Code("kill -9 $$"));
  EXPECT_EQ(7, Code(std::vector<std::string>{"/bin/sh", "-c", "exit 7"}));
  EXPECT_NE(
      0, Code(std::vector<std::string>{(dir_ / "no-such-program").string()}));
}

TEST_F(CommandTest, ChildRunsInTheGivenFolder) {
  const std::string folder = (dir_ / "w").string();
  EXPECT_EQ(0, Code("pwd > here", folder));
  std::ifstream in(dir_ / "w" / "here");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(fs::canonical(folder).string(), line);
}

TEST(CommandLengthTest, LongestSingleArgumentIsAccepted) {
  SystemCommandRunner runner;
  ChildSpec launch;
  launch.command = "exit 5 #";
  launch.command.resize(MaxCommandLength(), 'x');
  EXPECT_EQ(5, runner.Run(launch).Code());
}

const char* const kHostileNames[] = {
    "$(touch pwned).zip", "a;rm x;.zip",
    "`touch pwned`.zip",  "it's.zip",
    "say \"hi\".zip",     "'\"'\"'.zip",
    "two  blanks .zip",   "new\nline.zip",
    "-dash.zip",          "$HOME and ${HOME}.zip",
    "back\\slash\\.zip",  "*.zip",
    "x > pwned.zip",      "a|touch pwned.zip",
    "a&touch pwned&.zip", "@NUM{,|1234}.zip",
    "@@PAD{x}.zip",       "}{|.zip",
};

TEST_F(CommandTest, HostileNamesReachTheArchiverExactly) {
  // Test runs in the current folder; each template moves into the folder
  // that the checks look at.
  const std::string run = "cd " + (dir_ / "w").string() + " && sh " +
                          (dir_ / "fake.sh").string() + " t ";
  struct Template {
    std::string text;
    std::string before;  // what the name arrives with
    std::string after;
  };
  const Template templates[] = {
      {run + "@ArcName", "", ""},
      {run + "\"@ArcName\"", "", ""},
      {run + "'@ArcName'", "", ""},
      {run + "x@ArcName\"y\"'z'", "x", "yz"},
  };
  for (const Template& t : templates) {
    ArchiverDefinition definition("", "", "", "", t.text);
    for (const char* name : kHostileNames) {
      SCOPED_TRACE(t.text + " with " + name);
      EXPECT_TRUE(
          TestArchive(definition, name, ChildSpec(), &runner_).succeeded());
      EXPECT_EQ((std::vector<std::string>{"t", t.before + name + t.after}),
                RecordedArguments());
      ExpectNothingExecuted();
    }
  }
}

TEST_F(CommandTest, HostileArchiveIsExtractedAndPackedByItsName) {
  const std::string fake = (dir_ / "fake.sh").string();
  ArchiverDefinition packer("7z", "", "",
                            "sh " + fake + " a @ArcName @FileName", "");
  ArchiverDefinition extractor("zip", "",
                               "sh " + fake + " x @ArcName @FileName", "", "");
  const std::string name = "$(touch pwned); `touch pwned` 'q\".zip";
  std::ofstream(dir_ / name) << "PK";
  const std::string archive = WithBackslash(dir_.string()) + name;
  fs::create_directory(dir_ / "w" / "1f0c33a7.tmp");
  ChildSpec launch;
  launch.folder_path = (dir_ / "w" / "1f0c33a7.tmp").string();

  EXPECT_TRUE(ExtractArchive(extractor, archive, launch, &runner_).succeeded());
  EXPECT_EQ((std::vector<std::string>{"x", archive, kExtractFileName}),
            RecordedArguments());
  EXPECT_TRUE(PackArchive(packer, name, launch, &runner_).succeeded());
  EXPECT_EQ((std::vector<std::string>{"a", name, kPackFileName}),
            RecordedArguments());
  ExpectNothingExecuted();
  EXPECT_FALSE(fs::exists(dir_ / "w" / "1f0c33a7.tmp" / "pwned"));
}

}  // namespace
}  // namespace zavo
