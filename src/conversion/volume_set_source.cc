#include "conversion/volume_set_source.h"

#include <utility>

#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Enough for the volume marks of every format that has them.
constexpr std::size_t kHeadSize = 32;

bool SameName(const std::string& a, const std::string& b) {
  return kNamesIgnoreCase ? EqualNoCase(a, b) : a == b;
}

bool SameTime(const FileTime& a, const FileTime& b) {
  return a.seconds == b.seconds && a.nanoseconds == b.nanoseconds;
}

}  // namespace

void VolumeSetSource::Open(const HeldFolder& folder, const VolumeSet& set,
                           const std::string& candidate,
                           const EntryStatus& candidate_status) {
  set_name_ = set.set_name;
  names_set_ = set.names_set;
  if (!set.missing.empty()) {
    MarkIncomplete("volume [" + set.missing.front() + "] is missing");
  }
  std::vector<VolumeMarks> marks;
  for (const std::string& name : set.volumes) {
    Volume volume;
    volume.name = name;
    Status opened = folder.OpenFile(name, &volume.file);
    if (opened.ok()) opened = volume.file.Stat(&volume.status);
    if (opened.ok()) opened = volume.file.Time(&volume.time);
    if (!opened.ok()) {
      EntryStatus there;
      const bool link = folder.Stat(name, &there).ok() &&
                        there.kind == EntryStatus::Kind::kLink;
      MarkIncomplete("volume [" + name + "] " +
                     (link ? std::string("is a link")
                           : "can't be opened: " + opened.Reason()));
      continue;
    }
    if (volume.status.kind != EntryStatus::Kind::kFile) {
      MarkIncomplete("volume [" + name + "] is not a plain file");
      continue;
    }
    // The scan's file and this one must be one: a name swapped between
    // the two opens would join another file to the set.
    // (Win32 tells no identity: the size must do there.)
    if (name == candidate &&
        ((volume.status.identity.known() &&
          volume.status.identity != candidate_status.identity) ||
         volume.status.size != candidate_status.size)) {
      MarkIncomplete("volume [" + name + "] changed while it was opened");
    }
    std::string head(kHeadSize, '\0');
    std::size_t got = 0;
    if (!volume.file.ReadAt(0, &head[0], head.size(), &got).ok()) got = 0;
    head.resize(got);
    marks.push_back(ReadVolumeMarks(head));
    volumes_.push_back(std::move(volume));
  }
  if (complete()) {
    const std::string disagree = VolumeMarksDisagree(Names(), marks);
    if (!disagree.empty()) MarkIncomplete(disagree);
  }
}

void VolumeSetSource::MarkIncomplete(const std::string& why) {
  if (why_.empty()) why_ = why;
}

std::vector<std::string> VolumeSetSource::Names() const {
  std::vector<std::string> names;
  for (const Volume& volume : volumes_) names.push_back(volume.name);
  return names;
}

std::vector<std::string> VolumeSetSource::ListOrder() const {
  std::vector<std::string> names = {names_set_};
  for (const Volume& volume : volumes_) {
    if (volume.name != names_set_) names.push_back(volume.name);
  }
  return names;
}

bool VolumeSetSource::Holds(const std::string& name,
                            const EntryStatus& there) const {
  for (const Volume& volume : volumes_) {
    if (SameName(volume.name, name) && there.kind == EntryStatus::Kind::kFile &&
        (there.identity == volume.status.identity ||
         !volume.status.identity.known())) {
      return true;
    }
  }
  return false;
}

Status VolumeSetSource::Link(HeldFolder* links) const {
  for (const Volume& volume : volumes_) {
    Status made = links->MakeLink(volume.name, volume.file.ChildPath());
    if (!made.ok()) return made;
  }
  return Status();
}

void VolumeSetSource::Inherit(std::vector<std::intptr_t>* handles) const {
  for (const Volume& volume : volumes_) {
    if (volume.file.handle() >= 0) handles->push_back(volume.file.handle());
  }
}

std::vector<const HeldFile*> VolumeSetSource::Files() const {
  std::vector<const HeldFile*> files;
  for (const Volume& volume : volumes_) {
    if (volume.file.is_open()) files.push_back(&volume.file);
  }
  return files;
}

std::int64_t VolumeSetSource::size() const {
  std::int64_t total = 0;
  for (const Volume& volume : volumes_) total += volume.status.size;
  return total;
}

void VolumeSetSource::Release() {
  for (Volume& volume : volumes_) {
    if (!volume.file.is_open()) continue;
    EntryStatus now;
    FileTime time;
    if (!volume.file.Stat(&now).ok() || !volume.file.Time(&time).ok() ||
        now.size != volume.status.size || !SameTime(time, volume.time)) {
      MarkIncomplete("volume [" + volume.name + "] changed while it was read");
    }
    volume.file.Close();
  }
}

void VolumeSetSource::Remove(HeldFolder* folder, const std::string& keep,
                             std::vector<std::string>* left) const {
  for (const Volume& volume : volumes_) {
    if (SameName(volume.name, keep) || volume.status.read_only) continue;
    // Only while the name still names the volume that was read; whatever
    // someone put there meanwhile stays.
    EntryStatus still;
    if (!folder->Stat(volume.name, &still).ok() ||
        still.kind != EntryStatus::Kind::kFile || still.read_only ||
        (still.identity != volume.status.identity &&
         volume.status.identity.known())) {
      continue;
    }
    Status gone = folder->Unlink(volume.name);
    if (!gone.ok()) {
      left->push_back("can't remove old volume [" + folder->path() +
                      volume.name + "]: " + gone.Reason());
    }
  }
}

}  // namespace zavo
