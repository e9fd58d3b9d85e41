#include "driver/run_preview.h"

#include <algorithm>

#include "driver/archive_conversion.h"
#include "driver/folder_scan.h"
#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "text/text_utils.h"

namespace zavo {

void ShowConversion(const RunOptions& options, ArchiverList* archivers,
                    CommandRunner* runner, OutputSink* sink,
                    const std::string& path) {
  ArchiveConversion conversion(options, archivers, runner, sink, path);
  if (!conversion.Recognise()) return;
  const std::string new_name = conversion.NewName();
  const std::string final_name = WithBackslash(PathFolder(path)) + new_name;
  const std::string what =
      "[" + path + "] (" + conversion.KindName() + ") -> [" + new_name + "]";
  // As the run would find it now; a run also leaves alone what another
  // conversion of it made meanwhile.
  if (!options.kill_exist &&
      (FileExists(final_name) || FolderExists(final_name))) {
    sink->Line("would leave " + what + " exists, not replaced");
  } else {
    sink->Line("would convert " + what);
  }
}

ArchiveCount CountArchives(const RunOptions& options, ArchiverList* archivers) {
  ArchiveCount count;
  ScanFolder(WithBackslash(PathFolder(options.file_mask)),
             PathFileName(options.file_mask), options.recurse,
             [&](const std::string& path) {
               archivers->SetArchiveName(path);
               if (archivers->Identify() > 0) {
                 ++count.archives;
                 count.bytes += std::max<std::int64_t>(FileByteSize(path), 0);
               }
               return true;
             });
  return count;
}

}  // namespace zavo
