#include "run/volume_scan.h"

#include <utility>

#include "platform/file_system.h"

namespace zavo {

namespace {

// Enough for the volume marks of every format that has them.
constexpr std::size_t kHeadSize = 32;

}  // namespace

void VolumeScan::Start(const ArchiverList* archivers,
                       const std::string& pattern) {
  archivers_ = archivers;
  pattern_ = pattern;
  folder_path_ = " ";
  names_.clear();
  met_.clear();
}

VolumeScan::Meeting VolumeScan::Meet(const ScannedFolder& folder,
                                     const std::string& name) {
  Meeting meeting;
  if (archivers_ == nullptr || folder.entries == nullptr) return meeting;
  if (folder.path != folder_path_) {
    folder_path_ = folder.path;
    met_.clear();
    // Links and folders count as volumes too: a set with one of them is
    // incomplete, never a smaller set.
    names_.clear();
    for (const DirEntry& entry : *folder.entries) names_.push_back(entry.name);
  }
  ArchiverList::VolumeRecognition found =
      archivers_->RecogniseVolume(name, names_);
  if (found.definition < 0) return meeting;
  meeting.definition = found.definition;
  const auto key = std::make_pair(found.definition, found.set.names_set);
  const bool first_meeting = met_.insert(key).second;
  meeting.set = std::move(found.set);
  if (meeting.set.role == VolumeRole::kFirst) {
    meeting.verdict = Verdict::kSet;
    return meeting;
  }
  // A later volume: silent while the volume that names the set is one the
  // scan meets, or when its set was met already.
  meeting.verdict = Verdict::kPassed;
  if (!first_meeting) return meeting;
  for (const DirEntry& entry : *folder.entries) {
    if (entry.name != meeting.set.names_set) continue;
    if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0 &&
        MatchesMask(pattern_, entry.name)) {
      met_.erase(key);
      return meeting;
    }
    if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
      meeting.why = "[" + entry.name +
                    "], which names the set, is not among the files asked for";
    }
  }
  meeting.verdict = Verdict::kSet;
  return meeting;
}

void HoldVolumes(const VolumeScan::Meeting& meeting, ArchiveSource* source) {
  if (meeting.verdict == VolumeScan::Verdict::kSet) {
    source->kind = meeting.definition;
    source->set.reset(new VolumeSetSource());
    source->set->Open(source->folder, meeting.set, source->name,
                      source->status);
    if (!meeting.why.empty()) source->set->MarkIncomplete(meeting.why);
    return;
  }
  // A file alone by its name may still say it is one volume of several:
  // converted alone, it would be read in part.
  std::string head(kHeadSize, '\0');
  std::size_t got = 0;
  if (!source->file.ReadAt(0, &head[0], head.size(), &got).ok()) return;
  head.resize(got);
  const std::string why = LoneVolumeMark(source->name, ReadVolumeMarks(head));
  if (why.empty()) return;
  VolumeSet alone;
  alone.role = VolumeRole::kFirst;
  alone.volumes = {source->name};
  alone.names_set = source->name;
  source->set.reset(new VolumeSetSource());
  source->set->Open(source->folder, alone, source->name, source->status);
  source->set->MarkIncomplete(why);
}

}  // namespace zavo
