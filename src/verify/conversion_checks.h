// The two checks that show a conversion lost nothing, and what the target
// kind could not keep.
//
// The extraction check compares the old archive, read in this process,
// with what its extractor left in the work folder, before anything in it
// is changed on purpose (deleted, scanned, added, nested archives
// converted). The packing check compares the new archive with the final
// work folder. Neither unpacks anything to disk; where no reader in this
// process knows the target kind, the caller unpacks the new archive with
// the target's own extractor and CheckUnpacked compares that tree instead.

#ifndef ZAVO_VERIFY_CONVERSION_CHECKS_H_
#define ZAVO_VERIFY_CONVERSION_CHECKS_H_

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "verify/member_check.h"

namespace zavo {

// How one check went.
struct CheckOutcome {
  // How it was checked, for the report: "libarchive" (read in this
  // process), "list" (the kind's list template), "unpacked" (the target's
  // extract template), or "not checked" (the extraction of a kind nothing
  // here reads, with no list template).
  std::string how;
  // What was lost: a text each ("[a/b.txt] differs in its bytes"). Empty
  // when the check passed or did not run.
  std::vector<std::string> losses;
  // For "not checked": why.
  std::string why;
};

// Runs a kind's list template for the old archive and opens what it
// printed in *listing; false with *why when it could not be run or failed.
using ArchiveLister = std::function<bool(HeldFile* listing, std::string* why)>;

class ConversionChecks {
 public:
  // The old archive, open in `archive` (not owned),
  // against the tree below `work`, leaving out the top entries `skip`.
  // What the extractor is known to get wrong is mended (MemberCheckSettings).
  // Where libarchive does not know the kind, or `archive` is null (a set of
  // volumes, which no one of its files holds), `list` (may be empty) gives a
  // listing that is compared instead: names, kinds and sizes.
  CheckOutcome CheckExtraction(const HeldFile* archive, const HeldFolder& work,
                               const std::vector<std::string>& skip,
                               const ArchiveLister& list);

  // The new archive, open in `packed`, against the final tree below `work`.
  // *readable is false when no reader here knows the target kind: the
  // caller then unpacks it and calls CheckUnpacked.
  CheckOutcome CheckPacking(const HeldFile& packed, const HeldFolder& work,
                            const std::vector<std::string>& skip,
                            bool* readable);

  // The new archive as its extractor unpacked it below `unpacked`, against
  // the final tree below `work`.
  CheckOutcome CheckUnpacked(const HeldFolder& unpacked, const HeldFolder& work,
                             const std::vector<std::string>& skip);

  // After both checks: what the old archive or the work folder held that
  // the new archive does not keep, a short name each, in order ("access
  // control lists", "comments", "extended attributes", "hard links",
  // "owners", "pax headers"). Owners count as kept only where both
  // archives were read here and record the same ones.
  std::vector<std::string> NotKept() const;

  // The set-ID bits the extraction check gave back, the times it put
  // right.
  int set_id_restored() const { return set_id_restored_; }
  int times_mended() const { return times_mended_; }

 private:
  CheckOutcome Finish(const std::string& how, const MemberCheckResult& result,
                      bool old_archive);

  bool new_read_ = false;
  std::set<std::string> old_owners_;
  std::set<std::string> new_owners_;
  std::set<std::string> old_extras_;
  std::set<std::string> new_extras_;
  std::set<std::string> not_kept_;
  int set_id_restored_ = 0;
  int times_mended_ = 0;
};

}  // namespace zavo

#endif  // ZAVO_VERIFY_CONVERSION_CHECKS_H_
