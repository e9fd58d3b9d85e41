#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fs/file_tree.h"
#include "run/folder_lists.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

struct stat StatOf(const std::string& path) {
  struct stat st = {};
  lstat(path.c_str(), &st);
  return st;
}

class FolderListsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    names_.Insert("descript.ion");
    names_.Insert("files.bbs");
    names_.Insert("missing.ion");
  }
  // Loads the lists of the test's folder; the notes said.
  std::vector<std::string> Load(FolderLists* lists) {
    HeldFolder folder;
    EXPECT_TRUE(HeldFolder::Open(dir_.path(), &folder));
    std::vector<std::string> notes;
    lists->Load(folder, dir_.path() + "/", &notes);
    return notes;
  }

  ScopedTempDir dir_;
  SortedTextList names_;
};

TEST_F(FolderListsTest, RenamesInEveryListAndKeepsWhatTheFilesWere) {
  WriteFile(dir_ / "descript.ion", "a.zip first\r\n > more\r\nb.zip other\r\n");
  WriteFile(dir_ / "files.bbs", "c.zip in the other list\n");
  // Read-only and set-group-ID: the copy keeps the first, never the second.
  chmod((dir_ / "descript.ion").c_str(), 02444);
  // A second name for the old file shows that it was replaced, not written
  // over in place (a crash half-way would then have lost it).
  fs::create_hard_link(dir_ / "descript.ion", dir_ / "old.ion");
  const struct stat before = StatOf(dir_ / "files.bbs");
  FolderLists lists(names_);
  EXPECT_FALSE(lists.loaded());
  EXPECT_TRUE(Load(&lists).empty());
  EXPECT_TRUE(lists.loaded());

  lists.RenameEntry("a.zip", "a.7z");
  EXPECT_TRUE(lists.Save());
  EXPECT_EQ("a.7z first\r\n > more\r\nb.zip other\r\n",
            ReadFile(dir_ / "descript.ion"));
  EXPECT_EQ("a.zip first\r\n > more\r\nb.zip other\r\n",
            ReadFile(dir_ / "old.ion"));
  EXPECT_EQ(0444u, StatOf(dir_ / "descript.ion").st_mode & 07777);
  // Unchanged: not rewritten at all.
  EXPECT_EQ(before.st_ino, StatOf(dir_ / "files.bbs").st_ino);
  EXPECT_FALSE(FileExists(dir_ / "missing.ion"));

  // A list someone replaced since it was read is theirs: it stays.
  WriteFile(dir_ / "new.ion", "b.zip replaced meanwhile\n");
  fs::rename(dir_ / "new.ion", dir_ / "descript.ion");
  lists.RenameEntry("b.zip", "b.7z");
  std::vector<std::string> unsaved;
  EXPECT_FALSE(lists.Save(&unsaved));
  EXPECT_EQ(std::vector<std::string>{dir_ / "descript.ion"}, unsaved);
  EXPECT_EQ("b.zip replaced meanwhile\n", ReadFile(dir_ / "descript.ion"));

  // Cleared lists write nothing.
  lists.Clear();
  EXPECT_FALSE(lists.loaded());
  EXPECT_TRUE(lists.Save());
}

// A list that is no plain file is never read through, waited for or
// written back: a link to someone's key, a pipe, a device, a folder, a
// file too large. Each is named, and the others are still kept.
TEST_F(FolderListsTest, ListsThatAreNoPlainFilesAreLeftAsTheyAre) {
  WriteFile(dir_ / "secret", "a.zip private key\n");
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* why;
  } cases[] = {
      {"link",
       [this](const std::string& p) {
         EXPECT_EQ(0, symlink((dir_ / "secret").c_str(), p.c_str()));
       },
       "Too many levels of symbolic links"},
      {"pipe", [](const std::string& p) { mkfifo(p.c_str(), 0666); },
       "not a plain file"},
      {"folder", [](const std::string& p) { mkdir(p.c_str(), 0777); },
       "not a plain file"},
      {"large",
       [](const std::string& p) {
         WriteFile(p, "a.zip x\n");
         EXPECT_EQ(0, truncate(p.c_str(), kMaxListSize + 1));
       },
       "larger than 16 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "descript.ion");
    c.make(dir_ / "descript.ion");
    WriteFile(dir_ / "files.bbs", "a.zip kept\n");
    FolderLists lists(names_);
    std::vector<std::string> notes = Load(&lists);
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ("list [" + dir_ / "descript.ion" + "] left as it is: " + c.why,
              notes[0]);
    lists.RenameEntry("a.zip", "a.7z");
    EXPECT_TRUE(lists.Save());
    EXPECT_EQ("a.7z kept\n", ReadFile(dir_ / "files.bbs"));
  }
  EXPECT_EQ("a.zip private key\n", ReadFile(dir_ / "secret"));
}

}  // namespace
}  // namespace zavo
