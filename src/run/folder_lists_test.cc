#include "run/folder_lists.h"

#include <gtest/gtest.h>

#include <string>

#include "fs/file_tree.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

TEST(FolderListsTest, RenamesInEveryListAndWritesOnlyExistingFiles) {
  ScopedTempDir dir;
  WriteFile(dir / "descript.ion", "a.zip first\r\n > more\r\nb.zip other\r\n");
  WriteFile(dir / "files.bbs", "A.ZIP in the other list\n");
  SortedTextList names;
  names.Insert("descript.ion");
  names.Insert("files.bbs");
  names.Insert("missing.ion");
  FolderLists lists(names);
  EXPECT_FALSE(lists.loaded());
  EXPECT_TRUE(lists.Load(WithBackslash(dir.path())));
  EXPECT_TRUE(lists.loaded());

  lists.RenameEntry("a.zip", "a.7z");
  // A list whose file went away meanwhile is not written back.
  RemoveFile(dir / "files.bbs");
  EXPECT_TRUE(lists.Save());
  EXPECT_EQ("a.7z first\r\n > more\r\nb.zip other\r\n",
            ReadFile(dir / "descript.ion"));
  EXPECT_FALSE(FileExists(dir / "files.bbs"));
  EXPECT_FALSE(FileExists(dir / "missing.ion"));

  // Cleared lists write nothing.
  lists.Clear();
  EXPECT_FALSE(lists.loaded());
  WriteFile(dir / "descript.ion", "a.7z changed\n");
  EXPECT_TRUE(lists.Save());
  EXPECT_EQ("a.7z changed\n", ReadFile(dir / "descript.ion"));
}

}  // namespace
}  // namespace zavo
