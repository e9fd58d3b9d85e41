// Command building on POSIX: templates refused where no quoting holds, and
// the names every command finds in its environment.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archivers/archiver_definition.h"
#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

class Recorder : public CommandRunner {
 public:
  unsigned char RunCommand(const std::string& command,
                           const std::string&) override {
    commands.push_back(command);
    return 0;
  }
  unsigned char RunProgram(const std::vector<std::string>&,
                           const std::string&) override {
    return 0;
  }
  std::vector<std::string> commands;
};

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
  ArchiverList list(&runner);
  const std::vector<ArchiverList::RefusedTemplate> refused =
      list.AddDefinitionsFromFile(file);
  ASSERT_EQ(3u, refused.size());
  EXPECT_EQ("7z/add", refused[0].section + "/" + refused[0].key);
  EXPECT_EQ("zip/extract", refused[1].section + "/" + refused[1].key);
  EXPECT_EQ("zip/test", refused[2].section + "/" + refused[2].key);

  for (const char* name : {"a.zip", "plain"}) {
    list.definition(0).SetArchiveName(dir / name);
    list.definition(1).SetArchiveName(dir / name);
    EXPECT_EQ(kCommandRefused, list.definition(1).Extract(dir / "w", &runner));
    EXPECT_EQ(kCommandRefused, list.definition(1).Test(&runner));
    EXPECT_EQ(kCommandRefused, list.definition(0).Pack(dir / "w", &runner));
  }
  EXPECT_TRUE(runner.commands.empty());
  std::string command;
  EXPECT_EQ(kCommandRefused,
            BuildCommand("scan $(echo @Folder)", {{"@Folder", "f"}}, &command));
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
  definition.SetArchiveName(archive);
  SystemCommandRunner runner;
  setenv("ZAVO_FOLDER", "stale", 1);
  EXPECT_EQ(0, definition.Extract(dir / "w", &runner));
  EXPECT_EQ(archive + "|*|", ReadFile(dir / "w/names"));
  EXPECT_EQ(0, definition.Test(&runner));
  EXPECT_EQ(archive + "||", ReadFile(dir / "tested"));
  unsetenv("ZAVO_FOLDER");

  // The way README shows to hand a name to a second shell.
  std::string scan;
  ASSERT_EQ(0, BuildCommand(
                   "sh -c 'printf %s \"$ZAVO_FOLDER\" >\"$ZAVO_FOLDER/out\"'",
                   {{"@Folder", dir / "w"}}, &scan));
  EXPECT_EQ(0, runner.RunNamedCommand(scan, "", {"", "", dir / "w"}));
  EXPECT_EQ(dir / "w", ReadFile(dir / "w/out"));
}

}  // namespace
}  // namespace zavo
