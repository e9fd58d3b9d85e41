// One view of many runs' reports (--report-summary): the tasks of a cluster
// job each write a report, or all append to one, and a person wants to see
// at a glance whether the whole job is done.
//
// Each archive counts once. A task that is cancelled and submitted again,
// or a later run over the same tree, names some archives a second time: the
// latest of an archive's lines (by its "time" field; of equal times, the one
// read later) gives its state, and the earlier ones count only as "seen
// again". Top-level archives are told apart by their "old" path. A nested
// archive lives in a work folder whose name is drawn anew for every
// attempt, so it is told apart by the archive it was found in and its path
// below that work folder.
//
// A run is a "totals" line. A run killed before it could write one (a
// SIGKILL, a node gone) leaves archive lines that no totals line of its
// report file accounts for: the file is named as holding a run cut short.
// A run that ends before its first archive, or never starts, writes no
// archive line, and no report can show what it would have done: compare
// the number of runs with the number of tasks.

#ifndef ZAVO_RUN_REPORT_SUMMARY_H_
#define ZAVO_RUN_REPORT_SUMMARY_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace zavo {

class ReportSummary {
 public:
  // Reads the report file at `path`, which may be a pipe. A file that
  // cannot be opened or read to its end, a last line without its line end
  // (cut, or still being written) and a line that is not a report line are
  // problems(); every whole report line still counts.
  void ReadFile(const std::string& path);

  // Reads `text` as the contents of a report file named `name`.
  void ReadText(const std::string& name, const std::string& text);

  // What could not be read, one line each, naming the file and the line.
  const std::vector<std::string>& problems() const { return problems_; }

  // The view of everything read so far: one line each, without line ends.
  // The last line says "all done: ..." exactly when ExitCode() would be 0
  // without problems, else "not all done: " and why.
  std::vector<std::string> Lines() const;

  // 2 when there were problems; else 0 when every run finished with exit
  // code 0, no run was cut short, at least one run was read and every
  // archive's latest line says "converted" (or "kept"); else 1.
  int ExitCode() const;

 private:
  // What one archive line says, as the summary keeps it.
  struct ArchiveLine {
    std::string old_path;  // exact bytes ("old_b64" when given)
    std::string parent;    // exact bytes; empty for a top-level archive
    std::string status;    // "converted", "kept", "failed", "left"
    std::string detail;    // the step of a failure, the reason for a left one
    std::int64_t old_size = -1;
    std::int64_t new_size = -1;
    std::string time;
    std::uint64_t order = 0;  // the place among all lines read
  };
  // Where an archive ended up, and how often it was converted.
  struct Latest {
    ArchiveLine line;
    int converted = 0;
  };
  struct FileCount {
    std::string name;
    std::int64_t archive_lines = 0;
    std::int64_t accounted = 0;  // archives that its totals lines count
  };
  struct Outcome;
  struct Splitter;

  void Feed(Splitter* splitter, const char* data, std::size_t size);
  void End(Splitter* splitter);
  void NotReportLine(const FileCount& file, std::int64_t number);
  void ReadLine(FileCount* file, std::int64_t number, const char* begin,
                const char* end);
  static void Keep(const std::string& key, const ArchiveLine& line,
                   std::map<std::string, Latest>* kept,
                   std::int64_t* seen_again);
  Outcome Tally() const;
  // Why the set is not all done; empty when it is.
  std::vector<std::string> Reasons(const Outcome& outcome) const;

  std::vector<std::string> problems_;
  std::vector<FileCount> files_;
  std::int64_t lines_ = 0;
  std::uint64_t order_ = 0;
  std::map<std::string, Latest> top_;  // by old path
  std::int64_t top_seen_again_ = 0;
  // Nested lines wait for the end: their keys follow chains of parents that
  // later lines complete.
  std::vector<ArchiveLine> nested_;
  std::map<int, std::int64_t> exit_codes_;  // of the totals lines
  std::int64_t runs_ = 0;
};

// Whether the command line asks for a summary of reports: --report-summary
// anywhere after the program's path.
bool AsksForReportSummary(const std::vector<std::string>& args);

// `zavo --report-summary FILE...` (args[0] is the program): every other
// parameter names a report file. Writes the view to `out`, and problems
// and mistakes of the command line to `err`. Returns the exit code: that of
// ReportSummary::ExitCode(), or 2 for a command line without a file or with
// an unknown switch (0 for a help switch, which prints the usage).
int RunReportSummary(const std::vector<std::string>& args, std::ostream& out,
                     std::ostream& err);

}  // namespace zavo

#endif  // ZAVO_RUN_REPORT_SUMMARY_H_
