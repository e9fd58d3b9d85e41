#include "run/report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

using Json = nlohmann::json;

std::vector<Json> ParseLines(const std::string& text) {
  std::vector<Json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    lines.push_back(Json::parse(line, nullptr, false));
    EXPECT_FALSE(lines.back().is_discarded()) << "line [" << line << "]";
  }
  return lines;
}

TEST(ReportFormatTest, FailedRecordHasEveryFieldOnOneLine) {
  ReportRecord r;
  r.status = ArchiveStatus::kFailed;
  r.detail = "packing";
  r.old_path = "/arc/two\nlines.zip";
  r.definition = "zip";
  r.message = "packing mistake on [/arc/two\nlines.zip]. next archive!";
  r.old_size = 1234;
  r.old_sha256 = std::string(64, 'a');
  r.files = 3;
  r.folders = 1;
  r.links = 0;
  r.seconds = 1.23456;
  std::string line = FormatRecord(r, "2026-01-02T03:04:05.006Z", "");
  ASSERT_EQ(line.size() - 1, line.find('\n'));
  // Every field, in this order, and no "parent" outside a nested run.
  EXPECT_EQ(nlohmann::ordered_json::parse(
                R"({"type":"archive","time":"2026-01-02T03:04:05.006Z",
      "old":"/arc/two\nlines.zip","definition":"zip","new":null,
      "status":"failed","step":"packing","reason":null,
      "message":"packing mistake on [/arc/two\nlines.zip]. next archive!",
      "old_size":1234,"new_size":null,"old_sha256":")" +
                r.old_sha256 + R"(","new_sha256":null,
      "unpacked":{"files":3,"folders":1,"links":0},"tested":false,
      "verified":false,"checks":null,"not_kept":null,
      "changes":{"deleted":null,"added":null,"nested":null,"scan":null},
      "seconds":1.235,"nested":null})"),
            nlohmann::ordered_json::parse(line));
}

TEST(ReportFormatTest, LeftAndNestedRecords) {
  ReportRecord r;
  r.status = ArchiveStatus::kLeft;
  r.detail = "exists";
  r.nested_run = true;
  r.nested_count = 2;
  r.nested_failed = 1;
  r.extraction_check = "not checked";
  r.packing_check = "libarchive";
  r.not_kept = {"hard links", "owners"};
  r.deleted = 2;
  r.added = 0;
  Json o = Json::parse(FormatRecord(r, "t", "/arc/outer.zip"));
  EXPECT_EQ((Json{{"extraction", "not checked"}, {"packing", "libarchive"}}),
            o["checks"]);
  EXPECT_EQ((Json{"hard links", "owners"}), o["not_kept"]);
  EXPECT_EQ((Json{{"deleted", 2},
                  {"added", 0},
                  {"nested", nullptr},
                  {"scan", nullptr}}),
            o["changes"]);
  EXPECT_EQ("left", o["status"]);
  EXPECT_EQ("exists", o["reason"]);
  EXPECT_TRUE(o["step"].is_null());
  EXPECT_TRUE(o["unpacked"].is_null());
  EXPECT_EQ((Json{{"count", 2}, {"failed", 1}}), o["nested"]);
  EXPECT_EQ("/arc/outer.zip", o["parent"]);

  r.nested_count = -1;  // the nested run left no totals
  o = Json::parse(FormatRecord(r, "t", ""));
  EXPECT_TRUE(o["nested"]["count"].is_null());
}

