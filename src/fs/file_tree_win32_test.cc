// <windows.h> turns GetFileAttributes into its -A form; this test calls
// zavo's own function of that name, so the macro goes before anything
// declares it.
#include <windows.h>
#undef GetFileAttributes

#include <gtest/gtest.h>

#include <string>

#include "fs/file_tree.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesA(path.c_str());
}

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes)) << path;
}

TEST(FileTreeWin32Test, DrivesAndRoots) {
  const std::string drive = GetCurrentFolder().substr(0, 2);
  EXPECT_TRUE(FolderExists(drive));         // its current folder
  EXPECT_TRUE(FolderExists(drive + "\\"));  // its root
  EXPECT_TRUE(ForceFolders(drive + "file.zip"));
  EXPECT_TRUE(ForceFolders(drive + "\\file.zip"));
}

TEST(FileTreeWin32Test, ForceFoldersMakesTheFolderPart) {
  ScopedTempDir dir;
  EXPECT_TRUE(ForceFolders(dir / "a\\b\\"));
  EXPECT_TRUE(FolderExists(dir / "a\\b"));
  EXPECT_TRUE(ForceFolders(dir / "a\\b\\"));
  EXPECT_TRUE(ForceFolders(dir / "c\\file"));
  EXPECT_TRUE(FolderExists(dir / "c"));
  EXPECT_FALSE(FolderExists(dir / "c\\file"));
  WriteFile(dir / "f", "x");
  EXPECT_FALSE(ForceFolders(dir / "f\\sub\\"));
}

TEST(FileTreeWin32Test, RemoveTreeTakesReadOnlyHiddenAndSystemEntries) {
  ScopedTempDir dir;
  const std::string top = dir / "work.tmp";
  ASSERT_TRUE(ForceFolders(top + "\\sub\\deeper\\"));
  WriteFile(top + "\\ro", "x");
  WriteFile(top + "\\sub\\hs", "x");
  WriteFile(top + "\\sub\\deeper\\.dot", "x");
  SetAttributes(top + "\\ro", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(top + "\\sub\\hs",
                FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(top + "\\sub\\deeper", FILE_ATTRIBUTE_READONLY);
  HeldFolder folder;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &folder));
  EXPECT_TRUE(folder.RemoveTree("work.tmp"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, Attributes(top));
}

TEST(FileTreeWin32Test, CopyKeepsAttributesAndTime) {
  ScopedTempDir dir;
  const std::string source = dir / "src.dat";
  WriteFile(source, std::string(65536, 's'));
  const FileTime kTime{
      (((2003 - 1980) << 9 | 4 << 5 | 5) << 16) | (6 << 11) | (7 << 5) | 4, 0};
  ASSERT_TRUE(SetFileTime(source, kTime));
  SetAttributes(source, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);

  EXPECT_TRUE(CopyFileTo(source, dir / "copy.dat"));
  EXPECT_EQ(std::string(65536, 's'), ReadFile(dir / "copy.dat"));
  EXPECT_NE(0u, Attributes(dir / "copy.dat") & FILE_ATTRIBUTE_READONLY);
  EXPECT_NE(0u, Attributes(source) & FILE_ATTRIBUTE_READONLY);
  FileTime t;
  ASSERT_TRUE(GetFileTime(dir / "copy.dat", &t));
  EXPECT_EQ(kTime.seconds, t.seconds);

  // The same file in other letters is the same file here.
  EXPECT_FALSE(CopyFileTo(source, dir / "SRC.DAT"));
  EXPECT_EQ(std::string(65536, 's'), ReadFile(source));
  SetAttributes(source, FILE_ATTRIBUTE_NORMAL);
  SetAttributes(dir / "copy.dat", FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
}  // namespace zavo
