// The run's report: one JSON object per line (JSON Lines) for every archive
// the run recognised, appended as soon as that archive is done, and a last
// object with the run's totals and exit code.
//
// Names are bytes. A text field holds its bytes when they are valid UTF-8;
// otherwise every byte that is not part of a valid UTF-8 sequence shows as
// U+FFFD there, and a second field named like the first plus "_b64" holds
// the exact bytes in base64 (RFC 4648), so that nothing is lost.

#ifndef ZAVO_RUN_REPORT_H_
#define ZAVO_RUN_REPORT_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "conversion/report_record.h"
#include "platform/append_file.h"
#include "run/nested_tally.h"
#include "text/status.h"

namespace zavo {

// The totals of a run, counted from the records it wrote.
struct ReportTotals {
  int converted = 0;
  int kept = 0;  // converted beside the old archive, which stays (--keep)
  int failed = 0;
  int left = 0;
  // The sizes of the converted archives before and after.
  std::int64_t bytes_before = 0;
  std::int64_t bytes_after = 0;
};

// The text of a status as the report writes it.
const char* StatusName(ArchiveStatus status);

// The current time in UTC, "2026-12-08T22:30:01.250Z".
std::string UtcTimestamp();

// One record as a line of JSON ending in "\n". `time` is its "time" field;
// `parent` is the old path of the archive whose unpacked files a nested run
// converts (empty in a run started by the user: no "parent" field then).
std::string FormatRecord(const ReportRecord& record, const std::string& time,
                         const std::string& parent);

// The totals line: type "totals" for a run started by the user, or
// "nested_totals" with the "parent" field for a nested run. `nested` (may
// be null: written as null) counts the archives of every nested run below
// a run started by the user.
std::string FormatTotals(const ReportTotals& totals, int exit_code,
                         double seconds, const std::string& time,
                         const std::string& parent,
                         const NestedCounts* nested = nullptr);

// Appends records and the totals line to a report file. Each line goes out
// with one write: runs that share the file, nested or parallel, never tear
// each other's lines. Write may be called from several threads at once.
class ReportWriter {
 public:
  // Opens the report for appending. `parent` is empty in a run started by
  // the user; a nested run names the archive it works for. Fails when the
  // file cannot be opened.
  Status Open(const std::string& path, const std::string& parent);
  // The same with the report a parent run handed on open as `handle`
  // (POSIX), named `path` in messages.
  Status Adopt(long handle, const std::string& path, const std::string& parent);
  // The handle to hand a nested run; -1 where none is handed (Win32).
  long handle() const { return static_cast<long>(file_.handle()); }
  bool is_open() const { return file_.is_open(); }
  void Close() { file_.Close(); }

  // Writes one record and counts it into the totals. Returns false with
  // error() when the line could not be written whole.
  bool Write(const ReportRecord& record);

  // Writes the totals line, with `nested` as FormatTotals takes it.
  bool Finish(int exit_code, double seconds,
              const NestedCounts* nested = nullptr);

  ReportTotals totals() {
    std::lock_guard<std::mutex> hold(mutex_);
    return totals_;
  }
  const std::string& error() const { return error_; }

  // Where the report ends now: taken before a nested run, so that its
  // totals can be looked for in what was appended after. -1 when the report
  // cannot be read back (a pipe).
  std::int64_t Mark();

  // Looks in what was appended after `mark` for the totals line of the
  // nested run for the archive `parent` and fills in *count (the archives
  // it recognised), *failed and, when given, *converted. Returns false when
  // there is none.
  bool FindNestedTotals(std::int64_t mark, const std::string& parent,
                        int* count, int* failed, int* converted = nullptr);

 private:
  bool Append(const std::string& line);
  void Count(const ReportRecord& record);

  AppendFile file_;
  std::string parent_;
  std::mutex mutex_;  // guards totals_ and error_
  ReportTotals totals_;
  std::string error_;
};

}  // namespace zavo

#endif  // ZAVO_RUN_REPORT_H_
