#include "config/sectioned_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/os.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

class SectionedFileTest : public ::testing::Test {
 protected:
  // Loads `data` and expects the file to exist.
  void Load(const std::string& data) {
    WriteFile(path_, data);
    Status loaded = file_.Load(path_);
    ASSERT_TRUE(loaded) << loaded.message();
  }

  std::vector<std::string> SectionNames() {
    std::vector<std::string> names;
    std::string name;
    for (bool more = file_.NextSection(true, &name); more;
         more = file_.NextSection(false, &name)) {
      names.push_back(name);
    }
    return names;
  }

  ScopedTempDir dir_;
  std::string path_ = dir_ / "archivers.ini";
  SectionedFile file_;
};

using Strings = std::vector<std::string>;

// The text as written back, its lines ended by CR LF on Win32 and by `end`,
// the line end of the file that was read, elsewhere. Expectations are
// written with LF.
std::string Written(const std::string& text, const std::string& end = "\n") {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? std::string(kIsWin32 ? "\r\n" : end) : std::string(1, c);
  }
  return out;
}

TEST_F(SectionedFileTest, NormalisesTheText) {
  const struct {
    const char* text;
    const char* normalised;
    const char* end = "\n";
  } kCases[] = {
      {"[ARJ]\n\nextension=arj\n", "[ARJ]\n\nextension=arj\n"},
      // Comments at the top are no section unless a key line follows.
      {"\n[A]\nx=1\n", "\n[A]\nx=1\n"},
      {"; note\n[A]\nx=1", "; note\n[A]\nx=1\n"},
      {"; note\n\n", "; note\n\n"},
      {"; c\nk=v\n[A]\nx=1", "[Default]\n; c\nk=v\n[A]\nx=1\n"},
      {"[ARJ]\nextension = arj\n", "[ARJ]\nextension=arj\n"},
      {"  [A]  \n\tk\t=\tv w \n", "[A]\nk=v w\n"},
      {"[A]\nx=1\nadd=a\nX=2\n", "[A]\nx=2\nadd=a\n"},
      {"[]\nx=1\n[  ]\ny=2\n", "[Default]\nx=1\ny=2\n"},
      {"[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n", "[A]\nx=1\nz=3\n[B]\ny=2\n"},
      {"[ ARJ ]\nk=v\n", "[ ARJ ]\nk=v\n"},
      {"[ARJ\nk=v\n", "[ARJ]\nk=v\n"},
      {"[A]\nadd=7z a -mx=9 @ArcName\n", "[A]\nadd=7z a -mx=9 @ArcName\n"},
      {"[A]\nx==a\n", "[A]\nx=a\n"},
      {"[A]\nkey=\nkey2\n=v\n= \n", "[A]\nkey\nkey2\n=v\n\n"},
      {"[A] ; the target\nk=v\n", "[A]\n; the target\nk=v\n"},
      {"[A]\n; a = b = c\n;x\n;x\n", "[A]\n; a = b = c\n;x\n;x\n"},
      {"[A]\r\nk=v", "[A]\nk=v\n", "\r\n"},
      {"[A]\n\rk=v\rx\r\r", "[A]\nk=v\nx\n\n", "\n\r"},
      {"[A]\rk=v\r\nx\n", "[A]\nk=v\nx\n", "\r"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    Load(c.text);
    EXPECT_EQ(Written(c.normalised, c.end), file_.Text()) << c.text;
    EXPECT_TRUE(file_.complete()) << c.text;
  }
}

TEST_F(SectionedFileTest, ReadsValuesInAnyLetterCase) {
  Load(
      "top=1\n[ARJ]\nextension=arj\nadd=pk a @ArcName\n[Zip]\n"
      "extension=zip\n");
  EXPECT_EQ("arj", file_.ReadString("arj", "EXTENSION"));
  EXPECT_EQ("pk a @ArcName", file_.ReadString("ARJ", "add"));
  EXPECT_EQ("zip", file_.ReadString("ZIP", "Extension"));
  EXPECT_EQ("1", file_.ReadString("", "top"));
  EXPECT_EQ("1", file_.ReadString("  ", "top"));
  EXPECT_EQ("1", file_.ReadString("default", "TOP"));
  EXPECT_EQ("", file_.ReadString("ARJ", "test"));
  EXPECT_EQ("", file_.ReadString("RAR", "extension"));
  EXPECT_EQ("", file_.ReadString(" ARJ", "extension"));  // never trimmed
}

TEST_F(SectionedFileTest, EnumeratesSectionsInFileOrder) {
  Load("top=1\n[RAR]\ne=rar\n[ZIP]\ne=zip\n[rar]\nx=1\n");
  EXPECT_EQ((Strings{"Default", "RAR", "ZIP"}), SectionNames());
  EXPECT_TRUE(file_.at_end());
  std::string name = "x";
  EXPECT_FALSE(file_.NextSection(false, &name));
  EXPECT_EQ("", name);
  EXPECT_TRUE(file_.NextSection(true, &name));  // starts again
  EXPECT_EQ("Default", name);
  EXPECT_FALSE(file_.at_end());

  Load("");
  EXPECT_TRUE(SectionNames().empty());

  // A file's opening comments do not make a first section.
  Load("; archivers\n\n[RAR]\ne=rar\n");
  EXPECT_EQ((Strings{"RAR"}), SectionNames());
  EXPECT_EQ((Strings{"; archivers", ""}), file_.preamble());
}

TEST_F(SectionedFileTest, KeepsLongLinesWhole) {
  std::string value(300, 'v');
  Load("[A]\nadd=" + value + "\n");
  EXPECT_EQ(value, file_.ReadString("A", "add"));
  EXPECT_EQ(Written("[A]\nadd=" + value + "\n"), file_.Text());
}

// Files whose text the normalised form cannot carry are never written.
TEST_F(SectionedFileTest, LeavesFilesItCannotCarryAsTheyAre) {
  const char* const kTexts[] = {
      "[A]x\nk=v\n",      // text after the header
      "[a]b]\nk=v\n",     // likewise
      "[[A]\nk=v\n",      // a bracket would go
      "[A]\n[B]\nk=v\n",  // a header with no line
      "[A]\nk=v\n[B]",    // likewise, at the end
      "[A]\nk= =v\n",     // would read back as "v"
  };
  for (const char* text : kTexts) {
    Load(text);
    EXPECT_FALSE(file_.complete()) << text;
    Status saved = file_.SaveAs(path_);
    EXPECT_FALSE(saved) << text;
    EXPECT_NE(std::string::npos, saved.message().find(path_));
    EXPECT_EQ(text, ReadFile(path_));
  }
  Load("[A]\nk=v\n[a]\n");  // a repeated header loses nothing
  EXPECT_TRUE(file_.complete());
}

TEST_F(SectionedFileTest, SavesTheNormalisedText) {
  Load("[ARJ]\nextension = arj\n\n; c\n[ARJ]\nadd=x");
  EXPECT_TRUE(file_.SaveAs(path_));
  EXPECT_EQ(Written("[ARJ]\nextension=arj\n\n; c\nadd=x\n"), ReadFile(path_));

  std::string other = dir_ / "sub/other.ini";
  Status saved = file_.SaveAs(other);  // no such folder
  EXPECT_FALSE(saved);
  EXPECT_NE(std::string::npos, saved.message().find(other));
  EXPECT_EQ(other, file_.file_name());
}

TEST_F(SectionedFileTest, MissingFileLoadsEmptyAndIsNotCreated) {
  Status loaded = file_.Load(path_);
  EXPECT_FALSE(loaded);
  EXPECT_NE(std::string::npos, loaded.message().find(path_));
  EXPECT_TRUE(SectionNames().empty());
  EXPECT_EQ("", file_.ReadString("", "x"));
  EXPECT_TRUE(file_.SaveAs(path_));
  EXPECT_FALSE(std::filesystem::exists(path_));

  file_.Put("New", "k", "v");
  EXPECT_TRUE(file_.SaveAs(path_));
  EXPECT_EQ(Written("[New]\nk=v\n"), ReadFile(path_));
}

TEST_F(SectionedFileTest, PutMergesKeysButNotCommentsOrBlankLines) {
  file_.Put("", " k ", " 1 ");
  file_.Put("  ", "K", "2");
  file_.Put("Default", ";c", "");
  file_.Put("Default", ";c", "");
  file_.Put("Default", "", "");
  file_.Put("Default", "", "");
  file_.Put("S", "k", "3");
  EXPECT_EQ(Written("[Default]\nk=2\n;c\n;c\n\n\n[S]\nk=3\n"), file_.Text());
}

TEST_F(SectionedFileTest, PutValuesThatWouldNotReadBackAreNotSaved) {
  file_.Put("A", "k", "line\nbreak");
  EXPECT_FALSE(file_.SaveAs(path_));
  EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST(SectionTest, EnumeratesEntries) {
  Section section("S");
  section.AddEntry("a", "1");
  section.AddEntry("a", "2");
  EXPECT_EQ(0, section.IndexOfKey("A"));
  EXPECT_EQ(-1, section.IndexOfKey("b"));
  std::string key, value;
  EXPECT_TRUE(section.NextEntry(true, &key, &value));
  EXPECT_EQ("1", value);
  EXPECT_TRUE(section.NextEntry(false, &key, &value));
  EXPECT_EQ("2", value);
  EXPECT_FALSE(section.NextEntry(false, &key, &value));
  EXPECT_TRUE(section.at_end());
  EXPECT_EQ("", key);
}

class SectionedFileCacheTest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;
  std::string path_ = dir_ / "archivers.ini";
};

TEST_F(SectionedFileCacheTest, ReadsEachFileOnceAndWritesItBack) {
  WriteFile(path_, "[RAR]\nextension = rar\n[ZIP]\nextension=zip\n");
  SectionedFileCache cache;
  std::string section;
  std::vector<std::string> extensions;
  cache.NextSection(true, path_, &section);
  WriteFile(path_, "changed after the first read\n");
  while (!cache.at_end()) {
    extensions.push_back(cache.ReadString(path_, section, "extension"));
    cache.NextSection(false, path_, &section);
  }
  EXPECT_EQ((Strings{"rar", "zip"}), extensions);
  EXPECT_TRUE(cache.Release());
  EXPECT_EQ(Written("[RAR]\nextension=rar\n[ZIP]\nextension=zip\n"),
            ReadFile(path_));
}

TEST_F(SectionedFileCacheTest, DestructionWritesBack) {
  WriteFile(path_, "[A]\nk = v\n");
  {
    SectionedFileCache cache;
    EXPECT_EQ("v", cache.ReadString(path_, "a", "K"));
  }
  EXPECT_EQ(Written("[A]\nk=v\n"), ReadFile(path_));
}

TEST_F(SectionedFileCacheTest, LeavesNormalFilesUntouched) {
  // An LF file is normal on POSIX: rewriting it with CR LF would mark every
  // line as changed for the tools that edit it there.
  for (const char* text : {"[A]\r\nk=v\r\n", "[A]\nk=v\n"}) {
    if (kIsWin32 && text[3] == '\n') continue;
    WriteFile(path_, text);
    auto old_time =
        std::filesystem::last_write_time(path_) - std::chrono::hours(1);
    std::filesystem::last_write_time(path_, old_time);
    SectionedFileCache cache;
    EXPECT_EQ("v", cache.ReadString(path_, "A", "k"));
    EXPECT_TRUE(cache.Release());
    EXPECT_EQ(old_time, std::filesystem::last_write_time(path_)) << text;
    EXPECT_EQ(text, ReadFile(path_));
  }
}

TEST_F(SectionedFileCacheTest, ReportsFilesLeftUnwritten) {
  std::string other = dir_ / "other.ini";
  WriteFile(path_, "[A]x\nk=v\n");
  WriteFile(other, "[B]\nk = v\n");
  SectionedFileCache cache;
  EXPECT_EQ("v", cache.ReadString(path_, "A", "k"));
  EXPECT_EQ("v", cache.ReadString(other, "B", "k"));
  Status released = cache.Release();
  EXPECT_FALSE(released);
  EXPECT_NE(std::string::npos, released.message().find(path_));
  EXPECT_EQ(std::string::npos, released.message().find(other));
  EXPECT_EQ("[A]x\nk=v\n", ReadFile(path_));
  EXPECT_EQ(Written("[B]\nk=v\n"), ReadFile(other));
}

TEST_F(SectionedFileCacheTest, MissingFileGivesNothing) {
  SectionedFileCache cache;
  std::string section = "x";
  EXPECT_FALSE(cache.NextSection(true, path_, &section));
  EXPECT_TRUE(cache.at_end());
  EXPECT_EQ("", cache.ReadString(path_, "A", "k"));
  EXPECT_TRUE(cache.Release());
  EXPECT_FALSE(std::filesystem::exists(path_));
}

}  // namespace
}  // namespace zavo