TEST(ReportFormatTest, BytesThatAreNotUtf8KeepTheirExactValueInBase64) {
  struct Case {
    std::string bytes;
    std::string shown;
    const char* b64;  // null: the text is valid UTF-8, no "_b64" field
  } cases[] = {
      {"plain.zip", "plain.zip", nullptr},
      {"\xD0\xB0\xD1\x80\xD1\x85.zip", "\xD0\xB0\xD1\x80\xD1\x85.zip", nullptr},
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", nullptr},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       "Yf9i"},
      // An overlong "/", a surrogate, a sequence cut short, past U+10FFFF.
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "wK8="},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "7aCA"},
      {"x\xE2\x82", "x\xEF\xBF\xBD\xEF\xBF\xBD", "eOKC"},
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "9JCAgA=="},
      // cp866 "арх": what a Windows console name looks like.
      {"\xA0\xE0\xE5", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "oODl"},
  };
  for (const Case& c : cases) {
    ReportRecord r;
    r.old_path = c.bytes;
    r.new_path = c.bytes;
    Json o = Json::parse(FormatRecord(r, "t", c.bytes));
    for (std::string key : {"old", "new", "parent"}) {
      EXPECT_EQ(c.shown, o[key]) << key << " of " << c.b64;
      if (c.b64 == nullptr) {
        EXPECT_FALSE(o.contains(key + "_b64")) << c.bytes;
      } else {
        EXPECT_EQ(c.b64, o[key + "_b64"]) << key;
      }
    }
  }
}

TEST(ReportFormatTest, TotalsAndTimestamp) {
  ReportTotals t;
  t.bytes_before = 5000000000;  // past 32 bits
  Json o = Json::parse(FormatTotals(t, 1, 2.5, "t", ""));
  EXPECT_EQ("totals", o["type"]);
  EXPECT_EQ(5000000000, o["bytes_before"]);
  EXPECT_EQ(1, o["exit_code"]);
  o = Json::parse(FormatTotals(t, 0, 0, "t", "/p.zip"));
  EXPECT_EQ("nested_totals", o["type"]);
  EXPECT_EQ("/p.zip", o["parent"]);
  EXPECT_TRUE(std::regex_match(
      UtcTimestamp(),
      std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-6]"
                 "[0-9]\\.[0-9]{3}Z")))
      << UtcTimestamp();
}

TEST(ReportWriterTest, KeptArchivesAndNestedArchivesInTheTotals) {
  ScopedTempDir dir;
  const std::string path = dir / "report.jsonl";
  for (bool nested : {false, true}) {
    ReportWriter writer;
    ASSERT_TRUE(writer.Open(path, ""));
    ReportRecord r;
    r.status = ArchiveStatus::kKept;
    r.old_size = 10;
    r.new_size = 5;
    ASSERT_TRUE(writer.Write(r));
    r.status = ArchiveStatus::kConverted;
    ASSERT_TRUE(writer.Write(r));
    NestedCounts counts;
    counts.converted = 3;
    counts.failed = 1;
    counts.left = 2;
    ASSERT_TRUE(writer.Finish(1, 0.5, nested ? &counts : nullptr));
    std::vector<Json> lines = ParseLines(ReadFile(path));
    const Json& totals = lines.back();
    EXPECT_EQ("kept", lines[lines.size() - 3]["status"]);
    EXPECT_EQ(1, totals["kept"]);
    EXPECT_EQ(1, totals["converted"]);
    EXPECT_EQ(20, totals["bytes_before"]);
    if (nested) {
      EXPECT_EQ(Json::parse(R"({"converted":3,"failed":1,"left":2})"),
                totals["nested"]);
    } else {
      EXPECT_TRUE(totals["nested"].is_null());
    }
  }
}

