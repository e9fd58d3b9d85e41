#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "run/converter.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// Plays the archivers: records every command, and makes the files a real
// archiver would (an extracted file, a packed archive) so that the
// pipeline's later steps have something to work on. It runs in the test's
// own process, so the held folders' "/dev/fd/N" names lead where they lead
// the children.
class FakeArchivers : public CommandRunner {
 public:
  struct Call {
    std::string command;
    std::string folder;
    // Where the folder led at the time of the call, links resolved.
    std::string resolved;
    // For "x": the data of the archive the command names, read then.
    std::string archive;
  };

  ProcessResult Run(const ChildSpec& launch) override {
    const std::string folder = launch.folder >= 0
                                   ? "/dev/fd/" + std::to_string(launch.folder)
                                   : launch.folder_path;
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    if (launch.command.empty()) {
      programs.push_back(launch.argv);
      program_folders.push_back(folder);
      return result;
    }
    result.exit_code = Command(launch.command, folder);
    return result;
  }

  virtual int Command(const std::string& command, const std::string& folder) {
    std::string verb = command.substr(0, command.find(' '));
    std::string arg = Unquote(command.substr(command.find(' ') + 1));
    char resolved[PATH_MAX];
    calls.push_back({command, folder,
                     realpath(folder.c_str(), resolved) ? resolved : "",
                     verb == "x" ? ReadFile(arg) : ""});
    if (verb == "x") {
      WriteFile(folder + "/member.txt", "member of " + arg);
      for (const auto& extra : extract_files) {
        MakeFoldersFor(folder + "/" + extra.first);
        WriteFile(folder + "/" + extra.first, extra.second);
      }
    } else if (verb == "a" && pack_writes) {
      std::string name = arg.substr(0, arg.find(' '));
      WriteFile(folder + "/" + name, "packed");
    }
    auto code = codes.find(verb);
    return code == codes.end() ? 0 : code->second;
  }

  // Drops the single quotes the shell quoting puts around values.
  static std::string Unquote(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c != '\'') out += c;
    }
    return out;
  }

  std::vector<Call> calls;
  std::vector<std::vector<std::string>> programs;
  std::vector<std::string> program_folders;
  std::map<std::string, int> codes;
  std::map<std::string, std::string> extract_files;
  bool pack_writes = true;
};

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFoldersFor(program_dir_ / "");
    MakeFoldersFor(arc_ / "");
    WriteFile(program_dir_ / "archivers.ini",
              "[7z]\nextension=7z\nadd=a @ArcName @FileName\ntest=t "
              "@ArcName\n[zip]\nextension=zip\nextract=x @ArcName\n");
  }

  void Settings(const std::string& text) {
    WriteFile(program_dir_ / "zavo.ctl", "Archives archivers.ini\n" + text);
  }

  // Starts a converter with these parameters; returns its exit code.
  int RunZavo(std::vector<std::string> params) {
    params.insert(params.begin(), program_dir_ / "zavo");
    converter_.reset(new Converter(params, &fake_, out_, err_));
    converter_->set_pause([this](int ms) { paused_ms_ += ms; });
    converter_->set_start_folder(arc_.path());
    return converter_->Execute();
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  // The lines after the banner.
  std::vector<std::string> Output() const {
    std::vector<std::string> lines = Lines();
    return std::vector<std::string>(lines.begin() + 3, lines.end());
  }

  int WorkFolders() const {
    int n = 0;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(arc_.path(), ec)) {
      if (MatchesMask("*.tmp", entry.path().filename().string())) ++n;
    }
    return n;
  }

  ScopedTempDir program_dir_;
  ScopedTempDir arc_;
  FakeArchivers fake_;
  std::ostringstream out_;
  std::ostringstream err_;
  std::unique_ptr<Converter> converter_;
  int paused_ms_ = 0;
};

