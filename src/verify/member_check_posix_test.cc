#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "testing/temp_dir.h"
#include "verify/member_check.h"
#include "verify/member_reader.h"

namespace zavo {
namespace {

constexpr std::int64_t kStamp = 981173106;  // 2001-02-03 04:05:06 UTC

void Touch(const std::string& path, std::int64_t seconds, long nanoseconds) {
  struct timespec times[2] = {{0, UTIME_OMIT},
                              {static_cast<time_t>(seconds), nanoseconds}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Gives every file and folder below `top` the time kStamp.
void Stamp(const std::string& top) {
  Touch(top, kStamp, 0);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
    if (!entry.is_symlink()) Touch(entry.path().string(), kStamp, 0);
  }
}

// A tree of every kind: a file spanning several read pieces, a folder with
// an empty folder, a dot-name, links near and far.
void MakeTree(const std::string& top) {
  mkdir(top.c_str(), 0755);
  WriteFile(top + "/big", std::string(200000, 'b'));
  chmod((top + "/big").c_str(), 0640);
  mkdir((top + "/sub").c_str(), 0750);
  mkdir((top + "/sub/empty").c_str(), 0700);
  WriteFile(top + "/sub/.dot", "dot");
  EXPECT_EQ(0, symlink("/nonexistent/abs", (top + "/abs").c_str()));
  EXPECT_EQ(0, symlink("../big", (top + "/sub/near").c_str()));
}

MemberCheckResult CheckTrees(const std::string& archive_tree,
                             const std::string& work, bool archive_expected) {
  HeldFolder archive_top, work_top;
  EXPECT_TRUE(HeldFolder::Open(archive_tree, &archive_top));
  EXPECT_TRUE(HeldFolder::Open(work, &work_top));
  auto reader = TreeReader(&archive_top, {});
  MemberCheckSettings settings;
  settings.archive_name =
      archive_expected ? "the old archive" : "the new archive";
  settings.archive_is_expected = archive_expected;
  return CheckMembers(reader.get(), work_top, settings);
}

// Each difference between an archive (here: a tree read as one) and the
// work folder, in both directions of the checks.
TEST(MemberCheckTest, NamesEachDifference) {
  struct Case {
    const char* what;
    // Applied to the archive's tree and the work folder.
    std::function<void(const std::string&, const std::string&)> spoil;
    bool archive_expected;
    std::string loss;
  };
  // Times are spoilt after the others' spoiling is stamped over.
  auto times = [](const std::string& what) {
    return std::string(what).find("time") != std::string::npos;
  };
  const Case cases[] = {
      {"equal", [](const std::string&, const std::string&) {}, false, ""},
      {"missing from the archive",
       [](const std::string& t, const std::string&) {
         unlink((t + "/sub/.dot").c_str());
       },
       false, "[sub/.dot] is missing from the new archive"},
      {"only in the archive",
       [](const std::string& t, const std::string&) {
         WriteFile(t + "/more", "");
       },
       false, "[more] is in the new archive but not in the work folder"},
      {"missing from the work folder",
       [](const std::string& t, const std::string&) {
         WriteFile(t + "/more", "");
       },
       true, "[more] is missing from the work folder"},
      {"only in the work folder",
       [](const std::string& t, const std::string&) {
         rmdir((t + "/sub/empty").c_str());
       },
       true, "[sub/empty] is in the work folder but not in the old archive"},
      {"size",
       [](const std::string& t, const std::string&) {
         EXPECT_EQ(0, truncate((t + "/big").c_str(), 5));
       },
       true, "[big] differs in its size (5 bytes, 200000 in the work folder)"},
      {"last byte",
       [](const std::string& t, const std::string&) {
         WriteFile(t + "/big", std::string(199999, 'b') + "X");
         Touch(t + "/big", kStamp, 0);
       },
       false, "[big] differs in its bytes"},
      {"link target",
       [](const std::string& t, const std::string&) {
         unlink((t + "/abs").c_str());
         EXPECT_EQ(0, symlink("/nonexistent/other", (t + "/abs").c_str()));
       },
       false,
       "[abs] differs in its link target ([/nonexistent/abs], "
       "[/nonexistent/other] in the new archive)"},
      {"kind",
       [](const std::string& t, const std::string&) {
         unlink((t + "/sub/near").c_str());
         WriteFile(t + "/sub/near", "");
       },
       false,
       "[sub/near] is a link in the work folder but a file in the new "
       "archive"},
      {"mode",
       [](const std::string& t, const std::string&) {
         chmod((t + "/big").c_str(), 0644);
       },
       false,
       "[big] differs in its permission bits (0640, 0644 in the new archive)"},
      {"folder time",
       [](const std::string& t, const std::string&) {
         Touch(t + "/sub", kStamp + 1, 0);
       },
       true,
       "[sub] differs in its modification time (2001-02-03 04:05:07, "
       "2001-02-03 04:05:06 in the work folder)"},
      {"time within 100 ns",
       [](const std::string& t, const std::string&) {
         Touch(t + "/big", kStamp, 50);
       },
       false, ""},
      {"a pipe, packed as a file",
       [](const std::string& t, const std::string& w) {
         WriteFile(t + "/pipe", "");
         mkfifo((w + "/pipe").c_str(), 0644);
       },
       false, "[pipe] is a pipe, device or socket, which cannot be verified"},
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    MakeTree(dir / "archive");
    MakeTree(dir / "work");
    if (times(c.what)) {
      Stamp(dir / "archive");
      Stamp(dir / "work");
    }
    c.spoil(dir / "archive", dir / "work");
    if (!times(c.what)) {
      Stamp(dir / "archive");
      Stamp(dir / "work");
    }
    MemberCheckResult result =
        CheckTrees(dir / "archive", dir / "work", c.archive_expected);
    std::vector<std::string> expected;
    if (!c.loss.empty()) expected.push_back(c.loss);
    EXPECT_EQ(expected, result.losses) << c.what;
  }
}

// Members as an archive gives them: pieces with holes between them, hard
// links, names twice, names in the reader's own form.
class ScriptedReader : public MemberReader {
 public:
  struct Item {
    ArchiveMember member;
    std::vector<std::pair<std::int64_t, std::string>> pieces;
  };
  explicit ScriptedReader(std::vector<Item> items, bool clamps = false)
      : items_(std::move(items)), clamps_(clamps) {}

  ReadOutcome Next(ArchiveMember* member) override {
    if (next_ == items_.size()) {
      if (!error_.empty()) return ReadOutcome::kError;
      return ReadOutcome::kEnd;
    }
    *member = items_[next_].member;
    piece_ = 0;
    ++next_;
    return ReadOutcome::kItem;
  }
  ReadOutcome Read(DataPiece* piece) override {
    const Item& item = items_[next_ - 1];
    if (piece_ == item.pieces.size()) return ReadOutcome::kEnd;
    piece->offset = item.pieces[piece_].first;
    piece->data = item.pieces[piece_].second.data();
    piece->size = item.pieces[piece_].second.size();
    ++piece_;
    return ReadOutcome::kItem;
  }
  std::string error() const override { return error_; }
  // Composes "e" and a combining acute accent, as libarchive would.
  bool NameForm(const std::string& name, std::string* form) override {
    std::string::size_type at = name.find("e\xcc\x81");
    if (at == std::string::npos) return false;
    *form = name;
    form->replace(at, 3, "\xc3\xa9");
    return true;
  }
  bool ClampsEarlyTimes() const override { return clamps_; }
  void FailAtEnd(const std::string& error) { error_ = error; }

 private:
  std::vector<Item> items_;
  bool clamps_;
  std::size_t next_ = 0;
  std::size_t piece_ = 0;
  std::string error_;
};

ScriptedReader::Item File(const std::string& path, const std::string& data,
                          std::uint32_t mode = 0644) {
  ScriptedReader::Item item;
  item.member.path = path;
  item.member.has_size = true;
  item.member.size = static_cast<std::int64_t>(data.size());
  item.member.has_mode = true;
  item.member.mode = mode;
  item.member.has_data = true;
  if (!data.empty()) item.pieces.push_back({0, data});
  return item;
}

ScriptedReader::Item HardLink(const std::string& path,
                              const std::string& first) {
  ScriptedReader::Item item = File(path, "");
  item.member.hard_link = first;
  item.member.has_size = false;
  return item;
}

// A member of a file with two names, as cpio's newc format gives them: the
// bytes, if any, come with the last name.
ScriptedReader::Item Linked(ScriptedReader::Item item,
                            const std::string& data = "") {
  item.member.links = 2;
  if (!data.empty()) {
    item.member.has_size = true;
    item.member.size = static_cast<std::int64_t>(data.size());
    item.pieces = {{0, data}};
  }
  return item;
}

struct ScriptedCase {
  const char* what;
  std::function<void(const std::string&)> make_tree;
  std::vector<ScriptedReader::Item> items;
  std::vector<std::string> losses;
  std::set<std::string> not_kept;
};

TEST(MemberCheckTest, ReadsMembersAsArchivesGiveThem) {
  constexpr std::int64_t kSparse = 4 << 20;
  ScriptedReader::Item sparse = File("sparse", "");
  sparse.member.size = kSparse;
  sparse.pieces = {{1 << 20, "middle"}, {kSparse - 3, "end"}};
  auto sparse_tree = [](const std::string& t, const std::string& stray) {
    int fd = open((t + "/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(0, ftruncate(fd, kSparse));
    EXPECT_EQ(6, pwrite(fd, "middle", 6, 1 << 20));
    EXPECT_EQ(3, pwrite(fd, "end", 3, kSparse - 3));
    if (!stray.empty()) {
      EXPECT_EQ(static_cast<ssize_t>(stray.size()),
                pwrite(fd, stray.data(), stray.size(), 3 << 20));
    }
    close(fd);
  };
  const std::string nfd = "cafe\xcc\x81";
  const std::string nfc = "caf\xc3\xa9";
  ScriptedReader::Item folder;
  folder.member.path = nfc + "/";
  folder.member.kind = ArchiveMember::Kind::kFolder;
  const ScriptedCase cases[] = {
      {"names cleaned as extractors clean them",
       [](const std::string& t) { WriteFile(t + "/a", "x"); },
       {File("./a", "x")},
       {},
       {}},
      {"two members of one name",
       [](const std::string& t) { WriteFile(t + "/a", "2"); },
       {File("a", "1"), File("a", "2")},
       {"[a] differs in its bytes",
        "[a] has two members of one name and one was lost"},
       {}},
      {"a climbing name",
       [](const std::string&) {},
       {File("../x", "x")},
       {"[../x] climbs out of the folder it is unpacked into"},
       {}},
      {"a hard link kept",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         EXPECT_EQ(0, link((t + "/a").c_str(), (t + "/b").c_str()));
       },
       {File("a", "same"), HardLink("b", "a")},
       {},
       {}},
      {"a hard link made a copy",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         WriteFile(t + "/b", "same");
       },
       {File("a", "same"), HardLink("b", "a")},
       {},
       {"hard links"}},
      {"a hard link made a wrong copy",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         WriteFile(t + "/b", "else");
       },
       {File("a", "same"), HardLink("b", "a")},
       {"[b] differs in its bytes"},
       {"hard links"}},
      {"bytes with the last name of a file",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         EXPECT_EQ(0, link((t + "/a").c_str(), (t + "/b").c_str()));
       },
       {Linked(File("a", "")), Linked(HardLink("b", "a"), "same")},
       {},
       {}},
      {"bytes that no later name brings",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         EXPECT_EQ(0, link((t + "/a").c_str(), (t + "/b").c_str()));
       },
       {Linked(File("a", "")), Linked(HardLink("b", "a"))},
       {"[a] differs in its size (0 bytes, 4 in the work folder)"},
       {}},
      {"two names of one file packed as two files",
       [](const std::string& t) {
         WriteFile(t + "/a", "same");
         EXPECT_EQ(0, link((t + "/a").c_str(), (t + "/b").c_str()));
       },
       {File("a", "same"), File("b", "same")},
       {},
       {"hard links"}},
      {"holes read as zeros",
       [&](const std::string& t) { sparse_tree(t, ""); },
       {sparse},
       {},
       {}},
      {"a byte where a hole should be",
       [&](const std::string& t) { sparse_tree(t, "!"); },
       {sparse},
       {"[sparse] differs in its bytes"},
       {}},
      {"names in the reader's form",
       [&](const std::string& t) {
         mkdir((t + "/" + nfd).c_str(), 0755);
         WriteFile(t + "/" + nfd + "/" + nfd + ".txt", "x");
       },
       {folder, File(nfc + "/" + nfc + ".txt", "x")},
       {},
       {}},
  };
  for (const ScriptedCase& c : cases) {
    ScopedTempDir dir;
    c.make_tree(dir.path());
    HeldFolder top;
    ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
    ScriptedReader reader(c.items);
    MemberCheckSettings settings;
    settings.archive_is_expected = true;
    MemberCheckResult result = CheckMembers(&reader, top, settings);
    EXPECT_EQ(c.losses, result.losses) << c.what;
    EXPECT_EQ(c.not_kept, result.not_kept) << c.what;
  }
}

