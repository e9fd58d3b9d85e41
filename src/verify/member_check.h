// The comparison of an archive's members, as a reader streams them, with
// the tree below a held folder: the one check that both the extraction
// check (the old archive against what its extractor unpacked) and the
// packing check (the new archive against what was packed) run.

#ifndef ZAVO_VERIFY_MEMBER_CHECK_H_
#define ZAVO_VERIFY_MEMBER_CHECK_H_

#include <set>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "verify/member_reader.h"

namespace zavo {

struct MemberCheckSettings {
  // How the messages call the archive: "the old archive", "the new
  // archive".
  std::string archive_name = "the archive";
  // Which side is the original that the other must equal: the archive for
  // the extraction check ("[x] is missing from the work folder"), the tree
  // for the packing check ("[x] is missing from the new archive"). Each
  // difference names the original's value first.
  bool archive_is_expected = false;
  // Entries at the top of the tree that are no part of it (the new archive
  // itself, a private folder).
  std::vector<std::string> skip;
  // What the extractor is known to get wrong is mended through the
  // entry's own descriptor: set-user-ID and set-group-ID bits that a member
  // has and the unpacked file or folder lacks (the extractor never restores
  // them; a bit the file system will not keep is a loss), and a file's time
  // that the extractor misread as the reader does.
  bool mend = false;
};

// What a check found.
struct MemberCheckResult {
  // The differences that lose data, a text each: "[a/b.txt] is missing
  // from the work folder", "[a/b.txt] differs in its bytes", "[x] has two
  // members of one name and one was lost". After kMaxLosses the check
  // stops looking.
  std::vector<std::string> losses;
  // What the tree holds that the archive does not keep, or the reverse,
  // without loss of data: "hard links" (a file's second name made a copy).
  std::set<std::string> not_kept;
  // What the archive records that a target may not keep: owners as
  // "uid:gid:user:group" (at most kMaxOwners of them), and "extended
  // attributes", "access control lists", "hard links", "comments", "pax
  // headers".
  std::set<std::string> owners;
  std::set<std::string> extras;
  // The set-ID bits given back, the times put right.
  int set_id_restored = 0;
  int times_mended = 0;
};

constexpr std::size_t kMaxLosses = 20;
constexpr std::size_t kMaxOwners = 64;

// Reads every member from `reader` and compares it with the tree below
// `tree`: each member's path (cleaned as extractors clean it: no "./", no
// doubled, leading or final "/") must name an entry of the same kind there,
// a file of the same size and bytes (holes read as zeros), a link with the
// same target, files and folders with the same permission bits and
// modification time, where the member records them (a time recorded to the
// second is compared to the second, one to a finer step to 100 ns), a
// second name (hard link) the same file as the first. Every entry of the
// tree must be named by some member. A pipe, device or socket is a loss in
// itself: nothing shows that a copy of one is faithful. Names are compared
// as the bytes they are; where the reader gives names in a normal form of
// its own (NameForm), a tree name whose form is the member's name is that
// member. The tree is reached only through `tree`, never by a path, and
// never with a descriptor per level of depth.
MemberCheckResult CheckMembers(MemberReader* reader, const HeldFolder& tree,
                               const MemberCheckSettings& settings);

}  // namespace zavo

#endif  // ZAVO_VERIFY_MEMBER_CHECK_H_
