#include "run/run_preview.h"

#include <algorithm>

#include "run/folder_scan.h"
#include "run/volume_scan.h"
#include "text/text_utils.h"

namespace zavo {

void ShowConversion(const ArchiveConversion& conversion, SortedTextList* taken,
                    OutputSink* sink) {
  const std::string what = "[" + conversion.path() + "] (" +
                           conversion.KindName() + ") -> [" +
                           conversion.NewName() + "]";
  const VolumeSetSource* set = conversion.volume_set();
  if (set != nullptr && !set->complete()) {
    sink->Line("would leave [" + conversion.path() + "] (" +
               conversion.KindName() +
               ") volume set incomplete: " + set->why());
    return;
  }
  // The run never replaces an archive it made (a.zip and a.tgz both
  // becoming a.7z): the first one takes the name, the second is left.
  const std::string new_path =
      WithBackslash(PathFolder(conversion.path())) + conversion.NewName();
  const bool ours = taken->Contains(new_path);
  // Otherwise as the run would find it now.
  const ArchiveConversion::Taken now = conversion.NameTaken(nullptr);
  if (ours || now == ArchiveConversion::Taken::kKept ||
      now == ArchiveConversion::Taken::kBlocked) {
    sink->Line("would leave " + what + " exists, not replaced");
  } else {
    sink->Line("would convert " + what);
    taken->Insert(new_path);
  }
}

ArchiveCount CountArchives(const HeldFolder& top, const std::string& top_path,
                           const std::string& pattern, bool recurse,
                           const ArchiverList& archivers, std::size_t target) {
  ArchiveCount count;
  VolumeScan volumes;
  volumes.Start(&archivers, pattern);
  ScanCalls calls;
  calls.file = [&](const ScannedFolder& folder, const std::string& name) {
    const VolumeScan::Meeting meeting = volumes.Meet(folder, name);
    if (meeting.verdict == VolumeScan::Verdict::kPassed) return true;
    if (meeting.verdict == VolumeScan::Verdict::kSet) {
      ++count.archives;
      for (const std::string& volume : meeting.set.volumes) {
        EntryStatus status;
        if (folder.held->Stat(volume, &status).ok()) {
          count.bytes += std::max<std::int64_t>(status.size, 0);
        }
      }
      return true;
    }
    HeldFile file;
    if (!folder.held->OpenFile(name, &file).ok()) return true;
    std::int32_t kind = archivers.Recognise(name, &file);
    EntryStatus status;
    if (kind >= 0 && static_cast<std::size_t>(kind) != target &&
        file.Stat(&status).ok()) {
      ++count.archives;
      count.bytes += std::max<std::int64_t>(status.size, 0);
    }
    return true;
  };
  ScanTree(top, top_path, pattern, recurse, calls);
  return count;
}

}  // namespace zavo
