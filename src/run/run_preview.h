// What a run will do, told before it does it or instead: the line a dry run
// (--dry-run) prints for each archive, and the count of the archives a run
// will convert, which the status line shows from the start.

#ifndef ZAVO_RUN_RUN_PREVIEW_H_
#define ZAVO_RUN_RUN_PREVIEW_H_

#include <cstdint>
#include <string>

#include "archivers/archiver_list.h"
#include "conversion/archive_conversion.h"
#include "conversion/output_sink.h"
#include "platform/dir_handle.h"
#include "text/sorted_text_list.h"

namespace zavo {

// Says in `sink` what the run would do with the archive of `conversion`:
// convert it, or leave it because its new name is taken, now or by an
// archive that this run converts before it. `taken` holds the full paths
// of the new archives of the archives said so far, and gets this one's
// when it would be converted. Changes no file.
void ShowConversion(const ArchiveConversion& conversion, SortedTextList* taken,
                    OutputSink* sink);

struct ArchiveCount {
  int archives = 0;
  std::int64_t bytes = 0;
};

// The archives of a known kind other than the target kind that the scan of
// `top` (shown as `top_path`) for `pattern` finds, and their size.
ArchiveCount CountArchives(const HeldFolder& top, const std::string& top_path,
                           const std::string& pattern, bool recurse,
                           const ArchiverList& archivers, std::size_t target);

}  // namespace zavo

#endif  // ZAVO_RUN_RUN_PREVIEW_H_
