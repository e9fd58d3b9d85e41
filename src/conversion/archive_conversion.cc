#include "conversion/archive_conversion.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "archivers/archiver_commands.h"
#include "fs/file_digest.h"
#include "fs/tree_compare.h"
#include "fs/work_names.h"
#include "platform/os.h"
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
// The folders inside the work folder: the unpacked archive, the new archive
// unpacked again to be verified (where no reader here knows its kind), the
// link that leads the extractor and the list template to the archive that
// was opened.
constexpr char kUnpacked[] = "x";
constexpr char kVerified[] = "v";
constexpr char kSource[] = "s";
// Free entries (inodes) an unpacking must leave on a file system that
// counts them, besides the free bytes of the settings.
constexpr std::int64_t kKeepFreeEntries = 1000;

// The new archive gets the old one's owner and group where this process
// may give them (root may; an owner may pick one of its own groups) and
// exactly its permission bits. A group that cannot be kept gets nothing:
// the new archive is never open to anyone the old one was closed to.
// Fails when its bits could not be set and it is more open than the old
// one (a file system that keeps no bits gives every file the same ones).
Status KeepPermissions(HeldFile* packed, const EntryStatus& now,
                       const EntryStatus& old) {
  std::uint32_t mode = old.mode;
  if (now.owner != old.owner || now.group != old.group) {
    if (!packed->SetOwner(old.owner, old.group).ok() &&
        now.group != old.group &&
        !packed->SetOwner(now.owner, old.group).ok()) {
      mode &= ~kGroupBits;
    }
  }
  Status set = packed->SetMode(mode);
  if (set.ok()) return set;
  EntryStatus after;
  if (packed->Stat(&after).ok() && (after.mode & ~mode & 07777) == 0) {
    return Status();
  }
  return set;
}

// Whether a scanner never scanned: it could not start, the shell could not
// find (127) or start (126) it, or it was killed by a signal, which the
// shell gives as 128 + the signal's number.
bool ScannerDidNotRun(const ProcessResult& process) {
  constexpr int kLastSignal = 64;
  if (process.outcome != ProcessResult::Outcome::kExited) return true;
  const int code = process.exit_code & 0xFF;
  return code == 126 || code == 127 ||
         (code > 128 && code <= 128 + kLastSignal);
}

