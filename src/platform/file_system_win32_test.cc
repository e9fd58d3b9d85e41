// <windows.h> turns GetFileAttributes into its -A form; this test calls
// zavo's own function of that name, so the macro goes before anything
// declares it.
#include <windows.h>
#undef GetFileAttributes

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

std::vector<std::string> Names(const std::string& pattern) {
  std::vector<std::string> names;
  std::unique_ptr<DirectoryListing> listing;
  if (!ListFolder(pattern, &listing)) return {"(no listing)"};
  DirEntry entry;
  while (listing->Next(&entry)) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}

std::uint32_t ListedBits(const std::string& folder, const std::string& name) {
  std::unique_ptr<DirectoryListing> listing;
  DirEntry entry;
  if (!ListFolder(folder + "\\" + name, &listing) || !listing->Next(&entry)) {
    return 0xFFFFFFFF;
  }
  return entry.attributes;
}

// The packed local date-time of the given moment.
std::int64_t Packed(int year, int month, int day, int hour, int minute,
                    int second) {
  std::int64_t date = ((year - 1980) << 9) | (month << 5) | day;
  std::int64_t time = (hour << 11) | (minute << 5) | (second / 2);
  return (date << 16) | time;
}

TEST(FileSystemWin32Test, ListingsMatchMasksInAnyLetterCase) {
  ScopedTempDir dir;
  for (const char* name : {"a.zip", "B.ZIP", "old.zipx", "readme"}) {
    WriteFile(dir / name, "x");
  }
  ASSERT_TRUE(MakeFolder(dir / "sub"));
  EXPECT_EQ((std::vector<std::string>{"B.ZIP", "a.zip"}), Names(dir / "*.zip"));
  EXPECT_EQ(
      (std::vector<std::string>{"B.ZIP", "a.zip", "old.zipx", "readme", "sub"}),
      Names(dir / "*.*"));
  EXPECT_EQ((std::vector<std::string>{"readme"}), Names(dir / "README"));
  EXPECT_EQ((std::vector<std::string>{}), Names(dir / "sub\\*.*"));

  std::unique_ptr<DirectoryListing> listing;
  Status missing = ListFolder(dir / "missing\\*.*", &listing);
  EXPECT_TRUE(missing.missing());
  EXPECT_NE(std::string::npos, missing.message().find("missing"))
      << missing.message();
}

TEST(FileSystemWin32Test, AttributesOfEntries) {
  ScopedTempDir dir;
  WriteFile(dir / "plain", "x");
  WriteFile(dir / "ro", "x");
  WriteFile(dir / "hs", "x");
  ASSERT_TRUE(MakeFolder(dir / "sub"));
  ASSERT_TRUE(
      ::SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(::SetFileAttributesA(
      (dir / "hs").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  struct Case {
    const char* name;
    std::uint32_t set;
    std::uint32_t clear;
  } cases[] = {
      {"plain", 0, kAttrReadOnly | kAttrFolder | kAttrLink},
      {"ro", kAttrReadOnly, kAttrFolder},
      {"hs", kAttrHidden | kAttrSystem, kAttrReadOnly},
      {"sub", kAttrFolder, kAttrReadOnly | kAttrLink},
  };
  for (const Case& c : cases) {
    FileAttributes a;
    ASSERT_TRUE(GetFileAttributes(dir / c.name, &a)) << c.name;
    EXPECT_EQ(c.set, a.bits & c.set) << c.name;
    EXPECT_EQ(0u, a.bits & c.clear) << c.name;
    EXPECT_EQ(a.bits, ListedBits(dir.path(), c.name)) << c.name;
  }
  FileAttributes a;
  EXPECT_FALSE(GetFileAttributes(dir / "missing", &a));
  EXPECT_FALSE(GetFileAttributes("", &a));
}

TEST(FileSystemWin32Test, WritableForErasingThenRestoredExactly) {
  ScopedTempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  const DWORD kStrict = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(::SetFileAttributesA(f.c_str(), kStrict));
  FileAttributes saved;
  ASSERT_TRUE(GetFileAttributes(f, &saved));
  EXPECT_FALSE(EraseFile(f));  // read-only files are not erased
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(f.c_str()));

  ASSERT_TRUE(MakeFileWritable(f));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
            ::GetFileAttributesA(f.c_str()));
  ASSERT_TRUE(RestoreFileAttributes(f, saved));
  EXPECT_EQ(kStrict, ::GetFileAttributesA(f.c_str()));

  ASSERT_TRUE(MakeFileWritable(f));
  EXPECT_TRUE(EraseFile(f));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(f.c_str()));
}

