#include "driver/archive_conversion.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "archivers/archiver_definition.h"
#include "fs/file_tree.h"
#include "fs/tree_compare.h"
#include "fs/work_names.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "platform/process.h"
#include "text/text_utils.h"
#include "verify/tree_changes.h"

namespace zavo {

namespace {

// Permission bits as POSIX numbers them; the Win32 status has none.
constexpr std::uint32_t kOwnerWrite = 0200;
constexpr std::uint32_t kGroupBits = 0070;
constexpr std::uint32_t kPrivateFolder = 0700;
// Names drawn for a work folder before giving up: each one that is taken
// costs a retry, and only a folder full of work folders runs out.
constexpr int kWorkFolderDraws = 4096;

// Whether the file at `path` is read-only: such an archive is converted but
// never removed, and such a final name never replaced.
bool IsReadOnly(const std::string& path) {
  FileAttributes a;
  return GetFileAttributes(path, &a) && (a.bits & kAttrReadOnly) != 0 &&
         (a.bits & (kAttrLink | kAttrFolder)) == 0;
}

// The new archive gets the old one's owner and group where this process
// may give them (root may; an owner may pick one of its own groups) and
// exactly its permission bits. A group that cannot be kept gets nothing:
// the new archive is never open to anyone the old one was closed to.
// False when its bits could not be set and it is more open than the old
// one (a file system that keeps no bits gives every file the same ones).
bool KeepPermissions(HeldFile* packed, const EntryStatus& now,
                     const EntryStatus& old) {
  std::uint32_t mode = old.mode;
  if (now.owner != old.owner || now.group != old.group) {
    if (!packed->SetOwner(old.owner, old.group) && now.group != old.group &&
        !packed->SetOwner(now.owner, old.group)) {
      mode &= ~kGroupBits;
    }
  }
  if (packed->SetMode(mode)) return true;
  EntryStatus after;
  return packed->Status(&after) && (after.mode & ~mode & 07777) == 0;
}

// Gives *names the names of the files (not folders or volume labels) that
// `pattern` matches. False when the folder cannot be listed.
bool MatchingFiles(const std::string& pattern,
                   std::vector<std::string>* names) {
  names->clear();
  auto listing = ListFolder(pattern);
  if (listing == nullptr) return false;
  DirEntry entry;
  while (listing->Next(&entry)) {
    if ((entry.attributes & (kAttrFolder | kAttrVolume)) == 0) {
      names->push_back(entry.name);
    }
  }
  return true;
}

// Whether a scanner's 8-bit result says it never scanned: the shell could
// not find (127) or start (126) it, or it was killed by a signal, which the
// shell and the process service both give as 128 + the signal's number.
bool ScannerDidNotRun(unsigned char code) {
  constexpr unsigned char kLastSignal = 64;
  return code == 126 || code == 127 ||
         (code > 128 && code <= 128 + kLastSignal);
}

}  // namespace

const char* StepName(ConversionStep step) {
  switch (step) {
    case ConversionStep::kNone:
      return "";
    case ConversionStep::kExtract:
      return "extraction";
    case ConversionStep::kNested:
      return "nested";
    case ConversionStep::kDelete:
      return "deleting";
    case ConversionStep::kScan:
      return "scanning";
    case ConversionStep::kAdd:
      return "adding";
    case ConversionStep::kPack:
      return "packing";
    case ConversionStep::kTest:
      return "testing";
    case ConversionStep::kVerify:
      return "verifying";
    case ConversionStep::kPutInPlace:
      return "replacing";
    case ConversionStep::kLists:
      return "lists";
  }
  return "";
}

const char* ReportStepName(ConversionStep step) {
  switch (step) {
    case ConversionStep::kDelete:
      return "delete";
    case ConversionStep::kScan:
      return "scan";
    case ConversionStep::kAdd:
      return "add";
    default:
      return StepName(step);
  }
}

ArchiveConversion::ArchiveConversion(const RunOptions& options,
                                     ArchiverList* archivers,
                                     CommandRunner* runner, OutputSink* out,
                                     std::string candidate)
    : options_(options),
      archivers_(archivers),
      runner_(runner),
      out_(out),
      candidate_(std::move(candidate)) {}

bool ArchiveConversion::Recognise() {
  archivers_->SetArchiveName(candidate_);
  kind_ = archivers_->Identify();
  return kind_ > 0;
}

const std::string& ArchiveConversion::KindName() const {
  return archivers_->definition(static_cast<std::size_t>(kind_)).name();
}

std::string ArchiveConversion::NewName() const {
  // The final name takes the target's own extension, as Run gives it.
  return archivers_->definition(static_cast<std::size_t>(kind_))
      .RenamedPath(PathFileName(candidate_),
                   archivers_->definition(0).extension());
}

ConversionResult ArchiveConversion::Run(FolderLists* lists) {
  FileTime old_time;
  bool have_time = options_.keep_time && GetFileTime(candidate_, &old_time);
  if (options_.keep_time && !have_time) {
    left_undone_.push_back("can't read the file time of [" + candidate_ +
                           "]: " + ErrorReason(LastSystemError()));
  }

  // From here on the archive's folder and the work folder are held: a name
  // renamed or swapped for a link by someone else meanwhile leads nowhere.
  HeldFile archive;
  std::string reader_path;
  if (!OpenArchive(&archive) || !MakeHeldFolder(folder_, &work_, &work_name_) ||
      !ExtractorSource(&archive, &reader_path)) {
    return Fail(ConversionStep::kExtract);
  }
  work_folder_ = work_.ChildPath() + kPathSeparator;
  // The extractor reads the file that was opened, not the name again.
  unsigned char extracted = archivers_->ExtractFrom(reader_path, work_folder_);
  if (InterruptionSignal() != 0) return Interrupted();
  // An archive may give its "./" entry any mode, and attributes that an
  // extractor restores: the work folder stays private whatever it said,
  // and its mark is written again.
  work_.SetMode(kPrivateFolder);
  work_.ClaimWork();
  if (extracted != 0) return Fail(ConversionStep::kExtract);
  // Verify: an extractor that exits 0 has not shown that it unpacked it
  // all. Checked before any change made on purpose, so none needs an
  // allowance.
  std::vector<std::string> lost = CheckExtraction(&archive, reader_path);
  archive.Close();
  RemovePrivateFolder(&work_, &link_folder_, link_folder_name_);
  if (InterruptionSignal() != 0) return Interrupted();
  if (!lost.empty()) return Fail(ConversionStep::kVerify, lost);
  if (record_ != nullptr) CountUnpacked(work_folder_, record_);

  bool nested_failed = false;
  if (options_.nested) {
    std::vector<std::string> argv = options_.nested_command;
    std::int64_t mark = -1;
    if (report_ != nullptr) {
      // The nested run's lines name this archive, and its totals line
      // tells this record how it went.
      argv.push_back("--report-parent");
      argv.push_back(candidate_);
      mark = report_->Mark();
    }
    // The nested run reports its own archives. Exit code 1: some were left
    // as they were, and go into the new archive so; anything else (a stop,
    // a crash) leaves the work folder in a state nobody vouches for. On
    // POSIX it starts in the held work folder and its mask names files there.
    std::string nested_folder;
    if (kIsWin32) {
      argv.push_back(work_folder_ + "*.*");
    } else {
      argv.push_back("*.*");
      nested_folder = work_.ChildPath();
    }
    unsigned char nested = runner_->RunNested(
        argv, nested_folder, nested_environment_, nested_count_);
    if (InterruptionSignal() != 0) return Interrupted();
    if (nested == 1) {
      nested_failed = true;
    } else if (nested != 0) {
      return Fail(ConversionStep::kNested);
    }
    nested_left_undone_ = nested_failed;
    if (report_ != nullptr && record_ != nullptr) {
      record_->nested_run = true;
      report_->FindNestedTotals(mark, candidate_, &record_->nested_count,
                                &record_->nested_failed,
                                &record_->nested_converted);
    }
  }
  std::string undeleted;
  if (!DeleteUnwantedFiles(&undeleted)) {
    return Fail(ConversionStep::kDelete, undeleted);
  }
  // What a scanner changes is told by the tree before and after it; looked
  // at only for the report.
  TreeState before_scan;
  bool count_scan = record_ != nullptr && !options_.scan_commands.empty() &&
                    !kIsWin32 && ReadTreeState(work_, {}, &before_scan);
  bool scanned = RunScanners();
  if (InterruptionSignal() != 0) return Interrupted();
  if (!scanned) return Fail(ConversionStep::kScan);
  TreeState after_scan;
  if (count_scan && ReadTreeState(work_, {}, &after_scan)) {
    record_->scanned = CountChanges(before_scan, after_scan);
  }
  if (!AddFiles()) return Fail(ConversionStep::kAdd);
  if (record_ != nullptr) {
    record_->deleted = deleted_;
    record_->added = added_;
  }

  unsigned char packed_result = archivers_->Pack(work_folder_);
  if (InterruptionSignal() != 0) return Interrupted();
  if (packed_result != 0) return Fail(ConversionStep::kPack);
  std::string packed = archivers_->archive_name();
  archivers_->SetArchiveName(packed);
  unsigned char tested = archivers_->Test();
  if (InterruptionSignal() != 0) return Interrupted();
  // kNotRun passes only a kind that has no tester. A tester that ran and
  // exited 66 (EX_NOINPUT to many tools: it could not read the archive) has
  // not vouched for it, and the old archive is about to be deleted.
  bool untested =
      tested == kNotRun && archivers_->current() >= 0 &&
      archivers_->definition(archivers_->current()).test_command().empty();
  if (tested != 0 && !untested) return Fail(ConversionStep::kTest);
  if (record_ != nullptr) record_->tested = tested == 0;
  // A test proves the new archive intact, not complete: a packer that left
  // a file out, or changed one, passes it.
  std::vector<std::string> differences;
  bool verified = !options_.verify || Verify(packed, &differences);
  if (InterruptionSignal() != 0) return Interrupted();
  if (!verified) return Fail(ConversionStep::kVerify, differences);
  if (record_ != nullptr) record_->verified = options_.verify;

  if (turn_ && !turn_()) return Fail(ConversionStep::kPutInPlace);

  // A whole extension such as "tar.gz" is replaced as a whole.
  const ArchiverDefinition& source =
      archivers_->definition(static_cast<std::size_t>(kind_));
  // The target's own extension, which may be a whole one too.
  std::string new_extension = archivers_->definition(0).extension();
  std::string final_name = source.RenamedPath(candidate_, new_extension);
  std::string old_name = PathFileName(candidate_);
  std::string new_name = source.RenamedPath(old_name, new_extension);
  EntryStatus existing;
  bool taken = !folder_.Status(PathFileName(final_name), &existing) ||
               existing.kind != EntryStatus::Kind::kMissing;
  // KillExist replaces what was there before the run, never an archive this
  // run made a moment ago from another one of the same name (a.zip and
  // a.tgz both become a.7z). Nested runs make theirs inside work folders.
  bool own =
      own_products_ != nullptr && own_products_->Contains(ListText(final_name));
  if (taken && (!options_.kill_exist || own)) {
    return NameTaken(old_name, new_name);
  }
  // The time goes on before the name: a run that ends between putting the
  // new archive in place and cleaning up must not leave it with the wrong
  // time once the old archive, the only record of it, is gone.
  bool clash = false;
  if (!PutInPlace(PathFileName(packed), final_name, taken,
                  have_time ? &old_time : nullptr, &clash)) {
    // The name was free when asked and taken at the rename: someone else's
    // file came first, and it stays.
    if (clash) return NameTaken(old_name, new_name);
    return Fail(ConversionStep::kPutInPlace);
  }
  ConversionResult result;
  // The lists follow at once, before the clean-up: a run killed from here
  // on leaves the entry under the archive's new name.
  if (lists != nullptr) {
    lists->RenameEntry(old_name, new_name);
    lists->Save(&result.unsaved_lists);
  }
  RemoveWorkFolder();

  result.line = "[" + old_name + "] -> [" + new_name + "] done!";
  out_->Line(result.line);
  result.final_name = final_name;
  result.nested_failed = nested_failed;
  result.nested_left_undone = nested_left_undone_;
  result.left_undone = left_undone_;
  result.notes = notes_;
  return result;
}

ConversionResult ArchiveConversion::Interrupted() {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kInterrupted;
  result.message = "run interrupted on [" + candidate_ + "].";
  result.left_undone = left_undone_;
  return result;
}

ConversionResult ArchiveConversion::NameTaken(const std::string& old_name,
                                              const std::string& new_name) {
  // The old archive stays and the other file keeps its data, time and list
  // entry; the new archive goes with the work folder.
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kNameTaken;
  result.step = ConversionStep::kPutInPlace;
  result.line =
      "[" + old_name + "] -> [" + new_name + "] exists, not replaced!";
  out_->Line(result.line);
  result.left_undone = left_undone_;
  return result;
}

bool ArchiveConversion::OpenArchive(HeldFile* archive) {
  // The mask's own folder is the user's path, links and all; the folders
  // the scan found below it are opened below it, never through a link.
  // Below the start folder the process's own current folder is the top:
  // a nested run started in a held work folder never looks its path up.
  std::string folder = WithBackslash(PathFolder(candidate_));
  std::string start = WithBackslash(options_.start_folder);
  std::string top = WithBackslash(PathFolder(options_.file_mask));
  bool below_start = !start.empty() && folder.size() >= start.size() &&
                     folder.compare(0, start.size(), start) == 0 &&
                     options_.start_folder == GetCurrentFolder();
  if (!below_start) start.clear();
  if (!below_start && (top.empty() || folder.size() < top.size() ||
                       folder.compare(0, top.size(), top) != 0)) {
    top = folder;
  }
  const std::string& base = below_start ? start : top;
  HeldFolder held_top;
  if (!HeldFolder::Open(below_start ? std::string(".") : top, &held_top)) {
    return false;
  }
  if (folder.size() == base.size()) {
    folder_ = std::move(held_top);
  } else if (!held_top.OpenFolder(
                 NoTrailingBackslash(folder.substr(base.size())), &folder_)) {
    return false;
  }
  return folder_.OpenFile(PathFileName(candidate_), archive) &&
         archive->Status(&listed_) && listed_.kind == EntryStatus::Kind::kFile;
}

bool ArchiveConversion::MakeHeldFolder(const HeldFolder& parent,
                                       HeldFolder* folder, std::string* name) {
  // Created private by a call that fails when the name exists, so that no
  // folder or link someone else put there is ever used: another name is
  // drawn instead.
  for (int draw = 0; draw < kWorkFolderDraws; ++draw) {
    *name = TimeStampName() + ".tmp";
    bool exists = false;
    if (parent.NewFolder(*name, kPrivateFolder, folder, &exists)) {
      // Claimed at once, through the descriptor: a run that meets the folder
      // from now on leaves it alone. Where no claim can be taken the folder
      // stays unmarked, and a later run only names it if it is left behind.
      folder->ClaimWork();
      return true;
    }
    if (!exists) return false;
  }
  return false;
}

bool ArchiveConversion::ExtractorSource(HeldFile* archive,
                                        std::string* source) {
  *source = archive->ChildPath();
  if (kIsWin32) return true;
  // "/dev/fd/N" has no extension, and some archivers add their own to a
  // name without one. The link lies in a folder only this process can
  // change, reached through its descriptor too; it is made inside the work
  // folder, so that a kill leaves one folder behind, not two, and removed
  // right after the extraction.
  if (!MakeHeldFolder(work_, &link_folder_, &link_folder_name_)) {
    return false;
  }
  std::string name = PathFileName(candidate_);
  if (!link_folder_.MakeLink(name, *source)) return false;
  *source = link_folder_.ChildPath() + kPathSeparator + name;
  return true;
}

bool ArchiveConversion::RemovePrivateFolder(HeldFolder* parent,
                                            HeldFolder* folder,
                                            const std::string& name) {
  if (!folder->is_open()) return true;
  // Emptied through its own descriptor, wherever it was moved meanwhile;
  // the name goes only while it still names that folder.
  bool emptied = folder->RemoveChildren();
  EntryStatus self;
  EntryStatus there;
  bool gone = false;
  if (folder->SelfStatus(&self) && parent->Status(name, &there)) {
    if (there.kind == EntryStatus::Kind::kFolder &&
        (there.identity == self.identity || !self.identity.known())) {
      // Only an empty folder goes: a folder swapped in under the name after
      // the look keeps what it holds.
      gone = emptied && parent->RemoveEmptyFolder(name);
    } else {
      // Renamed away or replaced by someone else: not ours to remove
      // under this name, and no longer where the run left it.
      gone = emptied;
    }
  }
  folder->Close();
  return gone;
}

std::vector<std::string> ArchiveConversion::CheckExtraction(
    HeldFile* archive, const std::string& source) {
  // Win32 has no reader of its own: its Verify is the packing check alone.
  if (!options_.verify || kIsWin32) return {};
  ListArchive list;
  if (!archivers_->definition(static_cast<std::size_t>(kind_))
           .list_command()
           .empty()) {
    list = [this, &source](HeldFile* listing, std::string* why) {
      return ListOldArchive(source, listing, why);
    };
  }
  CheckOutcome outcome =
      checks_.CheckExtraction(archive, work_, {link_folder_name_}, list);
  if (record_ != nullptr) record_->extraction_check = outcome.how;
  return outcome.losses;
}

bool ArchiveConversion::ListOldArchive(const std::string& source,
                                       HeldFile* listing, std::string* why) {
  // Written beside the link to the archive, in the private link folder,
  // under a name that is not the archive's own.
  std::string output = "zavo-list.json";
  if (PathFileName(candidate_) == output) output = "zavo-list-2.json";
  unsigned char listed =
      archivers_->ListFrom(source, link_folder_.ChildPath(), output);
  if (listed != 0) {
    *why = "the list command ended with " + IntToText(listed);
    return false;
  }
  EntryStatus status;
  if (!link_folder_.OpenFile(output, listing) || !listing->Status(&status) ||
      status.kind != EntryStatus::Kind::kFile) {
    *why = "the list command wrote no listing";
    return false;
  }
  return true;
}

bool ArchiveConversion::Verify(const std::string& packed,
                               std::vector<std::string>* lost) {
  if (kIsWin32) {
    // No reader in this build: the new archive is unpacked again with the
    // target's extract template beside the work folder and compared by
    // path, as the Win32 build works by path throughout.
    std::string archive_folder = WithBackslash(PathFolder(candidate_));
    HeldFolder held;
    std::string name;
    if (!MakeHeldFolder(folder_, &held, &name)) {
      lost->push_back("no folder to unpack the new archive into: " +
                      LastHandleError());
      return false;
    }
    ArchiverDefinition& target = archivers_->definition(0);
    target.SetArchiveName(packed);
    unsigned char extracted = target.Extract(archive_folder + name, runner_);
    bool same = false;
    std::string difference;
    if (extracted != 0) {
      difference = "the new archive does not unpack (result " +
                   IntToText(extracted) + ")";
    } else {
      same = CompareTrees(work_folder_, archive_folder + name,
                          PathFileName(packed), &difference);
    }
    if (!RemovePrivateFolder(&folder_, &held, name)) {
      left_undone_.push_back("can't remove work folder [" + archive_folder +
                             name + "]: " + LastHandleError());
    }
    if (!same) lost->push_back(difference);
    return same;
  }
  const std::string packed_name = PathFileName(packed);
  HeldFile file;
  EntryStatus status;
  if (!work_.OpenFile(packed_name, &file) || !file.Status(&status) ||
      status.kind != EntryStatus::Kind::kFile) {
    lost->push_back("the new archive cannot be opened: " + LastHandleError());
    return false;
  }
  bool readable = false;
  CheckOutcome outcome =
      checks_.CheckPacking(&file, work_, {packed_name}, &readable);
  file.Close();
  if (!readable) outcome = CheckUnpackedArchive(packed);
  if (record_ != nullptr) record_->packing_check = outcome.how;
  *lost = outcome.losses;
  if (!lost->empty()) return false;
  // What the target kind cannot hold fails the archive only when asked;
  // it is never passed over in silence.
  std::vector<std::string> not_kept = checks_.NotKept();
  if (record_ != nullptr) record_->not_kept = not_kept;
  if (not_kept.empty()) return true;
  std::string what;
  for (const std::string& item : not_kept) {
    what += (what.empty() ? "" : ", ") + item;
  }
  if (options_.fidelity_exact) {
    lost->push_back("the new archive does not keep the old one's " + what);
    return false;
  }
  notes_.push_back("not kept by the new archive of [" + candidate_ +
                   "]: " + what);
  return true;
}

CheckOutcome ArchiveConversion::CheckUnpackedArchive(
    const std::string& packed) {
  CheckOutcome outcome;
  outcome.how = "unpacked";
  // Unpacked inside the private work folder, into a folder made and claimed
  // as the work folder is; the extractor starts in it through its
  // descriptor, and the comparison goes through descriptors too.
  HeldFolder held;
  std::string name;
  if (!MakeHeldFolder(work_, &held, &name)) {
    outcome.losses.push_back("no folder to unpack the new archive into: " +
                             LastHandleError());
    return outcome;
  }
  ArchiverDefinition& target = archivers_->definition(0);
  target.SetArchiveName(packed);
  unsigned char extracted = target.Extract(held.ChildPath(), runner_);
  if (extracted != 0) {
    outcome.losses.push_back("the new archive does not unpack (result " +
                             IntToText(extracted) + ")");
  } else {
    outcome = checks_.CheckUnpacked(held, work_, {PathFileName(packed), name});
  }
  if (!RemovePrivateFolder(&work_, &held, name)) {
    left_undone_.push_back("can't remove work folder [" + work_.path() + name +
                           "]: " + LastHandleError());
  }
  return outcome;
}

ConversionResult ArchiveConversion::Fail(
    ConversionStep step, const std::vector<std::string>& details) {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kFailed;
  result.step = step;
  for (const std::string& detail : details) {
    if (detail.empty()) continue;
    if (result.detail.empty()) result.detail = detail;
    out_->Line(std::string(StepName(step)) + " [" + candidate_ +
               "]: " + detail);
  }
  result.message =
      std::string(StepName(step)) + " mistake on [" + candidate_ + "].";
  // With StopOnError the caller stops the run with the message instead.
  if (!options_.stop_on_error) {
    result.line = result.message + " next archive!";
    out_->Line(result.line);
  }
  result.left_undone = left_undone_;
  return result;
}

void ArchiveConversion::RemoveWorkFolder() {
  if (!work_.is_open()) return;
  std::string path = folder_.path() + work_name_;
  RemovePrivateFolder(&work_, &link_folder_, link_folder_name_);
  if (!RemovePrivateFolder(&folder_, &work_, work_name_)) {
    left_undone_.push_back("can't remove work folder [" + path +
                           "]: " + LastHandleError());
  }
}

bool ArchiveConversion::DeleteUnwantedFiles(std::string* failure) {
  for (const std::string& mask : options_.delete_masks) {
    // A mask names files below the work folder only: no absolute path, no
    // drive, and (OpenFolder) no link or ".." on the way. A folder that is
    // not there holds nothing to delete.
    if (mask.empty() || mask[0] == kPathSeparator ||
        (kHasDrives && mask.find(':') != std::string::npos)) {
      continue;
    }
    std::string sub = PathFolder(mask);
    std::string pattern = PathFileName(mask);
    HeldFolder below;
    HeldFolder* where = &work_;
    if (!sub.empty()) {
      if (!work_.OpenFolder(sub, &below)) continue;
      where = &below;
    }
    std::vector<DirEntry> entries;
    if (!where->List(&entries)) {
      *failure = "can't list [" + sub + "]: " + LastHandleError();
      return false;
    }
    for (const DirEntry& entry : entries) {
      // A read-only file stays, as a read-only archive does.
      if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrReadOnly)) !=
              0 ||
          !MatchesMask(pattern, entry.name)) {
        continue;
      }
      if (!where->Unlink(entry.name)) {
        *failure = "can't delete [" + WithBackslash(sub) + entry.name +
                   "]: " + LastHandleError();
        return false;
      }
      ++deleted_;
    }
  }
  return true;
}