TEST(MemberCheckTest, GivesBackSetIdBitsTheExtractorDropped) {
  ScopedTempDir dir;
  WriteFile(dir / "tool", "#!/bin/sh\n");
  chmod((dir / "tool").c_str(), 0755);
  mkdir((dir / "shared").c_str(), 0775);
  chmod((dir / "shared").c_str(), 0775);
  ScriptedReader::Item folder;
  folder.member.path = "shared";
  folder.member.kind = ArchiveMember::Kind::kFolder;
  folder.member.has_mode = true;
  folder.member.mode = 02775;
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  MemberCheckSettings settings;
  settings.archive_is_expected = true;

  // Without leave to give them back, the bits are a loss.
  ScriptedReader strict({File("tool", "#!/bin/sh\n", 04755), folder});
  EXPECT_EQ((std::vector<std::string>{
                "[tool] differs in its permission bits (4755, 0755 in the "
                "work folder)",
                "[shared] differs in its permission bits (2775, 0775 in the "
                "work folder)"}),
            CheckMembers(&strict, top, settings).losses);

  settings.mend = true;
  ScriptedReader reader({File("tool", "#!/bin/sh\n", 04755), folder});
  MemberCheckResult result = CheckMembers(&reader, top, settings);
  EXPECT_EQ(std::vector<std::string>{}, result.losses);
  EXPECT_EQ(2, result.set_id_restored);
  struct stat st;
  ASSERT_EQ(0, stat((dir / "tool").c_str(), &st));
  EXPECT_EQ(04755u, st.st_mode & 07777);
  ASSERT_EQ(0, stat((dir / "shared").c_str(), &st));
  EXPECT_EQ(02775u, st.st_mode & 07777);
}

