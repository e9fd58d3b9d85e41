#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "run/converter.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

// Records commands; "x" makes a member file, "a" the packed archive.
class RecordingRunner : public CommandRunner {
 public:
  ProcessResult Run(const ChildSpec& launch) override {
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    if (launch.command.empty()) {
      programs.push_back(launch.argv);
      return result;
    }
    const std::string& command = launch.command;
    const std::string& folder = launch.folder_path;
    commands.push_back(command);
    folders.push_back(folder);
    if (command.compare(0, 2, "x ") == 0) {
      WriteFile(WithBackslash(folder) + "member.txt", "member");
    } else if (command.compare(0, 2, "a ") == 0) {
      std::string name = command.substr(3, command.find('"', 3) - 3);
      WriteFile(WithBackslash(folder) + name, "packed");
    }
    return result;
  }
  std::vector<std::string> commands;
  std::vector<std::string> folders;
  std::vector<std::vector<std::string>> programs;
};

class ConverterWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(program_ / "arcs.ini",
              "[zpb]\r\nextension=zpb\r\nadd=a \"@ArcName\" @FileName\r\n"
              "[zpa]\r\nextension=zpa\r\nextract=x \"@ArcName\" @FileName\r\n");
  }

  Converter* Start(std::vector<std::string> params, const std::string& from) {
    params.insert(params.begin(), program_ / "zavo.exe");
    converter_.reset(new Converter(params, &runner_, out_, err_));
    converter_->set_start_folder(from);
    return converter_->Start() ? converter_.get() : nullptr;
  }

  // Runs zavo.exe, built beside this test, through cmd.exe; returns its
  // output exactly as it wrote it.
  std::string RunZavoExe(const std::string& parameters, int* code) {
    const std::string out = dir_ / "out.txt";
    ProcessResult r =
        RunShellCommand("zavo.exe " + parameters + " > \"" + out + "\"",
                        PathFolder(ProgramPath(nullptr)));
    *code = r.Code();
    return ReadFile(out);
  }

  ScopedTempDir program_;
  ScopedTempDir dir_;
  RecordingRunner runner_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<Converter> converter_;
};

const std::string kBannerAndUsage =
    std::string("\r\n") + kBannerTitle + "\r\n\r\n" +
    "usage: zavo [/r] [/n] [/k] [/j:N] [--shard K/N] [--report FILE] "
    "<filemask>\r\n"
    "\r\n"
    "       /r - recursive scan (with subfolders)\r\n"
    "       /n - convert nested archives\r\n"
    "       /k - don't keep archive filetime\r\n"
    "       /j:N - convert N archives at once (0: one per processor)\r\n"
    "       --shard K/N - convert only the folders of shard K of N\r\n"
    "       --report FILE - append a JSON line per archive to FILE\r\n";

TEST_F(ConverterWin32Test, ProgramPrintsBannerAndUsageWithCrLf) {
  int code = -1;
  EXPECT_EQ(std::string(kBannerAndUsage) + "\r\nexiting...\r\n",
            RunZavoExe("", &code));
  EXPECT_EQ(kExitFatal, code);

  // The help goes on with the long switches, the exit codes and the one
  // place settings are read from on Windows: beside the program; then the
  // settings keys, every line ending CR LF.
  const std::string help = RunZavoExe("/?", &code);
  const std::string head =
      std::string(kBannerAndUsage) +
      "\r\n"
      "       /t:KIND, --to KIND - convert to the archivers file's section "
      "KIND\r\n"
      "       --keep - put each new archive beside the old one, which "
      "stays\r\n"
      "       /q, --quiet - print only the archives that failed or were left, "
      "and the summary\r\n"
      "       /v, --verbose - show the archivers' output under its archive "
      "and step\r\n"
      "       --dry-run - show what would be converted, change "
      "nothing\r\n"
      "       --summary - print a summary on standard error at the "
      "end\r\n"
      "       --report-summary FILE... - the totals of a set of "
      "reports\r\n"
      "       --version - print the version\r\n"
      "       /? - print this help\r\n"
      "\r\n"
      "exit codes: 0 all done, 1 some archive failed or was left as "
      "it was,\r\n"
      "            2 fatal stop (command line, settings, "
      "StopOnError)\r\n"
      "\r\n"
      "settings: the first of these files that exists\r\n"
      "       " +
      WithBackslash(PathFolder(ProgramPath(nullptr))) +
      "zavo.ctl\r\nkeys: Recurse ";
  ASSERT_GE(help.size(), head.size());
  EXPECT_EQ(head, help.substr(0, head.size()));
  EXPECT_EQ(" (man zavo)\r\n", help.substr(help.size() - 13));
  for (std::size_t at = help.find('\n'); at != std::string::npos;
       at = help.find('\n', at + 1)) {
    EXPECT_EQ('\r', help[at - 1]) << at;
  }
  EXPECT_EQ(kExitDone, code);
}

