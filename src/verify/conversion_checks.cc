#include "verify/conversion_checks.h"

#include <memory>

#include "verify/member_reader.h"

namespace zavo {

CheckOutcome ConversionChecks::Finish(const std::string& how,
                                      const MemberCheckResult& result,
                                      bool old_archive) {
  CheckOutcome outcome;
  outcome.how = how;
  outcome.losses = result.losses;
  not_kept_.insert(result.not_kept.begin(), result.not_kept.end());
  if (old_archive) {
    old_owners_ = result.owners;
    old_extras_ = result.extras;
    set_id_restored_ += result.set_id_restored;
    times_mended_ += result.times_mended;
  } else {
    new_owners_ = result.owners;
    new_extras_ = result.extras;
  }
  return outcome;
}

CheckOutcome ConversionChecks::CheckExtraction(
    const HeldFile* archive, const HeldFolder& work,
    const std::vector<std::string>& skip, const ArchiveLister& list) {
  MemberCheckSettings settings;
  settings.archive_name = "the old archive";
  settings.archive_is_expected = true;
  settings.skip = skip;
  std::unique_ptr<MemberReader> reader;
  std::string why = "a set of volumes";
  switch (archive == nullptr ? ReaderOpening::kUnknownKind
                             : OpenArchiveReader(*archive, &reader, &why)) {
    case ReaderOpening::kOpened: {
      settings.mend = true;
      return Finish("libarchive", CheckMembers(reader.get(), work, settings),
                    true);
    }
    case ReaderOpening::kUnknownKind:
    case ReaderOpening::kUnavailable:
      break;
  }
  CheckOutcome outcome;
  outcome.how = "not checked";
  outcome.why = why;
  if (!list) return outcome;
  HeldFile listing;
  std::string error;
  if (!list(&listing, &error) || !ListingReader(&listing, &reader, &error)) {
    // The user asked for this check: a listing that cannot be had is as
    // good as a failed one.
    outcome.how = "list";
    outcome.losses.push_back("the old archive cannot be listed: " + error);
    return outcome;
  }
  return Finish("list", CheckMembers(reader.get(), work, settings), true);
}

CheckOutcome ConversionChecks::CheckPacking(
    const HeldFile& packed, const HeldFolder& work,
    const std::vector<std::string>& skip, bool* readable) {
  std::unique_ptr<MemberReader> reader;
  std::string why;
  *readable =
      OpenArchiveReader(packed, &reader, &why) == ReaderOpening::kOpened;
  if (!*readable) return CheckOutcome();
  MemberCheckSettings settings;
  settings.archive_name = "the new archive";
  settings.skip = skip;
  new_read_ = true;
  return Finish("libarchive", CheckMembers(reader.get(), work, settings),
                false);
}

CheckOutcome ConversionChecks::CheckUnpacked(
    const HeldFolder& unpacked, const HeldFolder& work,
    const std::vector<std::string>& skip) {
  std::unique_ptr<MemberReader> reader = TreeReader(&unpacked, {});
  MemberCheckSettings settings;
  settings.archive_name = "the new archive";
  settings.skip = skip;
  return Finish("unpacked", CheckMembers(reader.get(), work, settings), false);
}

std::vector<std::string> ConversionChecks::NotKept() const {
  std::set<std::string> lost = not_kept_;
  for (const std::string& extra : old_extras_) {
    if (new_extras_.count(extra) == 0) lost.insert(extra);
  }
  if (!old_owners_.empty() && (!new_read_ || old_owners_ != new_owners_)) {
    lost.insert("owners");
  }
  return std::vector<std::string>(lost.begin(), lost.end());
}

}  // namespace zavo