// What an archiver's end says beyond its step's own line: why zavo stopped
// it, or which limit it met.
std::string Stopped(const CommandOutcome& outcome, const UnpackLimits& limits) {
  // A refused template was named when the archivers file was read.
  if (outcome.kind != CommandOutcome::Kind::kRan) return std::string();
  if (outcome.process.stopped) {
    return "stopped: it would have left less than " +
           std::to_string(limits.keep_free) +
           " bytes free on the file system (KeepFree)";
  }
  if (!kIsWin32 &&
      outcome.process.outcome == ProcessResult::Outcome::kSignaled &&
      outcome.process.signal == 25) {  // SIGXFSZ
    return "a file would have been larger than " +
           std::to_string(limits.max_file_size) + " bytes (MaxFileSize)";
  }
  return std::string();
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

ArchiveConversion::ArchiveConversion(const ConversionSettings& settings,
                                     const ArchiverList& archivers,
                                     CommandRunner* runner,
                                     ArchiveSource source,
                                     std::intptr_t child_output,
                                     std::intptr_t child_errors)
    : settings_(settings),
      archivers_(archivers),
      runner_(runner),
      source_(std::move(source)),
      child_output_(child_output),
      child_errors_(child_errors) {}

ArchiveConversion::~ArchiveConversion() { RemoveWorkFolder(); }

const std::string& ArchiveConversion::KindName() const {
  return archivers_.definition(static_cast<std::size_t>(source_.kind)).name();
}

std::string ArchiveConversion::NewName() const {
  // A set is named after its "*": x.part1.rar and x.7z.001 become x.7z.
  if (source_.set != nullptr) {
    return source_.set->set_name() + "." +
           archivers_.definition(settings_.target).extension();
  }
  // A whole extension such as "tar.gz" is replaced as a whole, with the
  // target's own extension, which may be a whole one too.
  return archivers_.definition(static_cast<std::size_t>(source_.kind))
      .RenamedPath(source_.name,
                   archivers_.definition(settings_.target).extension());
}

ArchiveConversion::Taken ArchiveConversion::NameTaken(
    const SortedTextList* own_products) const {
  const std::string final_base = NewName();
  EntryStatus existing;
  if (source_.folder.Stat(final_base, &existing).ok() &&
      existing.kind == EntryStatus::Kind::kMissing) {
    return Taken::kFree;
  }
  if (settings_.keep_original && IsOriginal(final_base, existing)) {
    return Taken::kKept;
  }
  // The name of one of the set's own volumes (x.zip of x.z01 when the
  // target is zip) is the set's: the new archive replaces that volume as
  // it replaces the others.
  if (source_.set != nullptr && source_.set->Holds(final_base, existing)) {
    return Taken::kReplaceable;
  }
  // KillExist replaces what was there before the run, never an archive this
  // run made a moment ago from another one of the same name (a.zip and
  // a.tgz both become a.7z), nor, where others may write in the folder,
  // someone else's file: in an upload folder one user's archive must not
  // replace another's. A folder or a read-only file it cannot replace.
  if (!settings_.kill_exist ||
      (own_products != nullptr &&
       own_products->Contains(source_.folder.path() + final_base)) ||
      (!kIsWin32 && existing.owner != source_.status.owner)) {
    return Taken::kKept;
  }
  // A link under the name is replaced as a link, never written through.
  if (existing.kind == EntryStatus::Kind::kLink) return Taken::kReplaceable;
  if (existing.kind != EntryStatus::Kind::kFile || existing.read_only) {
    return Taken::kBlocked;
  }
  return Taken::kReplaceable;
}

bool ArchiveConversion::IsOriginal(const std::string& name,
                                   const EntryStatus& status) const {
  // Kept originals stay whatever KillExist says: the new archive of a
  // misnamed archive (x.7z holding zip bytes) would take its very name, and
  // a hard link to it would be written over.
  const bool same_name =
      kNamesIgnoreCase ? EqualNoCase(name, source_.name) : name == source_.name;
  return same_name || (status.identity.known() &&
                       status.identity == source_.status.identity);
}

std::string ArchiveConversion::DigestOld(ReportRecord* record) const {
  // A set's checksum is that of its volumes joined, and its size theirs.
  Status digest =
      source_.set != nullptr
          ? Sha256OfFiles(source_.set->Files(), &record->old_sha256,
                          &record->old_size)
          : Sha256OfFile(source_.file, &record->old_sha256, &record->old_size);
  if (digest.ok()) return std::string();
  return "can't read [" + source_.path +
         "] for its checksum: " + digest.Reason();
}

Status ArchiveConversion::MakePrivateFolder(const HeldFolder& parent,
                                            HeldFolder* folder,
                                            std::string* name) {
  if (!name->empty()) {
    bool exists = false;
    return parent.NewFolder(*name, kPrivateFolder, folder, &exists);
  }
  // Created private by a call that fails when the name exists, so that no
  // folder or link someone else put there is ever used: another name is
  // drawn instead.
  Status made;
  for (int draw = 0; draw < kWorkFolderDraws; ++draw) {
    *name = TimeStampName() + ".tmp";
    bool exists = false;
    made = parent.NewFolder(*name, kPrivateFolder, folder, &exists);
    if (made.ok()) {
      // Claimed at once, through the descriptor: a run that meets the
      // folder from now on leaves it alone. Where no claim can be taken
      // the folder stays unmarked, and a later run only names it if it is
      // left behind.
      folder->ClaimWork();
      return made;
    }
    if (!exists) return made;
  }
  return made;
}

Status ArchiveConversion::RemovePrivateFolder(HeldFolder* parent,
                                              HeldFolder* folder,
                                              const std::string& name) {
  if (!folder->is_open()) return Status();
  // Emptied through its own descriptor, wherever it was moved meanwhile;
  // the name goes only while it still names that folder.
  Status emptied = folder->RemoveChildren();
  EntryStatus self;
  EntryStatus there;
  Status gone = emptied;
  Status looked = folder->SelfStat(&self);
  if (looked.ok()) looked = parent->Stat(name, &there);
  if (!looked.ok()) {
    gone = looked;
  } else if (there.kind == EntryStatus::Kind::kFolder &&
             (there.identity == self.identity || !self.identity.known())) {
    // Only an empty folder goes: a folder swapped in under the name after
    // the look keeps what it holds.
    if (emptied.ok()) gone = parent->RemoveEmptyFolder(name);
  }
  // Otherwise it was renamed away or replaced by someone else: not ours to
  // remove under this name, and no longer where the run left it.
  folder->Close();
  return gone;
}

void ArchiveConversion::RemoveWorkFolder() {
  if (!work_.is_open()) return;
  packed_.Close();
  unpacked_.Close();
  const std::string path = work_.path();
  Status removed = RemovePrivateFolder(&source_.folder, &work_, work_name_);
  if (!removed.ok()) {
    left_undone_.push_back("can't remove work folder [" +
                           NoTrailingBackslash(path) +
                           "]: " + removed.message());
  }
}

ChildSpec ArchiveConversion::ArchiverSpec(const HeldFolder& folder) {
  ChildSpec launch;
  folder.StartChildHere(&launch);
  // The descriptors of this conversion alone: the work folder, the
  // unpacked tree and the archive that was opened.
  for (std::intptr_t handle : {work_.handle(), unpacked_.handle(),
                               folder.handle(), source_.file.handle()}) {
    if (handle >= 0) launch.inherit.push_back(handle);
  }
  launch.output = child_output_;
  launch.errors = child_errors_;
  launch.restricted = true;
  launch.max_file_size = settings_.limits.max_file_size;
  const HeldFolder* watched = &work_;
  const std::int64_t keep = settings_.limits.keep_free;
  launch.keep_going = [watched, keep]() {
    std::int64_t bytes = 0, entries = -1;
    if (!watched->FreeSpace(&bytes, &entries).ok()) return true;
    return bytes >= keep && (entries < 0 || entries >= kKeepFreeEntries);
  };
  return launch;
}

bool ArchiveConversion::Prepare(OutputSink* out, NestedRunner* nested,
                                ReportRecord* record,
                                ConversionResult* result) {
  ReportRecord ignored;
  if (record == nullptr) record = &ignored;
  if (source_.set != nullptr && !source_.set->complete()) {
    *result = LeftWhole(out);
    return false;
  }
  if (settings_.keep_time) {
    have_time_ = source_.file.Time(&old_time_).ok();
    if (!have_time_) {
      left_undone_.push_back("can't read the file time of [" + source_.path +
                             "]");
    }
  }
  // From here on the archive's folder, the work folder and the archive
  // itself are held: a name renamed or swapped for a link by someone else
  // meanwhile leads nowhere.
  std::string detail;
  Status step = MakePrivateFolder(source_.folder, &work_, &work_name_);
  if (step.ok()) {
    std::string name = kUnpacked;
    step = MakePrivateFolder(work_, &unpacked_, &name);
  }
  if (step.ok()) step = Extract(&detail);
  if (InterruptionSignal() != 0) {
    *result = Interrupted();
    return false;
  }
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kExtract, detail);
    return false;
  }
  step = CheckUnpacked(record);
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kExtract, step.message());
    return false;
  }
  // An extractor that exits 0 has not shown that it unpacked it all.
  // Checked before any change made on purpose, so none needs an allowance.
  std::vector<std::string> lost = CheckExtraction(record);
  LetGoOfSource();
  // A volume that changed while it was read: the set was not read whole.
  if (source_.set != nullptr && !source_.set->complete()) {
    *result = LeftWhole(out);
    return false;
  }
  if (InterruptionSignal() != 0) {
    *result = Interrupted();
    return false;
  }
  if (!lost.empty()) {
    *result = Fail(out, ConversionStep::kVerify, lost);
    return false;
  }
  if (settings_.nested && nested != nullptr) {
    step = RunNested(out, nested, record);
    if (InterruptionSignal() != 0) {
      *result = Interrupted();
      return false;
    }
    if (!step.ok()) {
      *result = Fail(out, ConversionStep::kNested);
      return false;
    }
  }
  step = DeleteUnwantedFiles();
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kDelete, step.message());
    return false;
  }
  // What a scanner changes is told by the tree before and after it; looked
  // at only for the report.
  TreeState before_scan;
  const bool count_scan = !settings_.scan_commands.empty() && !kIsWin32 &&
                          ReadTreeState(unpacked_, {}, &before_scan);
  step = RunScanners(out);
  if (InterruptionSignal() != 0) {
    *result = Interrupted();
    return false;
  }
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kScan);
    return false;
  }
  TreeState after_scan;
  if (count_scan && ReadTreeState(unpacked_, {}, &after_scan)) {
    record->scanned = CountChanges(before_scan, after_scan);
  }
  step = AddFiles();
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kAdd);
    return false;
  }
  record->deleted = deleted_;
  record->added = added_;
  step = Pack(&detail);
  if (InterruptionSignal() != 0) {
    *result = Interrupted();
    return false;
  }
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kPack, detail);
    return false;
  }
  step = Test(record);
  if (InterruptionSignal() != 0) {
    *result = Interrupted();
    return false;
  }
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kTest);
    return false;
  }
  // A test proves the new archive intact, not complete: a packer that left
  // a file out, or changed one, passes it.
  if (settings_.verify) {
    lost = Verify(record);
    if (InterruptionSignal() != 0) {
      *result = Interrupted();
      return false;
    }
    if (!lost.empty()) {
      *result = Fail(out, ConversionStep::kVerify, lost);
      return false;
    }
  }
  record->verified = settings_.verify;
  step = Park();
  if (!step.ok()) {
    *result = Fail(out, ConversionStep::kPutInPlace, step.message());
    return false;
  }
  return true;
}