TEST_F(ConverterWin32Test, MaskIsCompletedWithDrivesAndListsUpperCased) {
  WriteFile(program_ / "zavo.ctl",
            "Archives arcs.ini\r\nFileList descript.ion\r\n"
            "DeleteFile *.bak\r\nDeleteFile *.BAK\r\nScan av /s @Folder\r\n");
  ASSERT_NE(nullptr, Start({"A.ZIP"}, "C:\\WORK"));
  EXPECT_EQ("C:\\WORK\\A.ZIP", converter_->options().file_mask);
  EXPECT_EQ(program_ / "arcs.ini", converter_->options().archivers_file);
  ASSERT_EQ(1u, converter_->options().list_file_names.size());
  EXPECT_EQ("DESCRIPT.ION", converter_->options().list_file_names[0]);
  ASSERT_EQ(1u, converter_->options().conversion.delete_masks.size());
  EXPECT_EQ("*.BAK", converter_->options().conversion.delete_masks[0]);
  EXPECT_EQ("AV /S @FOLDER", converter_->options().conversion.scan_commands[0]);

  ASSERT_NE(nullptr, Start({"/R", "A.ZIP"}, "C:\\"));
  EXPECT_EQ("C:\\A.ZIP", converter_->options().file_mask);
  EXPECT_TRUE(converter_->options().recurse);

  // A drive-relative mask stays as it is.
  ASSERT_NE(nullptr, Start({"D:B.ZIP"}, "C:\\WORK"));
  EXPECT_EQ("D:B.ZIP", converter_->options().file_mask);
  EXPECT_FALSE(converter_->options().recurse);

  // "-r" is no switch here but a second mask, and no shell expands masks
  // on Windows: the usage, nothing converted.
  EXPECT_EQ(nullptr, Start({"-r", "D:B.ZIP"}, "C:\\WORK"));
  EXPECT_NE(std::string::npos, out_.str().find("usage: zavo")) << out_.str();
}

TEST_F(ConverterWin32Test, CommandsGetWindowsPathsAsTheTemplateQuotesThem) {
  WriteFile(program_ / "zavo.ctl", "Archives arcs.ini\r\nNested yes\r\n");
  MakeFoldersFor(dir_ / "my arcs\\");
  const std::string archive = dir_ / "my arcs\\Old.zpa";
  WriteFile(archive, "old");
  ASSERT_NE(nullptr, Start({dir_ / "my arcs\\*.*"}, "C:\\"));
  ASSERT_TRUE(converter_->Run());

  ASSERT_EQ(2u, runner_.commands.size());
  // Archivers run in x of the work folder beside the archive.
  const std::string unpacked = WithBackslash(runner_.folders[0]);
  const std::string work = unpacked.substr(0, unpacked.size() - 2);
  EXPECT_EQ(dir_ / "my arcs\\", work.substr(0, work.size() - 13)) << work;
  EXPECT_EQ(".tmp\\x\\", unpacked.substr(unpacked.size() - 7));
  EXPECT_EQ("x \"" + archive + "\" *.*", runner_.commands[0]);
  EXPECT_EQ(runner_.folders[0], runner_.folders[1]);
  EXPECT_EQ(0u, runner_.commands[1].find("a \""));
  EXPECT_EQ(".zpb\" *.*",
            runner_.commands[1].substr(runner_.commands[1].size() - 9));

  // The nested run gets the program, the switches, this run's number of
  // jobs and the unpacked folder.
  ASSERT_EQ(1u, runner_.programs.size());
  EXPECT_EQ((std::vector<std::string>{program_ / "zavo.exe", "/j:1",
                                      unpacked + "*.*"}),
            runner_.programs[0]);

  EXPECT_EQ("packed", ReadFile(dir_ / "my arcs\\Old.zpb"));
  EXPECT_FALSE(FileExists(archive));
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_NE(std::string::npos,
            out_.str().find("processing folder [" +
                            dir_ / "my arcs]\n"
                                   "[Old.zpa] -> [Old.zpb] done!\n"))
      << out_.str();
}

}  // namespace
}  // namespace zavo
