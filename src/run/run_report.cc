#include "run/run_report.h"

#include <cstdint>

namespace zavo {

Status RunReport::Open(const std::string& path, const std::string& parent) {
  path_ = path;
  return writer_.Open(path, parent);
}

Status RunReport::Adopt(long handle, const std::string& path,
                        const std::string& parent) {
  path_ = path;
  return writer_.Adopt(handle, path, parent);
}

std::string RunReport::BeginRecord(const ArchiveConversion& conversion,
                                   ReportRecord* record) const {
  record->old_path = conversion.path();
  record->definition = conversion.KindName();
  return conversion.DigestOld(record);
}

void RunReport::WriteRecord(const ConversionResult& result,
                            std::chrono::steady_clock::time_point began,
                            ReportRecord* record, OutputSink* sink) {
  record->message = result.line.empty() ? result.message : result.line;
  switch (result.status) {
    case ConversionStatus::kDone: {
      record->status =
          originals_kept_ ? ArchiveStatus::kKept : ArchiveStatus::kConverted;
      record->new_path = result.final_name;
      break;
    }
    case ConversionStatus::kNameTaken:
      record->status = ArchiveStatus::kLeft;
      record->detail = "exists";
      break;
    case ConversionStatus::kOverLimits:
      record->status = ArchiveStatus::kLeft;
      record->detail = "nesting limit";
      break;
    case ConversionStatus::kIncompleteSet:
      record->status = ArchiveStatus::kLeft;
      record->detail = "incomplete set";
      break;
    case ConversionStatus::kFailed:
      record->status = ArchiveStatus::kFailed;
      record->detail = ReportStepName(result.step);
      break;
    case ConversionStatus::kInterrupted:
      // The old archive stays as it was.
      record->status = ArchiveStatus::kLeft;
      record->detail = "interrupted";
      break;
  }
  std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - began;
  record->seconds = seconds.count();
  if (!writer_.Write(*record)) {
    if (!failed_) {
      sink->Note("can't write report file [" + path_ + "]: " + writer_.error());
    }
    failed_ = true;
  }
}

int RunReport::Finish(int code, std::chrono::steady_clock::time_point started,
                      OutputSink* sink, const NestedTally* nested) {
  if (!writer_.is_open()) return code;
  if (failed_ && code == kExitDone) code = kExitSomeFailed;
  std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - started;
  NestedCounts counts;
  if (nested != nullptr) counts = nested->Counts();
  if (!writer_.Finish(code, seconds.count(),
                      nested != nullptr ? &counts : nullptr)) {
    sink->Note("can't write report file [" + path_ + "]: " + writer_.error());
    if (code == kExitDone) code = kExitSomeFailed;
  }
  writer_.Close();
  return code;
}

}  // namespace zavo