Status ArchiveConversion::Park() {
  // Win32 renames no file that is open.
  if (kIsWin32) packed_.Close();
  Status step = unpacked_.Rename(packed_name_, work_, packed_name_, false);
  if (kIsWin32 && step.ok()) step = work_.OpenFile(packed_name_, &packed_);
  if (step.ok()) step = RemovePrivateFolder(&work_, &unpacked_, kUnpacked);
  return step;
}

Status ArchiveConversion::Extract(std::string* detail) {
  const ArchiverDefinition& definition =
      archivers_.definition(static_cast<std::size_t>(source_.kind));
  // The extractor reads the file that was opened, not the name again. On
  // POSIX it is led there by a link named as the archive, so that an
  // archiver that reads the name's extension still sees it, in a private
  // folder of the work folder, reached through its descriptor too.
  std::string archive = source_.file.ChildPath();
  if (!kIsWin32) {
    std::string links_name = kSource;
    Status made = MakePrivateFolder(work_, &links_, &links_name);
    // A set's volumes are all there, each under its own name, and nothing
    // else is: the extractor finds the later volumes beside the first.
    if (made.ok()) {
      made = source_.set != nullptr ? source_.set->Link(&links_)
                                    : links_.MakeLink(source_.name, archive);
    }
    if (!made.ok()) return made;
    archive = work_.ChildPath() + "/" + kSource + "/" + source_.name;
  }
  ChildSpec launch = ArchiverSpec(unpacked_);
  CommandOutcome outcome;
  if (source_.set != nullptr) {
    source_.set->Inherit(&launch.inherit);
    outcome = ExtractVolumeSet(definition, archive, launch, runner_);
  } else {
    outcome = ExtractArchive(definition, archive, launch, runner_);
  }
  if (outcome.succeeded()) return Status();
  *detail = Stopped(outcome, settings_.limits);
  return Status::Error(outcome.Describe());
}