bool ArchiveConversion::RunScanners() {
  for (const std::string& command : options_.scan_commands) {
    // The same expansion as the archivers' commands, with the folder quoted
    // for the shell. A template that puts @Folder where no quoting holds, a
    // command that would be cut, or one whose folder name the text functions
    // could pull apart is not run, and the archive must not pass unscanned.
    const std::vector<CommandMacro> macros = {
        {"@Folder", NoTrailingBackslash(work_folder_)}};
    std::string text;
    if (BuildCommand(command, macros, &text) != 0) return false;
    const unsigned char code =
        runner_->RunNamedCommand(text, std::string(), NamesOf(macros));
    if (ScannerDidNotRun(code)) return false;
    // Any other exit code is the scanner's verdict: it acts on the work
    // folder (removing what it finds), and the packing step takes whatever
    // it left.
    if (code != 0) {
      out_->Line("scanner exited with " + IntToText(code) + " on [" +
                 candidate_ + "]");
    }
  }
  return true;
}

bool ArchiveConversion::AddFiles() {
  for (const std::string& mask : options_.add_masks) {
    std::string pattern = mask;
    // Relative masks name files of the folder the converter was started in.
    if (PathFolder(mask).empty() ||
        (mask[0] != kPathSeparator &&
         !(kHasDrives && mask.size() > 1 && mask[1] == ':'))) {
      pattern = WithBackslash(options_.start_folder) + mask;
    }
    std::string source_folder = WithBackslash(PathFolder(pattern));
    std::vector<std::string> names;
    // A mask that matches nothing adds nothing; a folder that exists but
    // cannot be listed may hold what it asks for.
    if (!MatchingFiles(pattern, &names) && FolderExists(source_folder)) {
      return false;
    }
    for (const std::string& name : names) {
      if (!CopyIntoWorkFolder(source_folder + name, name)) return false;
      ++added_;
    }
  }
  return true;
}

