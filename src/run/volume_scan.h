// How the scan meets the volumes of sets. A set is one archive: it is
// converted, or said to be incomplete, once, through the file that stands
// for it, and its other volumes are never handed to a job of their own. The
// file that stands for a set is the volume that names it (x.part1.rar,
// x.zip of x.z01...); when the scan will not meet that one (it is missing,
// is no plain file, or the mask leaves it out), the first of the set's
// other volumes the scan meets stands for the set, which then is left
// whole with a line.

#ifndef ZAVO_RUN_VOLUME_SCAN_H_
#define ZAVO_RUN_VOLUME_SCAN_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/volume_sets.h"
#include "conversion/archive_conversion.h"
#include "run/folder_scan.h"

namespace zavo {

class VolumeScan {
 public:
  // Starts a scan over `archivers` (not owned; it must outlive the scan)
  // that passes the files whose names match `pattern`.
  void Start(const ArchiverList* archivers, const std::string& pattern);

  enum class Verdict {
    kNoVolume,  // no naming makes a volume of it: recognise it as usual
    kSet,       // it stands for its set: convert the set through it
    kPassed,    // another file of the scan stands for its set: nothing here
  };
  struct Meeting {
    Verdict verdict = Verdict::kNoVolume;
    std::int32_t definition = -1;  // the kind whose naming made the set
    VolumeSet set;
    // For a later volume that stands for its set: why the set cannot be
    // converted through the volume that names it. Empty otherwise.
    std::string why;
  };

  // What the file `name` of the scanned `folder` is among the folder's
  // entries. Called in scan order; a new folder forgets the sets met.
  Meeting Meet(const ScannedFolder& folder, const std::string& name);

 private:
  // Lists the current folder's entries by set name (upper case), for each
  // definition and each of its namings: a candidate is then compared with
  // the files of its own set only, not with the whole folder.
  void Index(const std::vector<DirEntry>& entries);

  const ArchiverList* archivers_ = nullptr;
  std::string pattern_;
  std::string folder_path_ = " ";
  using ByStar = std::map<std::string, std::vector<std::string>>;
  std::vector<std::vector<ByStar>> index_;
  // The attributes of each entry of the folder, by name.
  std::map<std::string, std::uint32_t> kinds_;
  // The sets of the folder already met: the kind and the name of the
  // volume that names each.
  std::set<std::pair<std::int32_t, std::string>> met_;
};

// Completes `source` (its folder, file, status, name and path filled) for
// what `meeting` found: a set's kind and every volume held. A file that no
// naming puts in a set, but whose own head says it is one volume of a set,
// becomes a set that is incomplete. A single archive stays as it is.
void HoldVolumes(const VolumeScan::Meeting& meeting, ArchiveSource* source);

}  // namespace zavo

#endif  // ZAVO_RUN_VOLUME_SCAN_H_