void ArchiveConversion::LetGoOfSource() {
  if (source_.set != nullptr) source_.set->Release();
  if (links_.is_open()) {
    RemovePrivateFolder(&work_, &links_, kSource);
  }
  source_.file.Close();
}

std::vector<std::string> ArchiveConversion::CheckExtraction(
    ReportRecord* record) {
  // Win32 has no reader of its own: its Verify is the packing check alone.
  if (!settings_.verify || kIsWin32) return {};
  ArchiveLister list;
  if (!archivers_.definition(static_cast<std::size_t>(source_.kind))
           .list_command()
           .empty()) {
    list = [this](HeldFile* listing, std::string* why) {
      Status listed = ListOldArchive(listing);
      if (!listed.ok()) *why = listed.message();
      return listed.ok();
    };
  }
  CheckOutcome outcome = checks_.CheckExtraction(
      source_.set != nullptr ? nullptr : &source_.file, unpacked_, {}, list);
  record->extraction_check = outcome.how;
  return outcome.losses;
}

Status ArchiveConversion::ListOldArchive(HeldFile* listing) {
  // Written into the work folder, beside x, under a name of zavo's own.
  constexpr char kListing[] = "l";
  HeldFile written;
  Status step = work_.NewFile(kListing, 0600, &written);
  if (!step.ok()) return step;
  ChildSpec launch = ArchiverSpec(links_);
  launch.output = written.handle();
  launch.inherit.push_back(written.handle());
  if (source_.set != nullptr) source_.set->Inherit(&launch.inherit);
  CommandOutcome outcome = ListArchive(
      archivers_.definition(static_cast<std::size_t>(source_.kind)),
      work_.ChildPath() + "/" + kSource + "/" + source_.name, launch, runner_);
  written.Close();
  if (!outcome.succeeded()) {
    return Status::Error("the list command " + outcome.Describe());
  }
  return work_.OpenFile(kListing, listing);
}

