#include "run/report_summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "run/report.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

// Lines as the report writer itself writes them. `second` is the second of
// the minute the line was written in.
std::string Archive(const std::string& old_path, ArchiveStatus status,
                    const std::string& detail, int second,
                    const std::string& parent = "") {
  ReportRecord r;
  r.status = status;
  r.detail = detail;
  r.old_path = old_path;
  r.old_size = 100;
  if (status == ArchiveStatus::kConverted || status == ArchiveStatus::kKept) {
    r.new_size = 60;
  }
  std::string time = "2026-01-01T00:00:" + std::string(second < 10 ? "0" : "") +
                     std::to_string(second) + ".000Z";
  return FormatRecord(r, time, parent);
}

std::string Totals(int converted, int failed, int left, int exit_code,
                   const std::string& parent = "", int kept = 0) {
  ReportTotals t;
  t.converted = converted;
  t.kept = kept;
  t.failed = failed;
  t.left = left;
  return FormatTotals(t, exit_code, 1.0, "2026-01-01T00:01:00.000Z", parent);
}

constexpr ArchiveStatus kConverted = ArchiveStatus::kConverted;
constexpr ArchiveStatus kFailed = ArchiveStatus::kFailed;
constexpr ArchiveStatus kLeft = ArchiveStatus::kLeft;
constexpr ArchiveStatus kKept = ArchiveStatus::kKept;

struct Case {
  const char* name;
  std::vector<std::string> files;  // the contents of report files
  int exit_code;
  std::vector<std::string> lines;  // lines the view must hold
  std::vector<std::string> problems = {};
};

TEST(ReportSummaryTest, ViewsOfReportSets) {
  const std::string a = "/arc/a.zip";
  const std::string b = "/arc/b.zip";
  const std::vector<Case> cases = {
      {"the latest line wins by its time, not by the order files are read in",
       {Archive(a, kConverted, "", 30) + Totals(1, 0, 0, 0),
        Archive(a, kFailed, "packing", 5) + Totals(0, 1, 0, 1)},
       1,
       {"archives: 1 converted, 0 failed, 0 left; 100 bytes before, 60 after"}},
      {"an archive converted twice is counted once and said",
       {Archive(a, kConverted, "", 1) + Totals(1, 0, 0, 0),
        Archive(a, kConverted, "", 2) + Totals(1, 0, 0, 0)},
       0,
       {"archives: 1 converted, 0 failed, 0 left; 100 bytes before, 60 after",
        "seen again: 1 line names an archive that another line names too; 1 "
        "archive converted more than once"}},
      {"a run killed before its totals, beside one that finished in the same "
       "file",
       {Archive(a, kConverted, "", 1) + Archive(b, kConverted, "", 2) +
        Totals(1, 0, 0, 0)},
       1,
       {"cut short: [report 1] holds 1 archive line that no totals line "
        "accounts for",
        "not all done: lines without their totals"}},
      {"totals that count lines the file does not hold",
       {Archive(a, kConverted, "", 1) + Totals(3, 0, 0, 1)},
       1,
       {"lines missing: the totals lines of [report 1] count 2 archives more "
        "than it holds lines for"}},
      {"failed and left archives are listed with their steps and reasons",
       {Archive(a, kFailed, "extraction", 1) + Archive(b, kLeft, "exists", 2) +
        Totals(0, 1, 1, 1)},
       1,
       {"archives: 0 converted, 1 failed, 1 left; 0 bytes before, 0 after",
        "failed (extraction) [/arc/a.zip]", "left (exists) [/arc/b.zip]",
        "not all done: 1 failed, 1 left, 1 run ended with an exit code other "
        "than 0"}},
      {"nested archives of two attempts, in work folders of different names, "
       "count once; a failure deep inside names its whole chain",
       {Archive("/arc/1111.tmp/in.zip", kLeft, "interrupted", 1, a) +
            Totals(0, 0, 1, 143, a) + Archive(a, kLeft, "interrupted", 2) +
            Totals(0, 0, 1, 143),
        Archive("/arc/2222.tmp/3333.tmp/d/deep.zip", kFailed, "testing", 3,
                "/arc/2222.tmp/in.zip") +
            Totals(0, 1, 0, 1, "/arc/2222.tmp/in.zip") +
            Archive("/arc/2222.tmp/in.zip", kConverted, "", 4, a) +
            Totals(1, 0, 0, 1, a) + Archive(a, kConverted, "", 5) +
            Totals(1, 0, 0, 1)},
       1,
       {"archives: 1 converted, 0 failed, 0 left; 100 bytes before, 60 after",
        "nested archives: 1 converted, 1 failed, 0 left; 100 bytes before, 60 "
        "after",
        "failed (testing) [d/deep.zip] in [in.zip] in [/arc/a.zip]"}},
      {"names that are not UTF-8 are told apart by their exact bytes",
       {Archive("/arc/\xff.zip", kConverted, "", 1) +
        Archive("/arc/\xfe.zip", kConverted, "", 2) + Totals(2, 0, 0, 0)},
       0,
       {"archives: 2 converted, 0 failed, 0 left; 200 bytes before, 120 "
        "after"}},
      {"archives kept beside their originals are done, and named",
       {Archive(a, kKept, "", 1) + Archive(b, kConverted, "", 2) +
        Totals(1, 0, 0, 0, "", 1)},
       0,
       {"archives: 1 converted, 1 kept, 0 failed, 0 left; 200 bytes before, "
        "120 after",
        "all done: every archive converted, every run finished with exit "
        "code 0"}},
      {"no run at all", {""}, 1, {"not all done: no run finished"}},
      {"a cut last line and lines of other programs are named, never read",
       {"not json\n{\"type\":\"archive\"}\n" + std::string(3 << 20, '{') +
        "\n" + Archive(a, kConverted, "", 1) + Totals(1, 0, 0, 0) +
        Archive(b, kConverted, "", 2).substr(0, 30)},
       2,
       {"reports: 1 file, 5 lines",
        "archives: 1 converted, 0 failed, 0 left; 100 bytes before, 60 after",
        "not all done: lines that could not be read"},
       {"line 1 of [report 1] is no report line",
        "line 2 of [report 1] is no report line",
        "line 3 of [report 1] is no report line",
        "line 6 of [report 1] is cut: the file ends inside it"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportSummary summary;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      summary.ReadText("report " + std::to_string(i + 1), c.files[i]);
    }
    std::vector<std::string> lines = summary.Lines();
    for (const std::string& wanted : c.lines) {
      EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), wanted))
          << wanted;
    }
    EXPECT_EQ(c.problems, summary.problems());
    EXPECT_EQ(c.exit_code, summary.ExitCode());
  }
}

