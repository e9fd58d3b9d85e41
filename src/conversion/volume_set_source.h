// The volumes of a set, held as the one archive they make. Every volume is
// opened below the archive's folder the way the archive itself is (no link
// followed, no waiting, a regular file checked by its open descriptor), so
// the extractor reads exactly the files that were checked, through links
// named as the volumes in a private folder. A volume that is not there, is
// not a plain file, cannot be opened, contradicts the set in its own header
// or changes while it is read makes the set incomplete: it is then left
// whole, every volume as it was.

#ifndef ZAVO_CONVERSION_VOLUME_SET_SOURCE_H_
#define ZAVO_CONVERSION_VOLUME_SET_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archivers/volume_sets.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "text/status.h"

namespace zavo {

class VolumeSetSource {
 public:
  // Opens, in `folder`, every volume that `set` found (it keeps the set's
  // name and the name of the volume that names it). The scan has opened one
  // of them already as `candidate` with the status `candidate_status`: the
  // volume of that name must be that very file. Never fails: what keeps the
  // set from being read whole is kept in why().
  void Open(const HeldFolder& folder, const VolumeSet& set,
            const std::string& candidate, const EntryStatus& candidate_status);

  // Whether the set can be converted; why() names the first fault
  // ("volume [x.part2.rar] is missing").
  bool complete() const { return why_.empty(); }
  const std::string& why() const { return why_; }
  // Makes the set incomplete for `why`, unless it is already.
  void MarkIncomplete(const std::string& why);

  // The "*" of the naming: the new archive's name without extension.
  const std::string& set_name() const { return set_name_; }
  // The volumes found, in volume order.
  std::vector<std::string> Names() const;
  // Their sizes added up, as they were when opened.
  std::int64_t size() const;
  // The same with the volume that names the set first: the order in which
  // their list entries are merged.
  std::vector<std::string> ListOrder() const;

  // Whether `name`, whose status in the folder is `there`, is one of the
  // volumes held, still under its name.
  bool Holds(const std::string& name, const EntryStatus& there) const;

  // Makes a link named as each volume in `links`, to the file held.
  Status Link(HeldFolder* links) const;
  // Appends the volumes' handles (POSIX descriptors) for a child to inherit.
  void Inherit(std::vector<std::intptr_t>* handles) const;
  // The open volumes, in volume order (none after Release).
  std::vector<const HeldFile*> Files() const;

  // Lets go of the volumes once the extractor is done with them; a volume
  // whose size or time is no longer what it was when opened makes the set
  // incomplete, for what the extractor read of it may be neither.
  void Release();

  // Removes from `folder` each volume its name still names (the same file,
  // where the platform tells), except `keep` (the new archive's name, when
  // it took a volume's) and read-only volumes, which stay as a read-only
  // archive does. A volume that cannot be removed gets a line in *left.
  void Remove(HeldFolder* folder, const std::string& keep,
              std::vector<std::string>* left) const;

 private:
  struct Volume {
    std::string name;
    HeldFile file;
    EntryStatus status;
    FileTime time;
  };
  std::string set_name_;
  std::string names_set_;
  std::vector<Volume> volumes_;
  std::string why_;
};

}  // namespace zavo

#endif  // ZAVO_CONVERSION_VOLUME_SET_SOURCE_H_