TEST(FileSystemWin32Test, ReadOnlyFolderIsOpenedForRemoval) {
  ScopedTempDir dir;
  const std::string sub = dir / "sub";
  ASSERT_TRUE(MakeFolder(sub));
  ASSERT_TRUE(::SetFileAttributesA(sub.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(EraseFile(sub));  // never a folder
  ASSERT_TRUE(MakeFileWritable(sub));
  EXPECT_EQ(0u, ::GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(RemoveEmptyFolder(sub));
  EXPECT_FALSE(RemoveEmptyFolder(sub));
}

TEST(FileSystemWin32Test, FileTimesArePackedLocalTimesInTwoSecondSteps) {
  ScopedTempDir dir;
  const std::string f = dir / "f";
  WriteFile(f, "x");
  const std::int64_t kJune = Packed(2021, 6, 15, 13, 45, 22);
  ASSERT_TRUE(SetFileTime(f, FileTime{kJune, 0}));
  FileTime t;
  ASSERT_TRUE(GetFileTime(f, &t));
  EXPECT_EQ(kJune, t.seconds);
  EXPECT_EQ(0, t.nanoseconds);

  // An odd second and a fraction, written natively, read back to the
  // two-second step below.
  SYSTEMTIME local = {2021, 6, 2, 15, 13, 45, 23, 500};
  FILETIME local_time, universal;
  ASSERT_TRUE(::SystemTimeToFileTime(&local, &local_time));
  ASSERT_TRUE(::LocalFileTimeToFileTime(&local_time, &universal));
  HANDLE h = ::CreateFileA(f.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  ASSERT_TRUE(::SetFileTime(h, nullptr, nullptr, &universal));
  ::CloseHandle(h);
  ASSERT_TRUE(GetFileTime(f, &t));
  EXPECT_EQ(kJune, t.seconds);
}

TEST(FileSystemWin32Test, FileTimesOfReadOnlyFilesFoldersAndBadValues) {
  ScopedTempDir dir;
  const std::string f = dir / "ro";
  WriteFile(f, "x");
  ASSERT_TRUE(::SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(MakeFolder(dir / "sub"));
  const std::int64_t kOld = Packed(1999, 12, 31, 23, 59, 58);
  for (const std::string& path : {f, dir / "sub"}) {
    ASSERT_TRUE(SetFileTime(path, FileTime{kOld, 0})) << path;
    FileTime t;
    ASSERT_TRUE(GetFileTime(path, &t)) << path;
    EXPECT_EQ(kOld, t.seconds) << path;
  }
  EXPECT_NE(0u, ::GetFileAttributesA(f.c_str()) & FILE_ATTRIBUTE_READONLY);

  EXPECT_FALSE(SetFileTime(f, FileTime{Packed(2021, 13, 1, 0, 0, 0), 0}));
  EXPECT_FALSE(SetFileTime(f, FileTime{-1, 0}));
  FileTime t;
  Status missing = GetFileTime(dir / "missing", &t);
  EXPECT_FALSE(missing);
  EXPECT_NE(std::string::npos, missing.message().find(dir / "missing"))
      << missing.message();
}

TEST(FileSystemWin32Test, RenameReplacesTheDestination) {
  ScopedTempDir dir;
  WriteFile(dir / "new", "new");
  WriteFile(dir / "old", "old");
  EXPECT_TRUE(RenameFile(dir / "new", dir / "old"));
  EXPECT_EQ("new", ReadFile(dir / "old"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            ::GetFileAttributesA((dir / "new").c_str()));

  Status failed = RenameFile(dir / "old", dir / "missing\\old");
  EXPECT_FALSE(failed);
  EXPECT_EQ("new", ReadFile(dir / "old"));
  EXPECT_NE(std::string::npos, failed.message().find(dir / "missing"));
}

TEST(FileSystemWin32Test, CurrentFolderAndRoots) {
  const std::string before = GetCurrentFolder();
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(':', before[1]) << before;
  // A drive root lists its entries like any folder.
  const std::string root = before.substr(0, 3);
  EXPECT_TRUE(IsRootFolder(root));
  std::unique_ptr<DirectoryListing> listing;
  EXPECT_TRUE(ListFolder(root + "*.*", &listing));
}

TEST(PathPartsWin32Test, Roots) {
  for (const char* root :
       {"C:\\", "\\", "\\\\srv\\share", "\\\\srv\\share\\"}) {
    EXPECT_TRUE(IsRootFolder(root)) << root;
  }
  for (const char* other :
       {"", "C:", "C:\\dir", "C:\\dir\\", "\\dir", "\\\\srv", "\\\\srv\\",
        "\\\\srv\\share\\dir", "dir"}) {
    EXPECT_FALSE(IsRootFolder(other)) << other;
  }
}

}  // namespace
}  // namespace zavo