bool ArchiveConversion::CopyIntoWorkFolder(const std::string& source,
                                           const std::string& name) {
  if (kIsWin32) {
    return CopyFileTo(source, work_.path() + name, false);
  }
  // Written into the held folder under a new name and renamed over `name`
  // there: a link in its place is replaced, never written through.
  FileAttributes attributes;
  FileTime time;
  if (!GetFileAttributes(source, &attributes) ||
      (attributes.bits & (kAttrFolder | kAttrLink)) != 0 ||
      !GetFileTime(source, &time)) {
    return false;
  }
  EntryStatus existing;
  if (!work_.Status(name, &existing) ||
      existing.kind == EntryStatus::Kind::kFolder ||
      (existing.kind == EntryStatus::Kind::kFile &&
       (existing.mode & kOwnerWrite) == 0)) {
    return false;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(
      std::fopen(source.c_str(), "rb"), std::fclose);
  if (in == nullptr) return false;
  HeldFile out;
  std::string temp;
  for (int draw = 0; draw < kWorkFolderDraws && !out.is_open(); ++draw) {
    temp = "." + TimeStampName() + ".zvt";
    if (!work_.NewFile(temp, attributes.native, &out)) {
      EntryStatus clash;
      if (!work_.Status(temp, &clash) ||
          clash.kind == EntryStatus::Kind::kMissing) {
        return false;
      }
    }
  }
  if (!out.is_open()) return false;
  std::vector<char> buffer(65536);
  bool ok = true;
  for (;;) {
    std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in.get());
    if (got == 0) {
      ok = !std::ferror(in.get());
      break;
    }
    if (!out.Write(buffer.data(), got)) {
      ok = false;
      break;
    }
  }
  ok = ok && out.SetTime(time);
  out.Close();
  if (ok && work_.Rename(temp, work_, name, true)) return true;
  work_.Unlink(temp);
  return false;
}

