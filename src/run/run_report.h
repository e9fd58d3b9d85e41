// The run's report (--report), as the run keeps it: opened at start-up, a
// record for each archive filled before and after its conversion, and the
// totals line at the end. A line that cannot be written is said once on
// standard error, and the run then ends as not all done.

#ifndef ZAVO_RUN_RUN_REPORT_H_
#define ZAVO_RUN_RUN_REPORT_H_

#include <chrono>
#include <string>

#include "conversion/archive_conversion.h"
#include "conversion/output_sink.h"
#include "run/nested_tally.h"
#include "run/report.h"

namespace zavo {

// Exit codes of the program; the report's totals line records which.
constexpr int kExitDone = 0;        // everything asked for was done
constexpr int kExitSomeFailed = 1;  // the run completed, some archive failed
constexpr int kExitFatal = 2;       // start-up failed or StopOnError stopped

class RunReport {
 public:
  // Opens the report file `path` for appending (`parent` as ReportWriter
  // takes it). Fails when it cannot be opened.
  Status Open(const std::string& path, const std::string& parent);
  // The same with a report a parent run handed on open.
  Status Adopt(long handle, const std::string& path, const std::string& parent);
  bool is_open() const { return writer_.is_open(); }
  // Where the conversion and its nested run write (not owned by them).
  ReportWriter* writer() { return &writer_; }
  // Whether the run keeps the old archives (--keep): a converted archive's
  // status is then "kept".
  void set_originals_kept(bool kept) { originals_kept_ = kept; }

  // Fills what a record says of the archive of `conversion` before its
  // conversion, which may take the old archive away: its path, the
  // definition that recognised it, its checksum and size. Returns the line
  // to say on standard error when the archive could not be read for its
  // checksum, else empty. May be called from several threads at once, each
  // with a record of its own.
  std::string BeginRecord(const ArchiveConversion& conversion,
                          ReportRecord* record) const;

  // Completes the record from the conversion's result and the time it took
  // since `began`, and appends it. A line that cannot be written is said
  // once in `sink` (standard error).
  void WriteRecord(const ConversionResult& result,
                   std::chrono::steady_clock::time_point began,
                   ReportRecord* record, OutputSink* sink);

  // Appends the totals line with the run's time since `started`, and the
  // counts of `nested` (may be null: none), and closes the report. Returns
  // the exit code, made kExitSomeFailed from kExitDone when a line could
  // not be written (said in `sink`). Without a report, returns `code`.
  int Finish(int code, std::chrono::steady_clock::time_point started,
             OutputSink* sink, const NestedTally* nested = nullptr);

 private:
  ReportWriter writer_;
  std::string path_;
  // A line of the report could not be written: the run did not do all it
  // was asked.
  bool failed_ = false;
  bool originals_kept_ = false;
};

}  // namespace zavo

#endif  // ZAVO_RUN_RUN_REPORT_H_