TEST(ReportWriterTest, AppendsRecordsAndTotalsThatMatchThem) {
  ScopedTempDir dir;
  std::string path = dir / "report.jsonl";
  WriteFile(path, "{\"earlier\":1}\n");
  ReportWriter writer;
  ASSERT_TRUE(writer.Open(path, ""));
  ReportRecord r;
  r.status = ArchiveStatus::kConverted;
  r.old_size = 100;
  r.new_size = 60;
  ASSERT_TRUE(writer.Write(r));
  r.status = ArchiveStatus::kFailed;  // sizes of failures are not totals
  ASSERT_TRUE(writer.Write(r));
  r.status = ArchiveStatus::kLeft;
  ASSERT_TRUE(writer.Write(r));
  ASSERT_TRUE(writer.Finish(1, 0.5));
  std::vector<Json> lines = ParseLines(ReadFile(path));
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ(1, lines[0]["earlier"]);
  EXPECT_EQ("totals", lines[4]["type"]);
  EXPECT_EQ(1, lines[4]["converted"]);
  EXPECT_EQ(1, lines[4]["failed"]);
  EXPECT_EQ(1, lines[4]["left"]);
  EXPECT_EQ(100, lines[4]["bytes_before"]);
  EXPECT_EQ(60, lines[4]["bytes_after"]);
  EXPECT_EQ(1, lines[4]["exit_code"]);

  ReportWriter bad;
  Status failed = bad.Open(dir / "no/such/folder.jsonl", "");
  EXPECT_FALSE(failed);
  EXPECT_NE(std::string::npos, failed.message().find("no/such"))
      << failed.message();
}

TEST(ReportWriterTest, WritersSharingTheFileNeverTearLines) {
  // Separate writers are separate opens of the file, as nested runs and
  // parallel jobs have; lines reach past a page to catch a split write.
  ScopedTempDir dir;
  std::string path = dir / "report.jsonl";
  constexpr int kWriters = 4;
  constexpr int kRecords = 200;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&path, w] {
      ReportWriter writer;
      if (!writer.Open(path, "")) return;
      for (int i = 0; i < kRecords; ++i) {
        ReportRecord r;
        r.old_path = std::to_string(w) + "/" + std::string(i * 40, 'x');
        writer.Write(r);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<Json> lines = ParseLines(ReadFile(path));
  ASSERT_EQ(static_cast<std::size_t>(kWriters * kRecords), lines.size());
  std::vector<int> next(kWriters, 0);
  for (const Json& line : lines) {
    std::string old = line["old"];
    int w = old[0] - '0';
    // Each writer's own lines stay in its order, each whole.
    EXPECT_EQ(std::to_string(w) + "/" + std::string(next[w]++ * 40, 'x'), old);
  }
}

TEST(ReportWriterTest, FindsTheTotalsOfItsOwnNestedRun) {
  ScopedTempDir dir;
  std::string path = dir / "report.jsonl";
  ReportWriter outer;
  ASSERT_TRUE(outer.Open(path, ""));
  ReportRecord r;
  ASSERT_TRUE(outer.Write(r));
  std::int64_t mark = outer.Mark();
  ASSERT_GT(mark, 0);
  const std::string parent = "/arc/outer\xFF.zip";
  {
    // Another run's nested totals for a different archive, a foreign line
    // and a line cut short come in between.
    ReportWriter other;
    ASSERT_TRUE(other.Open(path, "/arc/other.zip"));
    other.Write(r);
    other.Finish(1, 0);
    AppendFile raw;
    ASSERT_TRUE(raw.Open(path));
    raw.Append("{\"type\":5,\"parent\":[]}\n{\"type\":\"nested_tot");
  }
  ReportWriter nested;
  ASSERT_TRUE(nested.Open(path, parent));
  int count = -7, failed = -7;
  EXPECT_FALSE(outer.FindNestedTotals(mark, parent, &count, &failed));
  EXPECT_EQ(-7, count);
  r.status = ArchiveStatus::kConverted;
  nested.Write(r);
  r.status = ArchiveStatus::kFailed;
  nested.Write(r);
  nested.Write(r);
  nested.Finish(1, 0);
  ASSERT_TRUE(outer.FindNestedTotals(mark, parent, &count, &failed));
  EXPECT_EQ(3, count);
  EXPECT_EQ(2, failed);
  EXPECT_FALSE(
      outer.FindNestedTotals(mark, "/arc/outer?.zip", &count, &failed));
}

}  // namespace
}  // namespace zavo