bool ArchiveConversion::PutInPlace(const std::string& packed,
                                   const std::string& final_name, bool replace,
                                   const FileTime* time, bool* taken) {
  *taken = false;
  std::string final_base = PathFileName(final_name);
  // A read-only file or a folder under the final name is never replaced.
  if (replace && IsReadOnly(final_name)) return false;
  // The packer wrote the archive into the private work folder; it gets the
  // old archive's owner, group, bits and time there, reaches the disk, and
  // only then takes the final name.
  HeldFile file;
  EntryStatus now;
  if (!work_.OpenFile(packed, &file) || !file.Status(&now) ||
      now.kind != EntryStatus::Kind::kFile) {
    return false;
  }
  if (!KeepPermissions(&file, now, listed_)) return false;
  if (time != nullptr && !file.SetTime(*time)) {
    left_undone_.push_back("can't keep the file time of [" + candidate_ +
                           "] on [" + final_name + "]");
  }
  if (!file.Sync()) return false;
  file.Close();
  if (!work_.Rename(packed, folder_, final_base, replace, taken)) return false;
  // The new name must be on the disk before the old archive goes: after a
  // power loss the folder then holds the new archive, or both.
  if (!folder_.Sync()) return false;
  if (SamePath(candidate_, final_name) || IsReadOnly(candidate_)) return true;
  // The old name goes only while it still names the file that was
  // converted; whatever someone put there meanwhile stays.
  EntryStatus still;
  if (folder_.Status(PathFileName(candidate_), &still) &&
      still.kind == EntryStatus::Kind::kFile &&
      (still.identity == listed_.identity || !listed_.identity.known())) {
    if (!folder_.Unlink(PathFileName(candidate_))) {
      // Both stand complete; the old one is left for the user.
      left_undone_.push_back("can't remove old archive [" + candidate_ +
                             "]: " + LastHandleError());
    }
  }
  return true;
}

}  // namespace zavo
