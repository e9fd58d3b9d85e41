// Command building on POSIX: templates refused where no quoting holds, and
// the names every command finds in its environment.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "archivers/archiver_commands.h"
#include "archivers/archiver_definition.h"
#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

class Recorder : public CommandRunner {
 public:
  ProcessResult Run(const ChildSpec& launch) override {
    commands.push_back(launch.command);
    labels.push_back(launch.label);
    ProcessResult result;
    result.outcome = ProcessResult::Outcome::kExited;
    return result;
  }
  std::vector<std::string> commands;
  std::vector<std::string> labels;
};

ChildSpec In(const std::string& folder) {
  ChildSpec launch;
  launch.folder_path = folder;
  return launch;
}

TEST(CommandBuildingTest, RefusedTemplatesAreNamedAtLoadAndNeverRun) {
  ScopedTempDir dir;
  const std::string file = dir / "archivers.ini";
  WriteFile(file,
            "[7z]\nextension=7z\nadd=pk a @ArcName `ls @FileName`\n"
            "test=pk t @ArcName # @FileName stays as written here\n"
            "[zip]\nextension=zip\nextract=unpk x \"${D:-@ArcName}\"\n"
            "test=unpk t \"$@ArcName\"\n");
  WriteFile(dir / "a.zip", "z");
  Recorder runner;
  ArchiverList list;
  const std::vector<ArchiverList::RefusedTemplate> refused =
      list.AddDefinitionsFromFile(file);
  ASSERT_EQ(3u, refused.size());
  EXPECT_EQ("7z/add", refused[0].section + "/" + refused[0].key);
  EXPECT_EQ("zip/extract", refused[1].section + "/" + refused[1].key);
  EXPECT_EQ("zip/test", refused[2].section + "/" + refused[2].key);

  const auto kRefused = CommandOutcome::Kind::kRefused;
  for (const char* name : {"a.zip", "plain"}) {
    EXPECT_EQ(kRefused, ExtractArchive(list.definition(1), dir / name,
                                       In(dir / "w"), &runner)
                            .kind);
    EXPECT_EQ(
        kRefused,
        TestArchive(list.definition(1), dir / name, In(""), &runner).kind);
    EXPECT_EQ(kRefused, PackArchive(list.definition(0), dir / name,
                                    In(dir / "w"), &runner)
                            .kind);
  }
  EXPECT_TRUE(runner.commands.empty());
  std::string command;
  EXPECT_EQ(BuildOutcome::kRefused,
            BuildCommand("scan $(echo @Folder)", {{"@Folder", "f"}}, &command));
}

TEST(CommandBuildingTest, EachArchiverCommandIsLabelledWithItsSection) {
  ArchiverDefinition zip("zip", "", "x", "a", "t");
  zip.set_name("Zip files");
  ArchiverDefinition unnamed("arj", "", "x", "", "");
  Recorder runner;
  ExtractArchive(zip, "a.zip", In(""), &runner);
  PackArchive(zip, "a.zip", In(""), &runner);
  TestArchive(zip, "a.zip", In(""), &runner);
  ExtractArchive(unnamed, "a.arj", In(""), &runner);
  RunTemplate("scan @Folder", {{"@Folder", "f"}}, In(""), &runner);
  EXPECT_EQ((std::vector<std::string>{"Zip files extract", "Zip files add",
                                      "Zip files test", "arj extract", ""}),
            runner.labels);
}

TEST(CommandBuildingTest, EveryCommandCarriesTheNamesAsTheyAre) {
  ScopedTempDir dir;
  const std::string archive = dir / "a b$(x)'\n\".zip";
  WriteFile(archive, "z");
  const char* const kShow =
      "printf '%s|%s|%s' \"$ZAVO_ARCNAME\" \"$ZAVO_FILENAME\" \"$ZAVO_FOLDER\"";
  ArchiverDefinition definition(
      "zip", "", std::string(kShow) + " >names",
      std::string(kShow) + " >packed",
      std::string(kShow) + " >" + (dir / "tested") + "; : @ArcName");
  SystemCommandRunner runner;
  setenv("ZAVO_FOLDER", "stale", 1);
  ASSERT_EQ(0, mkdir((dir / "w").c_str(), 0700));
  EXPECT_TRUE(
      ExtractArchive(definition, archive, In(dir / "w"), &runner).succeeded());
  EXPECT_EQ(archive + "|*|", ReadFile(dir / "w/names"));
  EXPECT_TRUE(TestArchive(definition, archive, In(""), &runner).succeeded());
  EXPECT_EQ(archive + "||", ReadFile(dir / "tested"));
  unsetenv("ZAVO_FOLDER");

  // The way README shows to hand a name to a second shell.
  EXPECT_TRUE(
      RunTemplate("sh -c 'printf %s \"$ZAVO_FOLDER\" >\"$ZAVO_FOLDER/out\"'",
                  {{"@Folder", dir / "w"}}, In(""), &runner)
          .succeeded());
  EXPECT_EQ(dir / "w", ReadFile(dir / "w/out"));
}

}  // namespace
}  // namespace zavo