Status ArchiveConversion::CheckUnpacked(ReportRecord* record) {
  record->files = record->folders = record->links = 0;
  const UnpackLimits& limits = settings_.limits;
  // A stack of relative paths, each folder opened below the top when its
  // turn comes: one descriptor at a time, however deep the tree.
  struct Pending {
    std::string relative;
    int depth;
  };
  std::vector<Pending> pending = {{std::string(), 0}};
  while (!pending.empty()) {
    Pending here = std::move(pending.back());
    pending.pop_back();
    HeldFolder folder;
    const HeldFolder* listed = &unpacked_;
    if (!here.relative.empty()) {
      Status opened = unpacked_.OpenFolder(here.relative, &folder);
      if (!opened.ok()) return opened;
      listed = &folder;
    }
    std::vector<DirEntry> entries;
    Status read = listed->List(&entries, true);
    if (!read.ok()) return read;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & kAttrLink) != 0) {
        ++record->links;
      } else if ((entry.attributes & kAttrFolder) != 0) {
        ++record->folders;
        if (here.depth + 1 > limits.max_depth) {
          return Status::Error("the archive's folders nest deeper than " +
                               std::to_string(limits.max_depth) +
                               " (MaxDepth)");
        }
        pending.push_back({here.relative.empty()
                               ? entry.name
                               : here.relative + kPathSeparator + entry.name,
                           here.depth + 1});
      } else if ((entry.attributes & kAttrVolume) == 0) {
        ++record->files;
      }
    }
    if (record->files + record->folders + record->links > limits.max_entries) {
      return Status::Error("the archive holds more than " +
                           std::to_string(limits.max_entries) +
                           " entries (MaxEntries)");
    }
  }
  return Status();
}

Status ArchiveConversion::RunNested(OutputSink* out, NestedRunner* nested,
                                    ReportRecord* record) {
  (void)out;
  ChildSpec launch;
  launch.output = child_output_;
  launch.errors = child_errors_;
  // The nested run reports its own archives. Exit code 1: some were left
  // as they were, and go into the new archive so; anything else (a stop, a
  // crash) leaves the work folder in a state nobody vouches for.
  NestedOutcome outcome =
      nested->Run(unpacked_, work_.path(), source_.path, std::move(launch));
  record->nested_run = true;
  record->nested_count = outcome.archives;
  record->nested_failed = outcome.failed;
  record->nested_converted = outcome.converted;
  if (outcome.process.outcome == ProcessResult::Outcome::kExited &&
      outcome.process.exit_code == 1) {
    nested_failed_ = true;
    return Status();
  }
  if (outcome.process.succeeded()) return Status();
  return Status::Error("the nested run " + outcome.process.Describe());
}

Status ArchiveConversion::DeleteUnwantedFiles() {
  for (const std::string& mask : settings_.delete_masks) {
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
    HeldFolder* where = &unpacked_;
    if (!sub.empty()) {
      if (!unpacked_.OpenFolder(sub, &below).ok()) continue;
      where = &below;
    }
    std::vector<DirEntry> entries;
    Status listed = where->List(&entries);
    if (!listed.ok()) {
      return Status::Error("can't list [" + sub + "]: " + listed.Reason());
    }
    for (const DirEntry& entry : entries) {
      // A read-only file stays, as a read-only archive does.
      if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrReadOnly)) !=
              0 ||
          !MatchesMask(pattern, entry.name)) {
        continue;
      }
      Status gone = where->Unlink(entry.name);
      if (!gone.ok()) {
        return Status::Error("can't delete [" + WithBackslash(sub) +
                             entry.name + "]: " + gone.Reason());
      }
      ++deleted_;
    }
  }
  return Status();
}

Status ArchiveConversion::RunScanners(OutputSink* out) {
  for (const std::string& command : settings_.scan_commands) {
    // The same expansion as the archivers' commands, with the folder quoted
    // for the shell. A template that puts @Folder where no quoting holds, a
    // command that would be cut, or one whose folder name the text functions
    // could pull apart is not run, and the archive must not pass unscanned.
    ChildSpec launch;
    launch.output = child_output_;
    launch.errors = child_errors_;
    if (unpacked_.handle() >= 0) launch.inherit.push_back(unpacked_.handle());
    CommandOutcome outcome = RunTemplate(
        command, {{"@Folder", unpacked_.ChildPath()}}, launch, runner_);
    if (outcome.kind != CommandOutcome::Kind::kRan ||
        ScannerDidNotRun(outcome.process)) {
      return Status::Error(outcome.Describe());
    }
    const int code = outcome.process.exit_code & 0xFF;
    const std::vector<int>& unscanned = settings_.scan_fail_codes;
    if (std::find(unscanned.begin(), unscanned.end(), code) !=
        unscanned.end()) {
      out->Note("scanner exited with " + std::to_string(code) + " on [" +
                source_.path + "]: it could not scan (ScanFailCodes)");
      return Status::Error("the scanner could not scan");
    }
    // Any other exit code is the scanner's verdict: it acts on the work
    // folder (removing what it finds), and the packing step takes whatever
    // it left.
    if (outcome.process.exit_code != 0) {
      out->Line("scanner exited with " +
                std::to_string(outcome.process.exit_code & 0xFF) + " on [" +
                source_.path + "]");
    }
  }
  return Status();
}

