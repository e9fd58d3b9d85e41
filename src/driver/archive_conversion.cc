#include "driver/archive_conversion.h"

#include <utility>
#include <vector>

#include "archivers/archiver_definition.h"
#include "fs/file_tree.h"
#include "fs/tree_compare.h"
#include "fs/work_names.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Whether every folder of `relative` below `top` is a real folder: no link
// and no ".." may lead a mask of the settings out of the work folder.
bool StaysInside(const std::string& top, const std::string& relative) {
  std::string path = NoTrailingBackslash(top);
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t end = relative.find(kPathSeparator, start);
    if (end == std::string::npos) break;  // the last part is the mask
    std::string part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == ".." || (kHasDrives && part.find(':') != std::string::npos)) {
      return false;
    }
    path += kPathSeparator;
    path += part;
    FileAttributes a;
    if (!GetFileAttributes(path, &a) || (a.bits & kAttrFolder) == 0) {
      return false;
    }
  }
  return relative.empty() || relative[0] != kPathSeparator;
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
  std::string archive_folder = WithBackslash(PathFolder(candidate_));
  FileTime old_time;
  bool have_time = options_.keep_time && GetFileTime(candidate_, &old_time);
  work_folder_ = archive_folder + WorkFolderName(archive_folder);

  if (archivers_->Extract(work_folder_) != 0) {
    return Fail(ConversionStep::kExtract);
  }
  if (record_ != nullptr) CountUnpacked(work_folder_, record_);

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
    argv.push_back(work_folder_ + "*.*");
    // The nested run reports its own archives; whatever it left unconverted
    // goes into the new archive as it is, and this run does not end as if
    // all was done.
    nested_left_undone_ = runner_->RunProgram(argv, std::string()) != 0;
    if (report_ != nullptr && record_ != nullptr) {
      record_->nested_run = true;
      report_->FindNestedTotals(mark, candidate_, &record_->nested_count,
                                &record_->nested_failed);
    }
  }
  DeleteUnwantedFiles();
  if (!RunScanners()) return Fail(ConversionStep::kScan);
  if (!AddFiles()) return Fail(ConversionStep::kAdd);

  if (archivers_->Pack(work_folder_) != 0) return Fail(ConversionStep::kPack);
  std::string packed = archivers_->archive_name();
  archivers_->SetArchiveName(packed);
  unsigned char tested = archivers_->Test();
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
  std::string difference;
  if (options_.verify && !Verify(packed, &difference)) {
    return Fail(ConversionStep::kVerify, difference);
  }
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
  bool taken = FileExists(final_name) || FolderExists(final_name);
  if (taken && !options_.kill_exist) {
    // The old archive stays and the other file keeps its data, time and
    // list entry; the new archive goes with the work folder.
    RemoveWorkFolder();
    ConversionResult result;
    result.status = ConversionStatus::kNameTaken;
    result.step = ConversionStep::kPutInPlace;
    result.line =
        "[" + old_name + "] -> [" + new_name + "] exists, not replaced!";
    out_->Line(result.line);
    return result;
  }
  // The time goes on before the name: a run that ends between putting the
  // new archive in place and cleaning up must not leave it with the wrong
  // time once the old archive, the only record of it, is gone.
  // TODO: a time that cannot be set deserves a warning line.
  if (have_time) SetFileTime(packed, old_time);
  if (!PutInPlace(packed, final_name)) return Fail(ConversionStep::kPutInPlace);
  RemoveWorkFolder();

  if (lists != nullptr) lists->RenameEntry(old_name, new_name);
  ConversionResult result;
  result.final_name = final_name;
  result.nested_left_undone = nested_left_undone_;
  result.line = "[" + old_name + "] -> [" + new_name + "] done!";
  out_->Line(result.line);
  return result;
}

bool ArchiveConversion::Verify(const std::string& packed,
                               std::string* difference) {
  std::string archive_folder = WithBackslash(PathFolder(candidate_));
  HeldFolder parent, held;
  std::string name;
  if (HeldFolder::Open(archive_folder, &parent)) {
    // A name drawn free may be taken the moment after; made exclusively
    // and private, the folder is ours alone or not made at all.
    for (int tries = 0; tries < 100; ++tries) {
      bool exists = false;
      std::string drawn = NoTrailingBackslash(WorkFolderName(archive_folder));
      if (parent.NewFolder(drawn, 0700, &held, &exists)) {
        name = drawn;
        break;
      }
      if (!exists) break;
    }
  }
  if (name.empty()) {
    *difference =
        "no folder to unpack the new archive into: " + LastHandleError();
    return false;
  }
  ArchiverDefinition& target = archivers_->definition(0);
  target.SetArchiveName(packed);
  unsigned char extracted = target.Extract(archive_folder + name, runner_);
  bool same = false;
  if (extracted != 0) {
    *difference =
        "the new archive does not unpack (result " + IntToText(extracted) + ")";
  } else {
    same = CompareTrees(work_folder_, archive_folder + name,
                        PathFileName(packed), difference);
  }
  held.Close();
  parent.RemoveTree(name);
  return same;
}

ConversionResult ArchiveConversion::Fail(ConversionStep step,
                                         const std::string& detail) {
  RemoveWorkFolder();
  ConversionResult result;
  result.status = ConversionStatus::kFailed;
  result.step = step;
  result.detail = detail;
  if (!detail.empty()) {
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
  return result;
}

void ArchiveConversion::RemoveWorkFolder() {
  // TODO: a work folder that cannot be removed deserves a warning line;
  // until then the next run's scan passes over it by its name.
  RemoveTree(NoTrailingBackslash(work_folder_), true);
}

void ArchiveConversion::DeleteUnwantedFiles() {
  for (const std::string& mask : options_.delete_masks) {
    if (!StaysInside(work_folder_, mask)) continue;
    std::string sub = WithBackslash(PathFolder(mask));
    std::vector<std::string> names;
    MatchingFiles(work_folder_ + mask, &names);
    for (const std::string& name : names) {
      // TODO: a file that cannot be deleted goes into the new archive
      // unnoticed; it deserves a warning line.
      RemoveFile(work_folder_ + sub + name);
    }
  }
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
      if (!CopyFileTo(source_folder + name, work_folder_ + name, false)) {
        return false;
      }
    }
  }
  return true;
}

bool ArchiveConversion::PutInPlace(const std::string& packed,
                                   const std::string& final_name) {
  // The new archive stands complete under its final name before the old one
  // goes: a rename over the old name, or a move and then the removal.
  if (!MoveFileTo(packed, final_name)) return false;
  // TODO: an old archive that cannot be removed stays beside the new one;
  // it deserves a warning line.
  if (!SamePath(candidate_, final_name)) RemoveFile(candidate_);
  return true;
}

}  // namespace zavo