TEST_F(ConverterTest, ConvertsAnArchiveAndKeepsItsTime) {
  Settings("KeepTime yes\nFileList descript.ion\n");
  WriteFile(arc_ / "old.zip", "zip data");
  WriteFile(arc_ / "descript.ion", "OLD.ZIP my old archive\n > more\n");
  FileTime t{700000000, 5};
  SetFileTime(arc_ / "old.zip", t);

  EXPECT_EQ(kExitDone, RunZavo({"*.zip"}));
  EXPECT_EQ(std::vector<std::string>({"processing folder [" + arc_.path() + "]",
                                      "[old.zip] -> [old.7z] done!"}),
            Output());
  EXPECT_FALSE(FileExists(arc_ / "old.zip"));
  EXPECT_EQ("packed", ReadFile(arc_ / "old.7z"));
  FileTime kept;
  ASSERT_TRUE(GetFileTime(arc_ / "old.7z", &kept));
  EXPECT_EQ(t.seconds, kept.seconds);
  EXPECT_EQ("old.7z my old archive\n > more\n",
            ReadFile(arc_ / "descript.ion"));
  EXPECT_EQ(0, WorkFolders());

  ASSERT_EQ(3u, fake_.calls.size());
  // The extractor reads the archive that was opened, into the folder x of
  // the private work folder that was made, all reached through held
  // descriptors; the packer and the tester run there too.
  EXPECT_EQ(0u, fake_.calls[0].command.find("x '/dev/fd/"));
  EXPECT_EQ("zip data", fake_.calls[0].archive);
  std::string work = fake_.calls[0].folder;
  EXPECT_EQ(0u, work.find("/dev/fd/"));
  std::string resolved = fake_.calls[0].resolved;
  EXPECT_EQ(arc_.path() + "/", resolved.substr(0, arc_.path().size() + 1));
  EXPECT_EQ(".tmp/x", resolved.substr(resolved.size() - 6));
  EXPECT_EQ(work, fake_.calls[1].folder);
  EXPECT_EQ(0u, fake_.calls[1].command.find("a '"));
  EXPECT_NE(std::string::npos, fake_.calls[1].command.find(".7z' '.'"));
  EXPECT_EQ(work, fake_.calls[2].folder);
}

TEST_F(ConverterTest, FailedStepsKeepTheOldArchive) {
  Settings("");
  struct Case {
    const char* verb;
    int code;
    const char* message;
  } cases[] = {
      {"x", 2, "extraction"},
      {"a", 1, "packing"},
      {"t", 3, "testing"},
      {"t", 137, "testing"},
  };
  for (const Case& c : cases) {
    out_.str("");
    fake_.codes.clear();
    fake_.codes[c.verb] = c.code;
    WriteFile(arc_ / "a.zip", "keep me");
    EXPECT_EQ(kExitSomeFailed, RunZavo({"*.zip"})) << c.verb;
    EXPECT_EQ(std::string(c.message) + " mistake on [" + arc_.path() +
                  "/a.zip]. next archive!",
              Output().back());
    EXPECT_EQ("keep me", ReadFile(arc_ / "a.zip"));
    EXPECT_FALSE(FileExists(arc_ / "a.7z"));
    EXPECT_EQ(0, WorkFolders());
  }
}

TEST_F(ConverterTest, RefusedTemplatesAreReportedAtLoadAndFailEveryArchive) {
  // A macro where the shell's reading of it cannot be proven: the template
  // is named when the files are read, and its step fails without a run.
  Settings("Scan vscan $(echo @Folder) /all\n");
  const std::string archivers = program_dir_ / "archivers.ini";
  WriteFile(archivers,
            "[7z]\nextension=7z\nadd=a @ArcName @FileName\n"
            "[zip]\nextension=zip\nextract=x @ArcName\n"
            "[arj]\nextension=arj\nextract=x `echo @ArcName`\n");
  WriteFile(arc_ / "a.zip", "z");
  WriteFile(arc_ / "b.arj", "j");
  EXPECT_EQ(kExitSomeFailed, RunZavo({"*.*"}));
  const std::vector<std::string> out = Output();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ("refused command [Scan vscan $(echo @Folder) /all] in [" +
                (program_dir_ / "zavo.ctl") + "]",
            out[0]);
  EXPECT_EQ("pause (3 seconds)...", out[1]);
  EXPECT_EQ("refused command [arj/extract] in [" + archivers + "]", out[2]);
  EXPECT_EQ("pause (3 seconds)...", out[3]);
  const std::string tail[] = {
      "extraction mistake on [" + (arc_ / "b.arj") + "]. next archive!",
      "scanning mistake on [" + (arc_ / "a.zip") + "]. next archive!"};
  for (const std::string& line : tail) {
    EXPECT_NE(out.end(), std::find(out.begin(), out.end(), line)) << line;
  }
  // Only the zip's own extraction ran.
  ASSERT_EQ(1u, fake_.calls.size());
  EXPECT_EQ('x', fake_.calls[0].command[0]);
  EXPECT_EQ("z", ReadFile(arc_ / "a.zip"));
  EXPECT_EQ(0, WorkFolders());
}

