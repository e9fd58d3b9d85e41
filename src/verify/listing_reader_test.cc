#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_dir.h"
#include "verify/member_reader.h"

namespace zavo {
namespace {

// What `lsar -j` prints, and the members read from it.
TEST(ListingReaderTest, ReadsTheMembersOfAnLsarListing) {
  const std::string listing = R"({
    "lsarFormatVersion": 2,
    "lsarContents": [
      {"XADFileName": "a.txt", "XADFileSize": 6, "XADIndex": 0,
       "XADLastModificationDate": "2026-12-09 09:08:43 +0000"},
      {"XADFileName": "sub", "XADIsDirectory": true, "XADFileSize": 0},
      {"XADFileName": "sub/link", "XADIsLink": 1,
       "XADLinkDestination": "../a.txt"},
      {"XADFileName": "a.txt", "XADIsResourceFork": true, "XADFileSize": 9},
      {"XADFileName": "gr\u00fc\u00dfe", "XADFileSize": 0,
       "XADSolidObject": [{"deep": {"XADFileName": "not a member"}}]}
    ],
    "lsarFormatName": "ARJ",
    "lsarProperties": {"XADArchiveName": "t.arj"}
  })";
  ScopedTempDir dir;
  HeldFolder folder;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &folder));
  // A listing larger than the pieces it is read in.
  WriteFile(dir / "listing.json", listing.substr(0, listing.size() - 1) +
                                      ", \"padding\": \"" +
                                      std::string(100000, 'x') + "\"}");
  HeldFile file;
  ASSERT_TRUE(folder.OpenFile("listing.json", &file));
  std::unique_ptr<MemberReader> reader;
  std::string error;
  ASSERT_TRUE(ListingReader(&file, &reader, &error)) << error;
  std::vector<std::string> seen;
  ArchiveMember member;
  while (reader->Next(&member) == ReadOutcome::kItem) {
    std::string kind = member.kind == ArchiveMember::Kind::kFolder ? "folder"
                       : member.kind == ArchiveMember::Kind::kLink ? "link"
                                                                   : "file";
    seen.push_back(
        member.path + " " + kind + " " +
        (member.has_size ? std::to_string(member.size) : "-") + " " +
        member.link_target +
        (member.has_data || member.has_mode || member.has_time ? " more" : ""));
  }
  EXPECT_EQ((std::vector<std::string>{"a.txt file 6 ", "sub folder - ",
                                      "sub/link link - ../a.txt",
                                      "gr\xc3\xbc\xc3\x9f"
                                      "e file 0 "}),
            seen);

  for (const char* wrong : {"", "{", "[]", R"({"lsarFormatName": "ARJ"})"}) {
    WriteFile(dir / "wrong.json", wrong);
    ASSERT_TRUE(folder.OpenFile("wrong.json", &file));
    EXPECT_FALSE(ListingReader(&file, &reader, &error)) << wrong;
  }
}

}  // namespace
}  // namespace zavo
