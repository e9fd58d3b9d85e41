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

TEST(FileTreeWin32Test, RemoveTreeTakesReadOnlyHiddenAndSystemEntries) {
  ScopedTempDir dir;
  const std::string top = dir / "work.tmp";
  MakeFoldersFor(top + "\\sub\\deeper\\");
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

}  // namespace
}  // namespace zavo
