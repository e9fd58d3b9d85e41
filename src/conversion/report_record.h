// What the run's report says of one recognised archive: filled in by the
// conversion as it learns it, and written by the run.

#ifndef ZAVO_CONVERSION_REPORT_RECORD_H_
#define ZAVO_CONVERSION_REPORT_RECORD_H_

#include <cstdint>
#include <string>
#include <vector>

namespace zavo {

// How one recognised archive ended.
enum class ArchiveStatus {
  kConverted,  // the new archive stands in the old one's place
  kKept,       // the new archive stands beside the old one, which stays
  kFailed,     // a step failed; `detail` names it
  kLeft,       // left as it was on purpose; `detail` says why
};

// The record of one recognised archive. Unknown numbers are -1 and unknown
// checksums empty: they are written as null.
struct ReportRecord {
  ArchiveStatus status = ArchiveStatus::kFailed;
  // kFailed: the step ("extraction", "nested", "delete", "scan", "add",
  // "packing", "testing", "verifying", "replacing"); kLeft: the reason
  // ("exists", "nesting limit", "incomplete set", "interrupted").
  std::string detail;
  std::string old_path;
  std::string definition;  // the archivers-file definition that recognised it
  std::string new_path;    // empty when there is no new archive
  std::string message;     // the line zavo printed for it
  std::int64_t old_size = -1;
  std::int64_t new_size = -1;
  std::string old_sha256;
  std::string new_sha256;
  // What the extraction unpacked; -1 when it did not get that far.
  std::int64_t files = -1;
  std::int64_t folders = -1;
  std::int64_t links = -1;
  bool tested = false;  // the target's tester ran on it and passed
  // With Verify: the old archive matched what its extractor unpacked and
  // the new archive matched what was packed.
  bool verified = false;
  // With Verify: how the extraction and the packing were checked
  // ("libarchive", "list", "unpacked", "not checked"); empty where the
  // check did not run.
  std::string extraction_check;
  std::string packing_check;
  // With Verify: what the new archive does not keep ("owners", ...).
  std::vector<std::string> not_kept;
  // The changes made on purpose: files deleted (DeleteFile), added
  // (AddFile), nested archives converted (/n), entries a Scan command
  // removed, added or changed. -1 where not counted.
  int deleted = -1;
  int added = -1;
  int nested_converted = -1;
  int scanned = -1;
  double seconds = 0;
  // The nested run on the unpacked files: whether one ran, and the archives
  // it recognised and of those failed (-1 when it left no totals).
  bool nested_run = false;
  int nested_count = -1;
  int nested_failed = -1;
};

}  // namespace zavo

#endif  // ZAVO_CONVERSION_REPORT_RECORD_H_