TEST_F(ConverterTest, TesterExiting66FailsButNoTesterPasses) {
  // 66 is also the code of an operation that ran nothing; only a target
  // without a test template may pass untested.
  Settings("");
  fake_.codes["t"] = 66;
  WriteFile(arc_ / "a.zip", "z");
  EXPECT_EQ(kExitSomeFailed, RunZavo({"*.zip"}));
  EXPECT_EQ("testing mistake on [" + arc_.path() + "/a.zip]. next archive!",
            Output().back());
  EXPECT_EQ("z", ReadFile(arc_ / "a.zip"));
  EXPECT_FALSE(FileExists(arc_ / "a.7z"));

  WriteFile(program_dir_ / "archivers.ini",
            "[7z]\nextension=7z\nadd=a @ArcName @FileName\n[zip]\n"
            "extension=zip\nextract=x @ArcName\n");
  EXPECT_EQ(kExitDone, RunZavo({"*.zip"}));
  EXPECT_TRUE(FileExists(arc_ / "a.7z"));
  EXPECT_FALSE(FileExists(arc_ / "a.zip"));
}

TEST_F(ConverterTest, PackerThatWritesNothingFailsTheArchive) {
  // No "test" template: a packer that says it packed but left no archive
  // fails its own step.
  WriteFile(program_dir_ / "archivers.ini",
            "[7z]\nextension=7z\nadd=a @ArcName\n[zip]\nextension=zip\n"
            "extract=x @ArcName\n");
  Settings("");
  fake_.pack_writes = false;
  WriteFile(arc_ / "a.zip", "z");
  EXPECT_EQ(kExitSomeFailed, RunZavo({"*.zip"}));
  EXPECT_EQ("packing mistake on [" + arc_.path() + "/a.zip]. next archive!",
            Output().back());
  EXPECT_EQ("z", ReadFile(arc_ / "a.zip"));
}

TEST_F(ConverterTest, StopOnErrorEndsTheRunWithoutSavingLists) {
  Settings("StopOnError yes\nFileList descript.ion\n");
  fake_.codes["x"] = 1;
  WriteFile(arc_ / "a.zip", "z");
  WriteFile(arc_ / "descript.ion", "a.zip text\n");
  EXPECT_EQ(kExitFatal, RunZavo({"*.zip"}));
  std::vector<std::string> out = Output();
  ASSERT_EQ(3u, out.size());
  EXPECT_EQ("extraction mistake on [" + arc_.path() + "/a.zip].", out[1]);
  EXPECT_EQ("exiting...", out[2]);
  EXPECT_EQ("a.zip text\n", ReadFile(arc_ / "descript.ion"));
  EXPECT_EQ(0, WorkFolders());
}

TEST_F(ConverterTest, TakenFinalNameIsLeftAloneWithoutKillExist) {
  Settings("KeepTime yes\nFileList descript.ion\n");
  WriteFile(arc_ / "a.zip", "z");
  WriteFile(arc_ / "a.7z", "other");
  WriteFile(arc_ / "descript.ion", "a.zip text\n");
  FileTime before;
  GetFileTime(arc_ / "a.7z", &before);
  EXPECT_EQ(kExitSomeFailed, RunZavo({"*.zip"}));
  EXPECT_EQ("[a.zip] -> [a.7z] exists, not replaced!", Output().back());
  EXPECT_EQ("z", ReadFile(arc_ / "a.zip"));
  EXPECT_EQ("other", ReadFile(arc_ / "a.7z"));
  FileTime after;
  GetFileTime(arc_ / "a.7z", &after);
  EXPECT_EQ(before.seconds, after.seconds);
  EXPECT_EQ("a.zip text\n", ReadFile(arc_ / "descript.ion"));
  EXPECT_EQ(0, WorkFolders());
}

TEST_F(ConverterTest, KillExistReplacesTheTakenName) {
  Settings("KillExist yes\n");
  WriteFile(arc_ / "a.zip", "z");
  WriteFile(arc_ / "a.7z", "other");
  EXPECT_EQ(kExitDone, RunZavo({"*.zip"}));
  EXPECT_FALSE(FileExists(arc_ / "a.zip"));
  EXPECT_EQ("packed", ReadFile(arc_ / "a.7z"));
}

