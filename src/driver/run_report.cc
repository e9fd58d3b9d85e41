#include "driver/run_report.h"

#include <cstdint>
#include <iostream>

#include "archivers/archiver_definition.h"
#include "driver/output_sink.h"
#include "fs/file_digest.h"

namespace zavo {

bool RunReport::Open(const std::string& path, const std::string& parent,
                     std::string* error) {
  path_ = path;
  return writer_.Open(path, parent, error);
}

std::string RunReport::BeginRecord(const std::string& path,
                                   const ArchiverList& archivers,
                                   ReportRecord* record) const {
  record->old_path = path;
  std::int32_t kind = archivers.current();
  if (kind >= 0) {
    const ArchiverDefinition& d = archivers.definition(kind);
    record->definition = d.name().empty() ? d.extension() : d.name();
  }
  std::string error;
  if (!Sha256OfFile(path, &record->old_sha256, &record->old_size, &error)) {
    return "can't read [" + path + "] for its checksum: " + error;
  }
  return std::string();
}

void RunReport::WriteRecord(const ConversionResult& result,
                            std::chrono::steady_clock::time_point began,
                            ReportRecord* record) {
  record->message = result.line.empty() ? result.message : result.line;
  switch (result.status) {
    case ConversionStatus::kDone: {
      record->status = ArchiveStatus::kConverted;
      record->new_path = result.final_name;
      std::string error;
      if (!Sha256OfFile(result.final_name, &record->new_sha256,
                        &record->new_size, &error)) {
        ErrorLine("can't read [" + result.final_name +
                  "] for its checksum: " + error);
      }
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
      ErrorLine("can't write report file [" + path_ + "]: " + writer_.error());
    }
    failed_ = true;
  }
}

int RunReport::Finish(int code, std::chrono::steady_clock::time_point started) {
  if (!writer_.is_open()) return code;
  if (failed_ && code == kExitDone) code = kExitSomeFailed;
  std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - started;
  if (!writer_.Finish(code, seconds.count())) {
    ErrorLine("can't write report file [" + path_ + "]: " + writer_.error());
    if (code == kExitDone) code = kExitSomeFailed;
  }
  writer_.Close();
  return code;
}

}  // namespace zavo
