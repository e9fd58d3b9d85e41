#include "filelists/file_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os.h"

namespace zavo {
namespace {

using namespace std::string_literals;

class FileListTest : public ::testing::Test {
 protected:
  // The list of the file text `data`, with the usual marker.
  static FileList Parse(const std::string& data) {
    FileList list;
    ParseFileList(data, kContinuationMarker, &list);
    return list;
  }
  static std::string Format(const FileList& list) {
    return FormatFileList(list, kContinuationMarker);
  }
};

TEST_F(FileListTest, RewriteKeepsEveryLineAndSortsEntries) {
  const std::string long_text(300, 'd');
  const struct Case {
    const char* what;
    std::string marker;
    std::string file;
    std::string saved;
  } cases[] = {
      {"empty file", " >", "", ""},
      {"sorted ignoring case, continuations stay with their entry", " >",
       "b.zip first\r\n >second\r\nA.ZIP other\r\n",
       "A.ZIP other\r\nb.zip first\r\n >second\r\n"},
      {"quoted name with a blank", " >", "\"my file.zip\" text\r\n",
       "\"my file.zip\" text\r\n"},
      {"quoted name without a blank keeps its quotes", " >",
       "y y\r\n\"x.zip\" t\r\n", "\"x.zip\" t\r\ny y\r\n"},
      {"names equal but for case: both stay, in file order", " >",
       "b.zip x\r\nA.ZIP two\r\n >2\r\na.zip one\r\n >1\r\n",
       "A.ZIP two\r\n >2\r\na.zip one\r\n >1\r\nb.zip x\r\n"},
      {"lines without a blank: each stays as it was, at the top", " >",
       "z.zip t\r\nword\r\n\r\n>>>\r\nother\r\n",
       "word\r\n\r\n>>>\r\nother\r\nz.zip t\r\n"},
      {"continuation lines before any entry stay first", " >",
       " >head\r\n >more\r\nb.zip x\r\nword\r\n",
       " >head\r\n >more\r\nword\r\nb.zip x\r\n"},
      {"every line end; the last line needs none; CR LF on Win32, else the"
       " first line's end",
       " >", "b b\na a\rc c\n\rd d\r\ne e",
       kIsWin32 ? "a a\r\nb b\r\nc c\r\nd d\r\ne e\r\n"
                : "a a\nb b\nc c\nd d\ne e\n"},
      {"CR CR ends two lines", " >", "b y\r\ra x",
       kIsWin32 ? "\r\na x\r\nb y\r\n" : "\ra x\rb y\r"},
      {"LF lines", " >", "b.zip x\n >y\na.zip z\n",
       kIsWin32 ? "a.zip z\r\nb.zip x\r\n >y\r\n" : "a.zip z\nb.zip x\n >y\n"},
      {"one line without an end gets CR LF", " >", "b.zip x", "b.zip x\r\n"},
      {"long lines stay whole", " >",
       "b.zip " + long_text + "\r\n >" + long_text + "\r\na " + long_text,
       "a " + long_text + "\r\nb.zip " + long_text + "\r\n >" + long_text +
           "\r\n"},
      {"stray quotes stay", " >",
       "\"Hello\" he said\r\n\"\"q r\" s\r\n\"abc\r\n",
       "\"abc\r\n\"\"q r\" s\r\n\"Hello\" he said\r\n"},
      {"blanks in the text, marker-like text", " >",
       "x.zip  two  blanks \r\n >  >x\r\nw.zip >no\r\n",
       "w.zip >no\r\nx.zip  two  blanks \r\n >  >x\r\n"},
      {"any byte", " >", "\xe0.zip \x00\xff\r\n >\x01\r\n"s,
       "\xe0.zip \x00\xff\r\n >\x01\r\n"s},
      {"another marker", "+", "b x\r\n+y\r\n >z\r\n", " >z\r\nb x\r\n+y\r\n"},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FileList list;
    ParseFileList(c.file, c.marker, &list);
    EXPECT_EQ(c.saved, FormatFileList(list, c.marker));

    // What was written reads back as the same list.
    ParseFileList(c.saved, c.marker, &list);
    EXPECT_EQ(c.saved, FormatFileList(list, c.marker));
  }
}

TEST_F(FileListTest, SplitsEntryLinesIntoNameAndText) {
  struct Case {
    std::string line;
    std::string name;
    std::string text;
  } cases[] = {
      {"\"my file.zip\" text", "\"my file.zip\"", "text"},
      {"\"my file.zip\"text", "\"my file.zip\"", "text"},
      {"\"my file.zip\"  text", "\"my file.zip\"", " text"},
      {"\"x.zip\" t", "x.zip", "t"},
      {"x.zip  two", "x.zip", " two"},
      {"x.zip ", "x.zip", ""},
      {"word", "", "word"},
      {"", "", ""},
      {" lead", "", "lead"},
      {"\"abc def", "abc", "def"},
      {"\"abc", "", "abc"},
      {"\"\"a b\" c", "\"a b\"", "c"},
      {"a\"b c", "a\"b", "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    FileList list = Parse(c.line + "\r\n");
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(c.name, list.entry(0).name());
    ASSERT_EQ(1u, list.entry(0).lines().size());
    EXPECT_EQ(c.text, list.entry(0).lines()[0].text());
  }
}

TEST_F(FileListTest, ContinuationLinesBelongToTheEntryAbove) {
  FileList list = Parse("x.zip a\r\n >b\r\n >\r\n > c\r\ny.zip d\r\n");
  ASSERT_EQ(2u, list.size());
  const std::vector<FileListLine>& lines = list.entry(0).lines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("a", lines[0].text());
  EXPECT_EQ("b", lines[1].text());
  EXPECT_EQ("", lines[2].text());
  EXPECT_EQ(" c", lines[3].text());
  EXPECT_EQ(1u, list.entry(1).lines().size());
}

TEST_F(FileListTest, NewEntriesAreWrittenInFileForm) {
  FileList list;
  FileListEntry spaced("b b.zip");
  spaced.AddLine("x");
  spaced.AddLine("y");
  list.Insert(spaced);
  FileListEntry plain("a.zip");
  plain.AddLine("z");
  list.Insert(plain);
  // Names sort in their stored form, so the quote puts "b b.zip" first.
  EXPECT_EQ("\"b b.zip\" x\r\n >y\r\na.zip z\r\n", Format(list));
}

TEST_F(FileListTest, RenameMatchesIgnoringCase) {
  FileList list = Parse("X.ZIP text\r\n >more\r\n");
  EXPECT_TRUE(RenameEntry(&list, "x.zip", "x.rar"));
  EXPECT_EQ("x.rar text\r\n >more\r\n", Format(list));
}

TEST_F(FileListTest, RenameKeepsQuotesForNamesWithBlanks) {
  FileList list = Parse("\"my file.zip\" t\r\n\"a b.zip\"u\r\n");
  EXPECT_TRUE(RenameEntry(&list, "My File.ZIP", "my file.rar"));
  EXPECT_TRUE(RenameEntry(&list, "a b.zip", "ab.rar"));
  EXPECT_EQ("\"my file.rar\" t\r\nab.rar u\r\n", Format(list));
}

TEST_F(FileListTest, RenameOfAnAbsentNameChangesNothing) {
  FileList list = Parse("a.zip x\r\nb.zip y\r\n");
  EXPECT_FALSE(RenameEntry(&list, "c.zip", "c.rar"));
  EXPECT_FALSE(RenameEntry(&list, "a.zip x", "a.rar"));
  EXPECT_EQ("a.zip x\r\nb.zip y\r\n", Format(list));
}

TEST_F(FileListTest, RenamedEntriesKeepTheListSearchable) {
  FileList list =
      Parse("b.zip 1\r\nc.zip 2\r\nd.zip 3\r\ne.zip 4\r\nf.zip 5\r\n");
  ASSERT_TRUE(RenameEntry(&list, "d.zip", "a.rar"));
  // Each of these is found only when the list is still in order.
  for (const char* name : {"b", "c", "e", "f"}) {
    EXPECT_TRUE(RenameEntry(&list, name + ".zip"s, name + ".rar"s)) << name;
  }
  EXPECT_EQ("a.rar 3\r\nb.rar 1\r\nc.rar 2\r\ne.rar 4\r\nf.rar 5\r\n",
            Format(list));
}

TEST_F(FileListTest, CopyKeepsTheOldEntryAndGivesTheNewNameItsLines) {
  FileList list = Parse("b.zip 1\r\n >more\r\n\"my a.zip\" 2\r\nz.zip 3\r\n");
  EXPECT_TRUE(CopyEntry(&list, "b.zip", "b.7z"));
  EXPECT_TRUE(CopyEntry(&list, "my a.zip", "my a.7z"));
  EXPECT_FALSE(CopyEntry(&list, "c.zip", "c.7z"));
  EXPECT_FALSE(CopyEntry(&list, "z.zip", "z\n.7z"));
  EXPECT_EQ(
      "\"my a.7z\" 2\r\n\"my a.zip\" 2\r\nb.7z 1\r\n >more\r\nb.zip 1\r\n "
      ">more\r\nz.zip 3\r\n",
      Format(list));
}

TEST_F(FileListTest, RenameTakesTheFirstOfEqualNames) {
  FileList list = Parse("a.zip one\r\nA.ZIP two\r\n");
  EXPECT_TRUE(RenameEntry(&list, "a.zip", "a.rar"));
  EXPECT_EQ("a.rar one\r\nA.ZIP two\r\n", Format(list));
}

TEST_F(FileListTest, RenamePrefersTheEntryOfExactlyTheOldName) {
  // "a.zip" and "A.ZIP" side by side, each converted in turn: on POSIX they
  // are two files and each description must follow its own.
  FileList list = Parse("A.ZIP upper\r\nB.zip b\r\na.zip lower\r\n");
  EXPECT_TRUE(RenameEntry(&list, "a.zip", "a.7z"));
  EXPECT_TRUE(RenameEntry(&list, "A.ZIP", "A.7z"));
  // No exact match: the case-insensitive one still applies.
  EXPECT_TRUE(RenameEntry(&list, "b.ZIP", "b.7z"));
  EXPECT_EQ(kNamesIgnoreCase ? "a.7z upper\r\nA.7z lower\r\nb.7z b\r\n"
                             : "a.7z lower\r\nA.7z upper\r\nb.7z b\r\n",
            Format(list));
}

TEST_F(FileListTest, RenameRefusesNamesThatWouldNotReadBack) {
  const std::string file = "word\r\na.zip x\r\n";
  struct Case {
    std::string old_name;
    std::string new_name;
  } cases[] = {
      {"", "x.rar"},          // would take a line that names no file
      {"a.zip", ""},          // would make the entry nameless
      {"a.zip", "a\nb.rar"},  // would split the entry line
      {"a.zip", "a\rb.rar"},
      {"a.zip", "\"a.rar"},    // its quote would be read as syntax
      {"a.zip", "a \"b.rar"},  // the quote would end the quoted name early
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.new_name);
    FileList list = Parse(file);
    EXPECT_FALSE(RenameEntry(&list, c.old_name, c.new_name));
    EXPECT_EQ(file, Format(list));
  }
}

TEST_F(FileListTest, SetEntriesBecomeOneKeepingEveryDescription) {
  struct Case {
    const char* file;
    std::vector<std::string> volumes;  // the one naming the set first
    bool merged;
    const char* after;
  } cases[] = {
      // The first volume's entry is renamed; the others' add what it lacks.
      {"x.part1.rar Game\r\n >disk 1\r\nx.part2.rar Game\r\n >disk 2\r\n"
       "y.zip y\r\n",
       {"x.part1.rar", "x.part2.rar"},
       true,
       "x.7z Game\r\n >disk 1\r\n >disk 2\r\ny.zip y\r\n"},
      // Same descriptions: nothing is repeated.
      {"x.part1.rar same\r\nx.part2.rar same\r\nx.part3.rar \r\n",
       {"x.part1.rar", "x.part2.rar", "x.part3.rar"},
       true,
       "x.7z same\r\n"},
      // Only a later volume is described: its entry is the set's.
      {"a.txt a\r\nx.z01 split zip\r\n",
       {"x.zip", "x.z01", "x.z02"},
       true,
       "a.txt a\r\nx.7z split zip\r\n"},
      // No volume is described: nothing changes.
      {"a.txt a\r\n", {"x.zip", "x.z01"}, false, "a.txt a\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    FileList list = Parse(c.file);
    EXPECT_EQ(c.merged, RenameSetEntries(&list, c.volumes, "x.7z"));
    EXPECT_EQ(c.after, Format(list));
  }
}

}  // namespace
}  // namespace zavo
