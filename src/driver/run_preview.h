// What a run will do, told before it does it or instead: the line a dry run
// (--dry-run) prints for each archive, and the count of the archives a run
// will convert, which the status line shows from the start.

#ifndef ZAVO_DRIVER_RUN_PREVIEW_H_
#define ZAVO_DRIVER_RUN_PREVIEW_H_

#include <cstdint>
#include <string>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "driver/output_sink.h"
#include "driver/run_options.h"

namespace zavo {

// Says in `sink` what the run would do with the file at `path`: convert it,
// or leave it because its new name is taken. Nothing for a file that is
// not an archive to convert. Changes no file.
void ShowConversion(const RunOptions& options, ArchiverList* archivers,
                    CommandRunner* runner, OutputSink* sink,
                    const std::string& path);

struct ArchiveCount {
  int archives = 0;
  std::int64_t bytes = 0;
};

// The archives of a known kind that the run's mask finds, and their size.
ArchiveCount CountArchives(const RunOptions& options, ArchiverList* archivers);

}  // namespace zavo

#endif  // ZAVO_DRIVER_RUN_PREVIEW_H_
