#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <locale.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "testing/temp_dir.h"
#include "verify/member_reader.h"

namespace zavo {
namespace {

// A pax archive of one small file, written by libarchive itself.
void WriteTar(const std::string& path) {
  archive* out = archive_write_new();
  ASSERT_EQ(ARCHIVE_OK, archive_write_set_format_pax_restricted(out));
  ASSERT_EQ(ARCHIVE_OK, archive_write_open_filename(out, path.c_str()));
  archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, "a.txt");
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, 0644);
  archive_entry_set_size(entry, 5);
  ASSERT_EQ(ARCHIVE_OK, archive_write_header(out, entry));
  ASSERT_EQ(5, archive_write_data(out, "hello", 5));
  archive_entry_free(entry);
  ASSERT_EQ(ARCHIVE_OK, archive_write_close(out));
  archive_write_free(out);
}

// Jobs read archives at once, each in its own thread: every reader gives
// names in UTF-8 (the composed form of a decomposed name shows that its
// conversion runs in a UTF-8 locale) and hands the thread its own locale
// back. Under ThreadSanitizer this also shows that readers made and ended
// in two threads share nothing unguarded.
TEST(ArchiveReaderTest, ReadersInSeveralThreads) {
  ScopedTempDir dir;
  WriteTar(dir / "one.tar");
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  HeldFile archive;
  ASSERT_TRUE(top.OpenFile("one.tar", &archive));

  auto read_many = [&archive](std::vector<std::string>* seen) {
    for (int round = 0; round < 20; ++round) {
      std::unique_ptr<MemberReader> reader;
      std::string why;
      if (OpenArchiveReader(archive, &reader, &why) != ReaderOpening::kOpened) {
        seen->push_back("not opened: " + why);
        continue;
      }
      ArchiveMember member;
      std::string got;
      while (reader->Next(&member) == ReadOutcome::kItem) got += member.path;
      std::string form;
      reader->NameForm("cafe\xcc\x81", &form);
      seen->push_back(got + " " + form);
      reader.reset();
      if (uselocale(static_cast<locale_t>(0)) != LC_GLOBAL_LOCALE) {
        seen->push_back("the thread's locale was not given back");
      }
    }
  };
  std::vector<std::string> first, second;
  std::thread other(read_many, &second);
  read_many(&first);
  other.join();
  const std::vector<std::string> expected(20, "a.txt caf\xc3\xa9");
  EXPECT_EQ(expected, first);
  EXPECT_EQ(expected, second);
}

}  // namespace
}  // namespace zavo
