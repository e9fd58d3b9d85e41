#include "archivers/archiver_definition.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "archivers/archiver_list.h"
#include "platform/os.h"
#include "platform/process.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

namespace fs = std::filesystem;

TEST(ArchiverIdentTest, DecodesOffsetAndBytes) {
  struct Case {
    const char* ident;
    std::int32_t offset;
    std::string bytes;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"0,504B0304", 0, "\x50\x4B\x03\x04"},
      {"2 , 2D6C68", 2, "\x2D\x6C\x68"},
      {"\t3\t,\t4d534346 ", 3, "\x4D\x53\x43\x46"},
      {"5", 5, std::string(1, '\0')},
      {",1F8B", 0, std::string(1, '\0')},  // "1F8B" is the offset word
      {"0,,,60ea", 0, "\x60\xEA"},
      {"0,1F8B08,x", 0, "\x1F\x8B\x08"},
      {"0,ABC", 0, "\xAB\x0C"},
      {"x,AA", 0, "\xAA"},
      {"257,7573746172", 257, "ustar"},
      {"-1,AA", -1, "\xAA"},
  };
  for (const Case& c : cases) {
    std::int32_t offset = 99;
    std::string bytes = "old";
    DecodeIdent(c.ident, &offset, &bytes);
    EXPECT_EQ(c.offset, offset) << "ident \"" << c.ident << "\"";
    EXPECT_EQ(c.bytes, bytes) << "ident \"" << c.ident << "\"";
  }
}

class ArchiverRecognitionTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Recognises the file at `path` as the scan does: opened in its folder
  // without following a link or waiting.
  std::int32_t Identify(const ArchiverList& list, const std::string& path) {
    HeldFolder folder;
    HeldFile file;
    if (path.empty() || !HeldFolder::Open(PathFolder(path), &folder) ||
        !folder.OpenFile(PathFileName(path), &file)) {
      return list.Recognise(PathFileName(path), nullptr);
    }
    return list.Recognise(PathFileName(path), &file);
  }

  ScopedTempDir temp_;
  fs::path dir_{temp_.path()};
};

TEST_F(ArchiverRecognitionTest, ByExtensionIgnoringLetterCase) {
  ArchiverList list;
  list.AddDefinition("zip", "", "", "", "");
  list.AddDefinition("arj", "", "", "", "");
  fs::create_directory(dir_ / "OLD.DIR");
  struct Case {
    std::string name;
    std::int32_t index;
  };
  const Case cases[] = {
      {"X.ARJ", 1}, {"x.zip", 0},           {"X.RAR", -1},
      {"X", -1},    {"OLD.DIR/README", -1}, {"x.zip.bak", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.index, Identify(list, Write(c.name, "data"))) << c.name;
  }
  EXPECT_EQ(-1, Identify(list, (dir_ / "missing.zip").string()));
  EXPECT_EQ(-1, Identify(list, ""));
}

TEST_F(ArchiverRecognitionTest, IdentBytesClaimAnyNameAndTheExtensionItsOwn) {
  ArchiverList list;
  list.AddDefinition("zip", "0,504B", "", "", "");
  // The extension names the kind even where the bytes do not fit.
  EXPECT_EQ(0, Identify(list, Write("A.ZIP", "ZZ archive")));
  EXPECT_EQ(0, Identify(list, Write("A.DAT", "PK\x03\x04")));
  // With AnyExtension off, only names of some kind are looked at.
  list.set_any_extension(false);
  EXPECT_EQ(-1, Identify(list, Write("B.DAT", "PK\x03\x04")));
  list.set_any_extension(true);
  EXPECT_EQ(0, Identify(list, Write("exact", "PK")));
  EXPECT_EQ(-1, Identify(list, Write("short", "P")));
  EXPECT_EQ(0, Identify(list, Write("empty.zip", "")));
}

TEST_F(ArchiverRecognitionTest, BytesAtAnOffset) {
  ArchiverList list;
  list.AddDefinition("lzh", "2,2D6C68", "", "", "");
  EXPECT_EQ(0, Identify(list, Write("a", "xx-lh5-")));
  EXPECT_EQ(0, Identify(list, Write("b", "xx-lh")));
  // Only two bytes are there to read at offset 2.
  EXPECT_EQ(-1, Identify(list, Write("c", "xx-l")));
  EXPECT_EQ(-1, Identify(list, Write("d", "-lh5-xx")));
  // Far beyond the end of the file.
  ArchiverList far;
  far.AddDefinition("", "100000,00", "", "", "");
  EXPECT_EQ(-1, Identify(far, Write("e", std::string(10, '\0'))));
}

// One reading of a file serves every definition; bytes far into the file
// are read apart, and a file shorter than the longest ident still matches
// the shorter ones.
TEST_F(ArchiverRecognitionTest, IdentsNearAndFarInOneList) {
  ArchiverList list;
  list.AddDefinition("", "0,41", "", "", "");
  list.AddDefinition("", "3,4243", "", "", "");
  list.AddDefinition("", "9000,5A", "", "", "");
  std::string far(9001, 'x');
  far[9000] = 'Z';
  EXPECT_EQ(2, Identify(list, Write("far", far)));
  EXPECT_EQ(1, Identify(list, Write("near", "AxxBC")));
  EXPECT_EQ(0, Identify(list, Write("short", "AxxB")));
  EXPECT_EQ(-1, Identify(list, Write("none", std::string(9000, 'x') + "Y")));
}