Status ArchiveConversion::AddFiles() {
  for (const std::string& mask : settings_.add_masks) {
    std::string pattern = mask;
    // Relative masks name files of the folder the converter was started in.
    if (PathFolder(mask).empty() ||
        (mask[0] != kPathSeparator &&
         !(kHasDrives && mask.size() > 1 && mask[1] == ':'))) {
      pattern = WithBackslash(settings_.start_folder) + mask;
    }
    // The mask's folder is the user's path, as the run's mask is; what it
    // holds is opened below it without following a link or waiting.
    HeldFolder from;
    if (!HeldFolder::Open(PathFolder(pattern), &from).ok()) {
      // A mask that matches nothing adds nothing.
      continue;
    }
    std::vector<DirEntry> entries;
    Status listed = from.List(&entries);
    if (!listed.ok()) return listed;
    for (const DirEntry& entry : entries) {
      if ((entry.attributes & (kAttrFolder | kAttrVolume)) != 0 ||
          !MatchesMask(PathFileName(pattern), entry.name)) {
        continue;
      }
      HeldFile source;
      EntryStatus status;
      Status opened = from.OpenFile(entry.name, &source);
      if (opened.ok()) opened = source.Stat(&status);
      if (!opened.ok()) return opened;
      if (status.kind != EntryStatus::Kind::kFile) {
        return Status::Error("[" + entry.name + "] is not a plain file");
      }
      Status copied = CopyIn(source, status, entry.name);
      if (!copied.ok()) return copied;
      ++added_;
    }
  }
  return Status();
}

Status ArchiveConversion::CopyIn(const HeldFile& source,
                                 const EntryStatus& status,
                                 const std::string& name) {
  // Written into the held folder under a new name and renamed over `name`
  // there: a link in its place is replaced, never written through. A
  // folder or read-only file of that name stays.
  EntryStatus existing;
  Status looked = unpacked_.Stat(name, &existing);
  if (!looked.ok()) return looked;
  if (existing.kind == EntryStatus::Kind::kFolder ||
      (existing.kind == EntryStatus::Kind::kFile && existing.read_only)) {
    return Status::Error("[" + name + "] is in the way");
  }
  FileTime time;
  Status timed = source.Time(&time);
  if (!timed.ok()) return timed;
  HeldFile out;
  std::string temp;
  for (int draw = 0; draw < kWorkFolderDraws && !out.is_open(); ++draw) {
    temp = "." + TimeStampName() + ".zvt";
    Status made = unpacked_.NewFile(temp, status.mode | kOwnerWrite, &out);
    EntryStatus clash;
    if (!made.ok() && (!unpacked_.Stat(temp, &clash).ok() ||
                       clash.kind == EntryStatus::Kind::kMissing)) {
      return made;
    }
  }
  if (!out.is_open()) return Status::Error("no name for a copy of " + name);
  std::vector<char> buffer(65536);
  Status copied;
  for (std::uint64_t at = 0;;) {
    std::size_t got = 0;
    copied = source.ReadAt(at, buffer.data(), buffer.size(), &got);
    if (!copied.ok() || got == 0) break;
    copied = out.Write(buffer.data(), got);
    if (!copied.ok()) break;
    at += got;
  }
  if (copied.ok()) copied = out.SetMode(status.mode);
  if (copied.ok()) copied = out.SetTime(time);
  out.Close();
  if (copied.ok()) copied = unpacked_.Rename(temp, unpacked_, name, true);
  if (!copied.ok()) unpacked_.Unlink(temp);
  return copied;
}

Status ArchiveConversion::Pack(std::string* detail) {
  const ArchiverDefinition& target = archivers_.definition(settings_.target);
  // The archive is made inside the folder it packs, under a name that no
  // unpacked entry has; the packer leaves its own archive out, and the
  // verification leaves it out too.
  EntryStatus there;
  do {
    packed_name_ = WithExtension(TimeStampName() + ".tmp", target.extension());
    Status looked = unpacked_.Stat(packed_name_, &there);
    if (!looked.ok()) return looked;
  } while (there.kind != EntryStatus::Kind::kMissing);
  CommandOutcome outcome =
      PackArchive(target, packed_name_, ArchiverSpec(unpacked_), runner_);
  if (!outcome.succeeded()) {
    *detail = Stopped(outcome, settings_.limits);
    return Status::Error(outcome.Describe());
  }
  // What the packer wrote must be a file, held from now on: the test, the
  // checks and the rename are all about this one.
  EntryStatus status;
  Status opened = unpacked_.OpenFile(packed_name_, &packed_);
  if (opened.ok()) opened = packed_.Stat(&status);
  if (opened.ok() && status.kind != EntryStatus::Kind::kFile) {
    opened = Status::Error("the packer left no archive");
  }
  return opened;
}

