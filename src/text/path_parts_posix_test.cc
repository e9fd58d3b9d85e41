#include <gtest/gtest.h>

#include <string>

#include "text/text_utils.h"

namespace zavo {
namespace {

TEST(PathPartsTest, FolderFileNameAndBackslash) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* with_separator;  // WithBackslash(PathFolder(path))
  } cases[] = {
      {"/dir/file.zip", "/dir", "file.zip", "/dir/"},
      {"/file.zip", "/", "file.zip", "/"},
      {"file.zip", "", "file.zip", ""},
      {"a/b/", "a/b", "", "a/b/"},
      {"/", "/", "", "/"},
      // A colon is an ordinary character here: there are no drives.
      {"C:file.zip", "", "C:file.zip", ""},
      {"rel/x", "rel", "x", "rel/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.folder, PathFolder(c.path)) << c.path;
    EXPECT_EQ(c.name, PathFileName(c.path)) << c.path;
    EXPECT_EQ(c.with_separator, WithBackslash(PathFolder(c.path))) << c.path;
  }
}

TEST(PathPartsTest, Extensions) {
  struct Case {
    const char* path;
    const char* extension;
    const char* with_rar;
  } cases[] = {
      {"arc.tar.gz", "gz", "arc.tar.rar"},
      {"readme", "", "readme.rar"},
      {"/old.dir/readme", "", "/old.dir/readme.rar"},
      {"/a/OLD.ZIP", "ZIP", "/a/OLD.rar"},
      {"x.", "", "x.rar"},
      {"", "", ""},
      {".profile", "profile", ".rar"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.extension, PathExtension(c.path)) << c.path;
    EXPECT_EQ(c.with_rar, WithExtension(c.path, "rar")) << c.path;
  }
  std::string long_name(100, 'n');
  EXPECT_EQ(long_name, PathFileName("/some/folder/" + long_name));
}

}  // namespace
}  // namespace zavo