TEST(ReportSummaryTest, FileReadInPiecesReadsAsItsText) {
  ScopedTempDir dir;
  // Lines cross the boundaries of the pieces read.
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    text += Archive("/arc/" + std::string(i % 50, 'x') + std::to_string(i),
                    i % 7 == 0 ? kFailed : kConverted, "testing", i % 60);
  }
  text += Totals(2000 - 286, 286, 0, 1) + "{\"type\":";
  std::string path = dir.path() + "/r.jsonl";
  std::ofstream(path, std::ios::binary) << text;
  ReportSummary from_file, from_text;
  from_file.ReadFile(path);
  from_text.ReadText(path, text);
  EXPECT_EQ(from_text.Lines(), from_file.Lines());
  EXPECT_EQ(from_text.problems(), from_file.problems());
  EXPECT_EQ(1u, from_file.problems().size());

  ReportSummary missing;
  missing.ReadFile(dir.path() + "/none");
  EXPECT_EQ(std::vector<std::string>{"can't read report [" + dir.path() +
                                     "/none]: No such file or directory"},
            missing.problems());
  EXPECT_EQ(2, missing.ExitCode());
}

TEST(ReportSummaryTest, CommandLine) {
  ScopedTempDir dir;
  std::string report = dir.path() + "/r.jsonl";
  std::ofstream(report, std::ios::binary)
      << Archive("/arc/a.zip", kConverted, "", 1) + Totals(1, 0, 0, 0);
  struct {
    std::vector<std::string> args;
    int code;
    const char* out_starts;
    const char* err_starts;
  } cases[] = {
      {{"zavo", report, "--report-summary", report}, 0, "reports: 2 files", ""},
      {{"zavo", "--report-summary"}, 2, "", "usage: zavo --report-summary"},
      // Where switches start with "/", "-x" names a file.
      {{"zavo", "--report-summary", "-x", report},
       2,
       "",
       kDashSwitches ? "unknown switch [-x]" : "can't read report [-x]"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    EXPECT_TRUE(AsksForReportSummary(c.args));
    EXPECT_EQ(c.code, RunReportSummary(c.args, out, err)) << c.args[1];
    EXPECT_EQ(0u, out.str().rfind(c.out_starts, 0)) << out.str();
    EXPECT_EQ(0u, err.str().rfind(c.err_starts, 0)) << err.str();
  }
  EXPECT_FALSE(AsksForReportSummary({"--report-summary", "/arc/*.*"}));
}

}  // namespace
}  // namespace zavo