Status ArchiveConversion::Test(ReportRecord* record) {
  const ArchiverDefinition& target = archivers_.definition(settings_.target);
  // A kind without a tester is not tested; a tester that ran and exited 66
  // (EX_NOINPUT to many tools: it could not read the archive) has not
  // vouched for it, and the old archive is about to be deleted.
  // The tester is told the new archive's full name, as a tester elsewhere
  // would be: through the held folder on POSIX.
  CommandOutcome outcome =
      TestArchive(target, unpacked_.ChildPath() + kPathSeparator + packed_name_,
                  ArchiverSpec(unpacked_), runner_);
  if (outcome.kind == CommandOutcome::Kind::kNoTemplate) return Status();
  if (!outcome.succeeded()) return Status::Error(outcome.Describe());
  record->tested = true;
  return Status();
}

std::vector<std::string> ArchiveConversion::Verify(ReportRecord* record) {
  std::vector<std::string> lost;
  bool readable = false;
  if (!kIsWin32) {
    CheckOutcome outcome =
        checks_.CheckPacking(packed_, unpacked_, {packed_name_}, &readable);
    if (readable) {
      record->packing_check = outcome.how;
      lost = outcome.losses;
    }
  }
  if (!readable) lost = CheckUnpackedArchive(record);
  if (!lost.empty() || kIsWin32) return lost;
  // What the target kind cannot hold fails the archive only when asked;
  // it is never passed over in silence.
  std::vector<std::string> not_kept = checks_.NotKept();
  record->not_kept = not_kept;
  if (not_kept.empty()) return lost;
  std::string what;
  for (const std::string& item : not_kept) {
    what += (what.empty() ? "" : ", ") + item;
  }
  if (settings_.fidelity_exact) {
    lost.push_back("the new archive does not keep the old one's " + what);
  } else {
    notes_.push_back("not kept by the new archive of [" + source_.path +
                     "]: " + what);
  }
  return lost;
}

std::vector<std::string> ArchiveConversion::CheckUnpackedArchive(
    ReportRecord* record) {
  record->packing_check = "unpacked";
  const ArchiverDefinition& target = archivers_.definition(settings_.target);
  // The new archive is unpacked again into a private folder of the work
  // folder, with the target's own extractor, and the two trees compared
  // through the folders held.
  HeldFolder again;
  std::string name = kVerified;
  Status made = MakePrivateFolder(work_, &again, &name);
  if (!made.ok()) {
    return {"no folder to unpack the new archive into: " + made.message()};
  }
  const std::string archive = kIsWin32
                                  ? packed_.ChildPath()
                                  : unpacked_.ChildPath() + "/" + packed_name_;
  CommandOutcome outcome =
      ExtractArchive(target, archive, ArchiverSpec(again), runner_);
  std::vector<std::string> lost;
  std::string difference;
  if (!outcome.succeeded()) {
    lost.push_back("the new archive does not unpack (" + outcome.Describe() +
                   ")");
  } else if (!kIsWin32) {
    lost = checks_.CheckUnpacked(again, unpacked_, {packed_name_}).losses;
  } else if (!CompareTrees(unpacked_, again, packed_name_, &difference)) {
    lost.push_back(difference);
  }
  RemovePrivateFolder(&work_, &again, name);
  return lost;
}

ConversionResult ArchiveConversion::Commit(OutputSink* out, ListKeeper* lists,
                                           const SortedTextList* own_products,
                                           ReportRecord* record) {
  const std::string old_name = source_.name;
  const std::string new_name = NewName();
  const Taken taken = NameTaken(own_products);
  if (taken == Taken::kKept) return Kept(out);
  if (taken == Taken::kBlocked) return Fail(out, ConversionStep::kPutInPlace);
  bool clash = false;
  Status placed = PutInPlace(new_name, taken == Taken::kReplaceable, &clash);
  if (!placed.ok()) {
    // The name was free when asked and taken at the rename: someone else's
    // file came first, and it stays.
    if (clash) return Kept(out);
    return Fail(out, ConversionStep::kPutInPlace);
  }
  ConversionResult result;
  // The lists follow at once, before the clean-up: a run killed from here
  // on leaves the entry under the archive's new name.
  if (lists != nullptr && source_.set != nullptr) {
    lists->SetRenamed(source_.set->ListOrder(), new_name,
                      &result.unsaved_lists);
  } else if (lists != nullptr) {
    lists->Renamed(old_name, new_name, &result.unsaved_lists);
  }
  if (record != nullptr) {
    Status digest =
        Sha256OfFile(packed_, &record->new_sha256, &record->new_size);
    if (!digest.ok()) {
      left_undone_.push_back("can't read [" + source_.path +
                             "] for its checksum: " + digest.Reason());
    }
  }
  RemoveWorkFolder();
  result.line = "[" + old_name + "] -> [" + new_name + "] done!";
  out->Line(result.line);
  result.final_name = WithBackslash(source_.folder.path()) + new_name;
  result.nested_failed = nested_failed_;
  result.left_undone = left_undone_;
  result.notes = notes_;
  return result;
}

