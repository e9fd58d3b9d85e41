#include <gtest/gtest.h>

#include <string>

#include "text/text_utils.h"

namespace zavo {
namespace {

TEST(PathPartsWin32Test, FoldersWithDrives) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* with_backslash;  // WithBackslash(PathFolder(path))
  } cases[] = {
      {"C:\\dir\\file.zip", "C:\\dir", "file.zip", "C:\\dir\\"},
      {"C:\\file.zip", "C:\\", "file.zip", "C:\\"},
      {"C:file.zip", "C:", "file.zip", "C:"},
      {"file.zip", "", "file.zip", ""},
      {"C:\\", "C:\\", "", "C:\\"},
      {"\\file.zip", "\\", "file.zip", "\\"},
      {"\\\\srv\\share\\a.zip", "\\\\srv\\share", "a.zip", "\\\\srv\\share\\"},
      {"C:\\a.tmp\\b\\", "C:\\a.tmp\\b", "", "C:\\a.tmp\\b\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.folder, PathFolder(c.path)) << c.path;
    EXPECT_EQ(c.name, PathFileName(c.path)) << c.path;
    EXPECT_EQ(c.with_backslash, WithBackslash(PathFolder(c.path))) << c.path;
  }
  EXPECT_EQ("C:", NoTrailingBackslash("C:\\"));
  EXPECT_EQ("C:\\dir", NoTrailingBackslash("C:\\dir\\"));
}

TEST(PathPartsWin32Test, ExtensionsAndLetterCase) {
  EXPECT_EQ("C:\\old.dir\\readme.rar",
            WithExtension("C:\\old.dir\\readme", "rar"));
  EXPECT_EQ("", PathExtension("C:\\old.dir\\readme"));
  EXPECT_EQ("C:\\ARC\\OLD.rar", WithExtension("C:\\ARC\\OLD.ZIP", "rar"));
  EXPECT_EQ("ZIP", PathExtension("C:\\ARC\\OLD.ZIP"));
  // The file system ignores letter case, so the converter does too.
  EXPECT_TRUE(SamePath("C:\\Arc\\Old.Zip", "c:\\ARC\\OLD.ZIP"));
  EXPECT_FALSE(SamePath("C:\\Arc\\Old.Zip", "C:\\Arc\\Old.Zip2"));
}

}  // namespace
}  // namespace zavo