TEST_F(ConverterTest, TargetKindAndOtherFilesAreLeftSilently) {
  Settings("");
  WriteFile(arc_ / "a.7z", "target");
  WriteFile(arc_ / "notes.txt", "text");
  EXPECT_EQ(kExitDone, RunZavo({"*.*"}));
  EXPECT_EQ(
      std::vector<std::string>({"processing folder [" + arc_.path() + "]"}),
      Output());
  EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(ConverterTest, NestedRunGetsTheSwitchesAndTheWorkFolder) {
  Settings("");
  WriteFile(arc_ / "a.zip", "z");
  EXPECT_EQ(kExitDone, RunZavo({"/r", "/n", "*.zip"}));
  ASSERT_EQ(1u, fake_.programs.size());
  const std::vector<std::string>& argv = fake_.programs[0];
  // The nested run is told this run's number of jobs; it is handed the
  // unpacked folder open, and its mask names the work folder for its lines.
  ASSERT_EQ(8u, argv.size());
  EXPECT_EQ(program_dir_ / "zavo", argv[0]);
  EXPECT_EQ("/r", argv[1]);
  EXPECT_EQ("/n", argv[2]);
  EXPECT_EQ("-j", argv[3]);
  EXPECT_EQ("1", argv[4]);
  EXPECT_EQ("--mask-folder", argv[5]);
  EXPECT_EQ(fake_.calls[0].folder, "/dev/fd/" + argv[6]);
  EXPECT_EQ(arc_.path() + "/", argv[7].substr(0, arc_.path().size() + 1));
  EXPECT_EQ(".tmp/*.*", argv[7].substr(argv[7].size() - 8));
  // It starts where this run started, so that relative masks mean there
  // what they mean here.
  EXPECT_EQ("", fake_.program_folders[0]);
}

TEST_F(ConverterTest, DeletesScansAndAdds) {
  Settings(
      "DeleteFile *.bak\nDeleteFile sub/*.tmp\nDeleteFile out/*\n"
      "Scan vscan @Folder /all\nAddFile extra/*.nfo\n");
  MakeFoldersFor(arc_ / "extra/");
  WriteFile(arc_ / "extra/file_id.nfo", "added");
  ScopedTempDir outside;
  WriteFile(outside / "precious", "keep");
  fake_.extract_files = {{"x.bak", "b"},
                         {"sub/y.tmp", "t"},
                         {"sub/keep.txt", "k"},
                         {"y.tmp", "top"}};
  std::vector<std::string> seen;
  WriteFile(arc_ / "a.zip", "z");
  // Record what the work folder holds when the packer runs.
  struct Packer : FakeArchivers {
    std::vector<std::string>* seen;
    std::string outside;
    int Command(const std::string& command,
                const std::string& folder) override {
      if (command[0] == 'x') {
        int r = FakeArchivers::Command(command, folder);
        EXPECT_EQ(0, symlink(outside.c_str(), (folder + "/out").c_str()));
        return r;
      }
      if (command[0] == 'a') {
        for (const char* name : {"x.bak", "sub/y.tmp", "sub/keep.txt", "y.tmp",
                                 "file_id.nfo", "member.txt"}) {
          if (FileExists(folder + "/" + name)) seen->push_back(name);
        }
      }
      return FakeArchivers::Command(command, folder);
    }
  } packer;
  packer.seen = &seen;
  packer.outside = outside.path();
  packer.extract_files = fake_.extract_files;
  std::vector<std::string> params = {program_dir_ / "zavo", "*.zip"};
  Converter converter(params, &packer, out_, err_);
  converter.set_start_folder(arc_.path());
  EXPECT_EQ(kExitDone, converter.Execute());
  EXPECT_EQ(std::vector<std::string>(
                {"sub/keep.txt", "y.tmp", "file_id.nfo", "member.txt"}),
            seen);
  EXPECT_EQ("keep", ReadFile(outside / "precious"));
  ASSERT_EQ(4u, packer.calls.size());
  const std::string& work = packer.calls[0].folder;
  EXPECT_EQ("vscan '" + work + "' /all", packer.calls[1].command);
}

TEST_F(ConverterTest, ListsAreWrittenWhenTheFolderChanges) {
  Settings("FileList descript.ion\n");
  MakeFoldersFor(arc_ / "sub/");
  WriteFile(arc_ / "a.zip", "z");
  WriteFile(arc_ / "descript.ion", "a.zip top\n");
  WriteFile(arc_ / "sub/b.zip", "z");
  WriteFile(arc_ / "sub/descript.ion", "B.ZIP below\r\n");
  chmod((arc_ / "sub/descript.ion").c_str(), 0444);
  EXPECT_EQ(kExitDone, RunZavo({"/r", "*.zip"}));
  EXPECT_EQ(
      std::vector<std::string>({"processing folder [" + arc_.path() + "]",
                                "[a.zip] -> [a.7z] done!",
                                "processing folder [" + arc_.path() + "/sub]",
                                "[b.zip] -> [b.7z] done!"}),
      Output());
  EXPECT_EQ("a.7z top\n", ReadFile(arc_ / "descript.ion"));
  EXPECT_EQ("b.7z below\r\n", ReadFile(arc_ / "sub/descript.ion"));
  struct stat st;
  stat((arc_ / "sub/descript.ion").c_str(), &st);
  EXPECT_EQ(0444u, st.st_mode & 0777);
}

TEST_F(ConverterTest, StartUpFailures) {
  EXPECT_EQ(kExitFatal, RunZavo({"*.zip"}));
  std::string places;
  for (const std::string& place : SettingsPlaces(program_dir_.path() + "/")) {
    places += (places.empty() ? "[" : " or [") + place + "]";
  }
  EXPECT_EQ(std::vector<std::string>(
                {"config file " + places + " not found", "exiting..."}),
            Output());

  out_.str("");
  WriteFile(program_dir_ / "zavo.ctl", "Archives none.ini\n");
  EXPECT_EQ(kExitFatal, RunZavo({"*.zip"}));
  EXPECT_EQ("canot open archives file [" + program_dir_.path() + "/none.ini]",
            Output()[0]);

  out_.str("");
  Settings("Recurse=yes\n\nbad line\n");
  EXPECT_EQ(kExitDone, RunZavo({"*.zip"}));
  std::string settings = program_dir_ / "zavo.ctl";
  EXPECT_EQ(std::vector<std::string>({"wrong line [#2] in [" + settings + "]",
                                      "wrong line [#4] in [" + settings + "]",
                                      "pause (3 seconds)..."}),
            Output());
  EXPECT_EQ(3000, paused_ms_);
}

TEST_F(ConverterTest, CommandLine) {
  Settings("KeepTime yes\n");
  EXPECT_EQ(kExitFatal, RunZavo({}));
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(
      std::vector<std::string>(
          {"", kBannerTitle, "",
           "usage: zavo [/r] [/n] [/k] [-j N] [--shard K/N] [--report FILE] "
           "<filemask>",
           "", "       /r - recursive scan (with subfolders)",
           "       /n - convert nested archives",
           "       /k - don't keep archive filetime",
           "       -j N - convert N archives at once (0: one per processor)",
           "       --shard K/N - convert only the folders of shard K of N",
           "       --report FILE - append a JSON line per archive to FILE", "",
           "exiting..."}),
      lines);
  out_.str("");
  EXPECT_EQ(kExitFatal, RunZavo({"/r", "/r", "/r", "/r", "/r"}));
  EXPECT_EQ(lines, Lines());

  out_.str("");
  EXPECT_EQ(kExitFatal, RunZavo({"a.zip", "b.zip"}));
  EXPECT_NE(std::string::npos, Output()[0].find("quote the mask"));

  EXPECT_EQ(kExitDone, RunZavo({"/K", "-r", "*.zip"}));
  EXPECT_FALSE(converter_->options().conversion.keep_time);
  EXPECT_TRUE(converter_->options().recurse);
  EXPECT_EQ(arc_ / "*.zip", converter_->options().file_mask);
  // A folder that is not there is named, not passed over in silence.
  out_.str("");
  EXPECT_EQ(kExitSomeFailed, RunZavo({"/x/a.zip"}));
  EXPECT_EQ("/x/a.zip", converter_->options().file_mask);
  EXPECT_EQ((std::vector<std::string>{
                "can't read folder [/x]: No such file or directory"}),
            Output());
}

}  // namespace
}  // namespace zavo