TEST(MemberCheckTest, TimesAsTheReaderCanGiveThem) {
  ScopedTempDir dir;
  WriteFile(dir / "old", "x");
  Touch(dir / "old", -1000, 0);
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  ScriptedReader::Item old = File("old", "x");
  old.member.has_time = true;  // 1970-01-01 00:00:00, as the reader gives it
  MemberCheckSettings settings;
  settings.archive_name = "the new archive";
  // A reader that shows earlier times as 1970 cannot tell this one.
  ScriptedReader clamping({old}, true);
  EXPECT_EQ(std::vector<std::string>{},
            CheckMembers(&clamping, top, settings).losses);
  ScriptedReader exact({old}, false);
  EXPECT_EQ(std::vector<std::string>{"[old] differs in its modification time "
                                     "(1969-12-31 23:43:20, 1970-01-01 "
                                     "00:00:00 in the new archive)"},
            CheckMembers(&exact, top, settings).losses);
}

TEST(MemberCheckTest, ACutArchiveAndWhatItRecords) {
  ScopedTempDir dir;
  WriteFile(dir / "a", "x");
  HeldFolder top;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &top));
  ScriptedReader::Item a = File("a", "x");
  a.member.owner = "1000:1000:ann:staff";
  a.member.extended_attributes = true;
  ScriptedReader reader({a});
  reader.FailAtEnd("Truncated input file");
  MemberCheckSettings settings;
  settings.archive_name = "the old archive";
  MemberCheckResult result = CheckMembers(&reader, top, settings);
  EXPECT_EQ(std::vector<std::string>{"the old archive cannot be read whole: "
                                     "Truncated input file"},
            result.losses);
  EXPECT_EQ(std::set<std::string>{"1000:1000:ann:staff"}, result.owners);
  EXPECT_EQ(std::set<std::string>{"extended attributes"}, result.extras);
}

}  // namespace
}  // namespace zavo