TEST_F(ArchiverRecognitionTest, NegativeOffsetNeverMatches) {
  ArchiverList list;
  list.AddDefinition("x", "-1,41", "", "", "");
  list.AddDefinition("x", "-2,", "", "", "");
  EXPECT_EQ(-1, Identify(list, Write("a.dat", std::string("AAAA\0\0", 6))));
}

TEST_F(ArchiverRecognitionTest, DefinitionWithNothingToGoOnMatchesNothing) {
  ArchiverList list;
  list.AddDefinition("", "", "x", "", "");
  EXPECT_EQ(-1, Identify(list, Write("a.zip", "PK")));
  EXPECT_EQ(-1, Identify(list, Write("noext", "PK")));
}

TEST_F(ArchiverRecognitionTest, LaterDefinitionWins) {
  ArchiverList list;
  list.AddDefinition("zip", "", "first", "", "");
  list.AddDefinition("zip", "", "second", "", "");
  list.AddDefinition("arj", "", "third", "", "");
  EXPECT_EQ(1, Identify(list, Write("A.ZIP", "x")));
  EXPECT_EQ(-1, Identify(list, Write("B.RAR", "x")));
}

TEST_F(ArchiverRecognitionTest, LongestWholeExtensionWins) {
  ArchiverList list;
  list.AddDefinition("7z", "0,377ABCAF271C", "", "", "");  // 0
  list.AddDefinition("tar.gz", "", "", "", "");            // 1
  list.AddDefinition("x.tar.gz", "", "", "", "");          // 2
  list.AddDefinition("gz", "", "", "", "");                // 3
  list.AddDefinition("tar", "", "", "", "");               // 4
  list.AddDefinition("tar.bz2", "", "", "", "");           // 5
  list.AddDefinition("lzh", "2,2D6C68", "", "", "");       // 6
  struct Case {
    std::string name;
    std::string bytes;
    std::int32_t index;
    std::string renamed;  // with the extension "7z"
  };
  const Case cases[] = {
      {"a.tar.gz", "data", 1, "a.7z"},
      {"B.TAR.GZ", "data", 1, "B.7z"},
      {"c.gz", "data", 3, "c.7z"},
      {"d.tar.gz.gz", "data", 3, "d.tar.gz.7z"},
      {"e.x.tar.gz", "data", 2, "e.7z"},  // the longest
      {"fx.tar.gz", "data", 1, "fx.7z"},  // "x.tar.gz" must start at a dot
      {"g.tar", "data", 4, "g.7z"},
      {"h.tar.bz2", "data", 5, "h.7z"},
      {"i.bz2", "data", -1, ""},
      {".tar.gz", "data", 1, ".7z"},
      {"tar.gz", "data", 3, "tar.7z"},  // no dot before "tar"
      // Bytes win over any extension, wherever their definition stands.
      {"j.tar.gz", "xx-lh5-", 6, "j.tar.7z"},
      {"k.tar.gz", "7z\xBC\xAF\x27\x1C", 0, "k.tar.7z"},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.name, c.bytes);
    const std::int32_t index = Identify(list, path);
    EXPECT_EQ(c.index, index) << c.name;
    if (index < 0) continue;
    EXPECT_EQ(WithBackslash(dir_.string()) + c.renamed,
              list.definition(index).RenamedPath(path, "7z"))
        << c.name;
  }
}

// Only the regular file that was opened is recognised: a folder, a link
// of any kind (never followed) and a pipe (never waited for) are not.
TEST_F(ArchiverRecognitionTest, OnlyRegularFilesMatch) {
  if (kIsWin32) GTEST_SKIP() << "needs a symbolic link";
  ArchiverList list;
  list.AddDefinition("zip", "", "", "", "");
  list.AddDefinition("", "0,00", "", "", "");
  fs::create_directory(dir_ / "dir.zip");
  fs::create_directory_symlink(dir_ / "dir.zip", dir_ / "link.zip");
  fs::create_symlink(dir_ / "gone.zip", dir_ / "dangling.zip");
  EXPECT_EQ(-1, Identify(list, (dir_ / "dir.zip").string()));
  EXPECT_EQ(-1, Identify(list, (dir_ / "link.zip").string()));
  EXPECT_EQ(-1, Identify(list, (dir_ / "dangling.zip").string()));
  fs::create_symlink(Write("real.zip", "x"), dir_ / "tofile.zip");
  EXPECT_EQ(-1, Identify(list, (dir_ / "tofile.zip").string()));
  EXPECT_EQ(0, Identify(list, (dir_ / "real.zip").string()));
#ifndef _WIN32
  ASSERT_EQ(0, mkfifo((dir_ / "pipe.zip").c_str(), 0666));
  EXPECT_EQ(-1, Identify(list, (dir_ / "pipe.zip").string()));
#endif
}

TEST_F(ArchiverRecognitionTest, ReadOnlyArchiveKeepsItsMode) {
  if (kIsWin32) GTEST_SKIP() << "POSIX mode bits";
  const std::string path = Write("ro.dat", "PK\x03\x04");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
  const auto before = fs::last_write_time(path);
  ArchiverList list;
  list.AddDefinition("zip", "0,504B0304", "", "", "");
  EXPECT_EQ(0, Identify(list, path));
  EXPECT_EQ(fs::perms::owner_read | fs::perms::group_read,
            fs::status(path).permissions());
  EXPECT_EQ(before, fs::last_write_time(path));
}

}  // namespace
}  // namespace zavo