void ArchiveConversion::Discard() { RemoveWorkFolder(); }

Status ArchiveConversion::PutInPlace(const std::string& final_base,
                                     bool replace, bool* taken) {
  *taken = false;
  // The packer wrote the archive into the private work folder; it gets the
  // old archive's owner, group, bits and time there, reaches the disk, and
  // only then takes the final name.
  EntryStatus now;
  Status step = packed_.Stat(&now);
  if (step.ok()) step = KeepPermissions(&packed_, now, source_.status);
  if (!step.ok()) return step;
  // The time goes on before the name: a run that ends between putting the
  // new archive in place and cleaning up must not leave it with the wrong
  // time once the old archive, the only record of it, is gone.
  if (have_time_ && !packed_.SetTime(old_time_).ok()) {
    left_undone_.push_back("can't keep the file time of [" + source_.path +
                           "] on [" + source_.folder.path() + final_base + "]");
  }
  step = packed_.Sync();
  // Win32 renames no file that is open, and holds files by their path: it
  // lets go of the new archive for the rename and opens it again after.
  if (kIsWin32) packed_.Close();
  if (step.ok()) {
    step =
        work_.Rename(packed_name_, source_.folder, final_base, replace, taken);
  }
  if (kIsWin32 && step.ok()) source_.folder.OpenFile(final_base, &packed_);
  // The new name must be on the disk before the old archive goes: after a
  // power loss the folder then holds the new archive, or both.
  if (step.ok()) step = source_.folder.Sync();
  if (!step.ok()) return step;
  const bool same_name = kNamesIgnoreCase
                             ? EqualNoCase(final_base, source_.name)
                             : final_base == source_.name;
  // A set's other volumes go once the new archive's name is on the disk,
  // as the volume that named it does.
  if (source_.set != nullptr && !settings_.keep_original) {
    source_.set->Remove(&source_.folder, final_base, &left_undone_);
  }
  if (same_name || source_.status.read_only || settings_.keep_original) {
    return Status();
  }
  // The old name goes only while it still names the file that was
  // converted; whatever someone put there meanwhile stays.
  EntryStatus still;
  if (source_.folder.Stat(source_.name, &still).ok() &&
      still.kind == EntryStatus::Kind::kFile &&
      (still.identity == source_.status.identity ||
       !source_.status.identity.known())) {
    Status gone = source_.folder.Unlink(source_.name);
    if (!gone.ok()) {
      // Both stand complete; the old one is left for the user.
      left_undone_.push_back("can't remove old archive [" + source_.path +
                             "]: " + gone.Reason());
    }
  }
  return Status();
}

ConversionResult ArchiveConversion::Interrupted() {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kInterrupted;
  result.message = "run interrupted on [" + source_.path + "].";
  result.left_undone = left_undone_;
  return result;
}

ConversionResult ArchiveConversion::Kept(OutputSink* out) {
  // The old archive stays and the other file keeps its data, time and list
  // entry; the new archive goes with the work folder.
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kNameTaken;
  result.step = ConversionStep::kPutInPlace;
  result.line =
      "[" + source_.name + "] -> [" + NewName() + "] exists, not replaced!";
  out->Line(result.line);
  result.left_undone = left_undone_;
  return result;
}

ConversionResult ArchiveConversion::LeftWhole(OutputSink* out) {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kIncompleteSet;
  out->Note("volume set [" + source_.path + "]: " + source_.set->why());
  result.line = "[" + source_.name + "] volume set incomplete, left as it is!";
  out->Line(result.line);
  result.left_undone = left_undone_;
  return result;
}

ConversionResult ArchiveConversion::Fail(
    OutputSink* out, ConversionStep step,
    const std::vector<std::string>& details) {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kFailed;
  result.step = step;
  for (const std::string& detail : details) {
    if (detail.empty()) continue;
    if (result.detail.empty()) result.detail = detail;
    out->Line(std::string(StepName(step)) + " [" + source_.path +
              "]: " + detail);
  }
  result.message =
      std::string(StepName(step)) + " mistake on [" + source_.path + "].";
  // With StopOnError the caller stops the run with the message instead.
  if (!settings_.stop_on_error) {
    result.line = result.message + " next archive!";
    out->Line(result.line);
  }
  result.left_undone = left_undone_;
  return result;
}

}  // namespace zavo
