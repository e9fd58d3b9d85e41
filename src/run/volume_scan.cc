#include "run/volume_scan.h"

#include <algorithm>
#include <utility>

#include "platform/file_system.h"
#include "text/text_utils.h"

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
  index_.clear();
  kinds_.clear();
  met_.clear();
}

void VolumeScan::Index(const std::vector<DirEntry>& entries) {
  index_.assign(archivers_->size(), {});
  kinds_.clear();
  for (const DirEntry& entry : entries) kinds_[entry.name] = entry.attributes;
  for (std::size_t i = 0; i < archivers_->size(); ++i) {
    const std::vector<VolumeNaming>& namings =
        archivers_->definition(i).volume_namings();
    index_[i].resize(namings.size());
    for (std::size_t n = 0; n < namings.size(); ++n) {
      for (const DirEntry& entry : entries) {
        for (const std::string& star : VolumeSetNames(namings[n], entry.name)) {
          index_[i][n][UpperText(star)].push_back(entry.name);
        }
      }
    }
  }
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
    Index(*folder.entries);
  }
  // Later definitions first, as recognition by name goes; of one kind's
  // namings, the first that makes a set.
  for (std::size_t i = index_.size(); i-- > 0 && meeting.definition < 0;) {
    const std::vector<VolumeNaming>& namings =
        archivers_->definition(i).volume_namings();
    for (std::size_t n = 0; n < namings.size(); ++n) {
      std::vector<std::string> group;
      for (const std::string& star : VolumeSetNames(namings[n], name)) {
        auto it = index_[i][n].find(UpperText(star));
        if (it != index_[i][n].end()) {
          group.insert(group.end(), it->second.begin(), it->second.end());
        }
      }
      std::sort(group.begin(), group.end());
      group.erase(std::unique(group.begin(), group.end()), group.end());
      meeting.set = FindVolumeSet({namings[n]}, name, group);
      if (meeting.set.role != VolumeRole::kNone) {
        meeting.definition = static_cast<std::int32_t>(i);
        break;
      }
    }
  }
  if (meeting.definition < 0) return Meeting();
  const auto key = std::make_pair(meeting.definition, meeting.set.names_set);
  const bool first_meeting = met_.insert(key).second;
  if (meeting.set.role == VolumeRole::kFirst) {
    meeting.verdict = Verdict::kSet;
    return meeting;
  }
  // A later volume: silent while the volume that names the set is one the
  // scan meets, or when its set was met already.
  meeting.verdict = Verdict::kPassed;
  if (!first_meeting) return meeting;
  const std::string& named = meeting.set.names_set;
  auto entry = kinds_.find(named);
  if (entry != kinds_.end() &&
      (entry->second & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
    if (MatchesMask(pattern_, named)) {
      met_.erase(key);
      return meeting;
    }
    meeting.why = "[" + named +
                  "], which names the set, is not among the files asked for";
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
