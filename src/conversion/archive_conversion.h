// The conversion of one archive, step by step. In two parts: Prepare
// unpacks the archive into a private work folder beside it, converts the
// archives nested in it, deletes, scans and adds files as the settings ask,
// packs the new archive, tests and verifies it, and keeps it ready there;
// Commit puts it in the old one's place and tells the folder's lists of the
// new name. Jobs prepare archives at once and commit them in scan order.
//
// The work folder W is made private (0700) and held; the archive unpacks
// into its sub-folder x, so that no entry of the archive (a "./" of mode
// 0777, say) can open W to anyone else. With Verify, the old archive is read
// here and compared with x right after the extraction, and the new archive
// with the final x before it takes the old one's place. Everything in the tree
// is reached through held folders; archivers are handed the descriptors they
// need and run restricted (ChildSpec::restricted) with the size limit of the
// settings, and are stopped when they would leave too little free space.

#ifndef ZAVO_CONVERSION_ARCHIVE_CONVERSION_H_
#define ZAVO_CONVERSION_ARCHIVE_CONVERSION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "conversion/conversion_settings.h"
#include "conversion/output_sink.h"
#include "conversion/report_record.h"
#include "conversion/volume_set_source.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "text/sorted_text_list.h"
#include "verify/conversion_checks.h"

namespace zavo {

// The steps, in the order they run.
enum class ConversionStep {
  kNone,
  kExtract,
  kNested,
  kDelete,
  kScan,
  kAdd,
  kPack,
  kTest,
  kVerify,
  kPutInPlace,
  kLists,
};

enum class ConversionStatus {
  kDone,         // the new archive stands in the old one's place
  kFailed,       // a step failed; the old archive is untouched
  kNameTaken,    // the new name is taken and may not be replaced; nothing
                 // changed
  kInterrupted,  // the run was interrupted; the old archive is untouched
  kOverLimits,   // the nesting limits leave it as it is; nothing changed
  // A volume set that cannot be read whole is left whole.
  kIncompleteSet,
};

struct ConversionResult {
  ConversionStatus status = ConversionStatus::kDone;
  // The step that failed (kFailed, kNameTaken); kNone otherwise.
  ConversionStep step = ConversionStep::kNone;
  // For kFailed: "<step> mistake on [<archive>]."; for kInterrupted: "run
  // interrupted on [<archive>]."
  std::string message;
  // For a failed step: what failed ("[a/b.txt] differs in its bytes"),
  // the first of what is printed on lines of their own before the message.
  std::string detail;
  // For kDone: the path of the new archive.
  std::string final_name;
  // The line printed for the archive; empty for a failure under
  // StopOnError, whose message the caller prints.
  std::string line;
  // For kDone: the nested run ended 1, so some archive inside was left as it
  // was (it said which).
  bool nested_failed = false;
  // For kDone: the list files that could not be written back.
  std::vector<std::string> unsaved_lists;
  // What the conversion could not clean up, a line each: an old archive
  // that stays beside the new one, a work folder that stays. The run then
  // ends 1.
  std::vector<std::string> left_undone;
  // Lines for standard error that leave the exit code as it is: what the
  // new archive does not keep of the old one (Verify).
  std::vector<std::string> notes;
};

// What a step is called in the failure message ("extraction").
const char* StepName(ConversionStep step);

// What a failed step is called in the report's "step" field: the failure
// message's word where there is one ("extraction", "packing", "testing",
// "replacing"), else the step's plain name ("nested", "delete", "scan",
// "add", "lists").
const char* ReportStepName(ConversionStep step);

// The archive as the scan found it: its folder and the file itself, held.
struct ArchiveSource {
  HeldFolder folder;       // the archive's folder, a hold of its own
  HeldFile file;           // the archive, opened without following a link
  EntryStatus status;      // the open file's status: a regular file
  std::string name;        // its name in the folder
  std::string path;        // folder path and name, for messages
  std::int32_t kind = -1;  // the definition that recognised it
  // A volume set: every volume, held (the file above is the volume that
  // names the set, or the one the scan met when that one is missing); null
  // for a single archive.
  std::unique_ptr<VolumeSetSource> set;
};

// What a nested run on an archive's unpacked files came to.
struct NestedOutcome {
  ProcessResult process;  // exit 0: all done; 1: some archive left as it
                          // was; anything else: the run failed
  // The archives it recognised, and of those failed and converted; -1 when
  // not known.
  int archives = -1;
  int failed = -1;
  int converted = -1;
};

// Runs the converter on an archive's unpacked files: the run's own business
// (its switches, depth, budget and report), which the conversion only
// starts and reads the outcome of.
class NestedRunner {
 public:
  virtual ~NestedRunner() = default;
  // Converts the archives in `unpacked` (held; shown in messages as
  // `shown`, which ends in a separator) for the archive at `archive`. `launch`
  // holds what the child gets from the conversion (its output); the runner
  // adds the rest.
  virtual NestedOutcome Run(const HeldFolder& unpacked,
                            const std::string& shown,
                            const std::string& archive, ChildSpec launch) = 0;
};

// Tells the lists of the archive's folder that it has a new name; called
// right after the new archive took its name, before anything is cleaned up,
// so that a run killed from then on leaves the entry renamed.
class ListKeeper {
 public:
  virtual ~ListKeeper() = default;
  // Renames the entry and writes the lists back; the paths of those that
  // could not be written go to *unsaved.
  virtual void Renamed(const std::string& old_name, const std::string& new_name,
                       std::vector<std::string>* unsaved) = 0;
  // The same for a volume set converted into `new_name`: `volumes` names
  // the volume that named the set first, then the others, whose entries
  // go into its one.
  virtual void SetRenamed(const std::vector<std::string>& volumes,
                          const std::string& new_name,
                          std::vector<std::string>* unsaved) {
    Renamed(volumes.front(), new_name, unsaved);
  }
};

class ArchiveConversion {
 public:
  // Converts the archive `source` (whose `kind` is a definition of
  // `archivers` other than the target). The settings, list and runner are
  // not owned and must outlive this object; the list is only read, and
  // several conversions may use all three at once. Children write to
  // `child_output` and `child_errors` (handles, -1 for this process's own).
  ArchiveConversion(const ConversionSettings& settings,
                    const ArchiverList& archivers, CommandRunner* runner,
                    ArchiveSource source, std::intptr_t child_output,
                    std::intptr_t child_errors);
  ~ArchiveConversion();
  ArchiveConversion(const ArchiveConversion&) = delete;
  ArchiveConversion& operator=(const ArchiveConversion&) = delete;

  // The archive's path, the name of the section that recognised it, and the
  // name (without folder) the new archive takes.
  const std::string& path() const { return source_.path; }
  const std::string& KindName() const;
  std::string NewName() const;
  // The volume set converted as this archive; null for a single archive.
  const VolumeSetSource* volume_set() const { return source_.set.get(); }
  // What stands under the new archive's name in the archive's folder, read
  // from the folder now.
  enum class Taken {
    kFree,
    kReplaceable,  // a file KillExist may replace: of the old archive's
                   // owner, writable, not one of `own_products`
    kKept,         // a file that stays: KillExist is off, or it is another
                   // owner's or this run's own, or the old archive itself
                   // while it is kept (keep_original)
    kBlocked,      // KillExist, but a folder or a read-only file is there:
                   // the replacing step fails
  };
  Taken NameTaken(const SortedTextList* own_products) const;

  // Runs every step up to a new archive that is packed, tested and
  // verified, with the conversion's lines in `out`, and fills what it
  // learns into *record (may be null). True when the new archive stands
  // ready in the work folder for Commit (or Discard). Otherwise *result
  // says why (a failed step, an interruption) and everything is cleaned
  // up; the old archive is untouched. `nested` (may be null) runs the
  // nested conversions when the settings ask for them.
  bool Prepare(OutputSink* out, NestedRunner* nested, ReportRecord* record,
               ConversionResult* result);

  // Puts the prepared archive in the old one's place (beside it, with
  // keep_original: the old one then stays as it was): prints "done!" or
  // "exists, not replaced!" (the name is taken and may not be replaced:
  // see NameTaken), or reports a failed replacing step. `lists` (may be
  // null) are told of the new name at once; the work folder goes
  // afterwards whatever happened. *record gets the new archive's checksum
  // and size.
  ConversionResult Commit(OutputSink* out, ListKeeper* lists,
                          const SortedTextList* own_products,
                          ReportRecord* record);

  // Gives up a prepared archive: its work folder goes; the old archive
  // stays as it was.
  void Discard();

  // Fills the old archive's checksum and size into *record, from the file
  // that was opened. Returns a line for standard error when it cannot be
  // read, else empty.
  std::string DigestOld(ReportRecord* record) const;

 private:
  // The one place a failed step is reported. Each of `details` goes on a
  // line of its own before the step's line.
  ConversionResult Fail(OutputSink* out, ConversionStep step,
                        const std::vector<std::string>& details);
  ConversionResult Fail(OutputSink* out, ConversionStep step,
                        const std::string& detail = "") {
    return Fail(out, step, std::vector<std::string>{detail});
  }
  ConversionResult Interrupted();
  // The new name is taken by a file that stays: "exists, not replaced!".
  ConversionResult Kept(OutputSink* out);
  // Whether the entry `name`, found as `status`, is the old archive itself.
  bool IsOriginal(const std::string& name, const EntryStatus& status) const;
  // A volume set that cannot be read whole: "volume set incomplete, left as
  // it is!", and why on standard error.
  ConversionResult LeftWhole(OutputSink* out);
  // Makes a new private folder in `parent`, named as a work folder when
  // `name` is empty, and holds it.
  Status MakePrivateFolder(const HeldFolder& parent, HeldFolder* folder,
                           std::string* name);
  // Removes a folder made by MakePrivateFolder with all it holds. Fails when
  // it is still there afterwards.
  Status RemovePrivateFolder(HeldFolder* parent, HeldFolder* folder,
                             const std::string& name);
  // Removes the work folder; one that stays is noted in left_undone_.
  void RemoveWorkFolder();
  // The launch settings archivers start from: in `folder`, handed the work
  // folders, output collected, restricted and limited, watched for free space.
  ChildSpec ArchiverSpec(const HeldFolder& folder);
  // Runs the extractor on the archive, which it reads through a link in the
  // private folder s; the link stays for the list template until
  // LetGoOfSource.
  Status Extract(std::string* detail);
  // Removes s and closes the archive: nothing reads it any more (and Win32
  // removes no file that is open).
  void LetGoOfSource();
  Status CheckUnpacked(ReportRecord* record);
  // Verify, the extraction check: the old archive, read here, against what
  // its extractor left in x, before anything in x changes on purpose. What
  // was lost, a text each; empty when nothing was, or Verify is off.
  std::vector<std::string> CheckExtraction(ReportRecord* record);
  // Runs the kind's list template on the old archive into a file of the
  // work folder and opens it in *listing.
  Status ListOldArchive(HeldFile* listing);
  Status RunNested(OutputSink* out, NestedRunner* nested, ReportRecord* record);
  // Deletes the files the DeleteFile masks match. Fails, naming the file,
  // when a matched file stays: it would go into the new archive.
  Status DeleteUnwantedFiles();
  // Fails when a scan command could not be built (its template refused,
  // or its expansion cut or unsafe), could not start or was killed: the
  // archive would go on unscanned.
  Status RunScanners(OutputSink* out);
  // Fails when a file that an AddFile mask matches cannot be copied in.
  Status AddFiles();
  Status CopyIn(const HeldFile& source, const EntryStatus& status,
                const std::string& name);
  Status Pack(std::string* detail);
  Status Test(ReportRecord* record);
  // Verify, the packing check: the new archive against the final x, read
  // here where a reader knows its kind, else unpacked with the target's
  // extractor into a private folder beside x; then what it does not keep
  // (a note, or with Fidelity exact a loss). What was lost, a text each.
  std::vector<std::string> Verify(ReportRecord* record);
  // The new archive unpacked into the private folder v of the work folder
  // and compared with x.
  std::vector<std::string> CheckUnpackedArchive(ReportRecord* record);
  // Moves the new archive from x into W and removes x: a prepared archive
  // waiting for its turn holds its new archive alone.
  Status Park();
  // Publishes the packed archive under its final name and removes the old
  // one. *taken is set when the name was found taken at the moment of the
  // rename and may not be replaced.
  Status PutInPlace(const std::string& final_base, bool replace, bool* taken);

  const ConversionSettings& settings_;
  const ArchiverList& archivers_;
  CommandRunner* runner_;
  ArchiveSource source_;
  std::intptr_t child_output_;
  std::intptr_t child_errors_;
  // The work folder W in the archive's folder, and x inside it.
  HeldFolder work_;
  std::string work_name_;
  HeldFolder unpacked_;
  // s, holding the link the extractor reads the archive by, while it is
  // there.
  HeldFolder links_;
  // The new archive's name in x (in W once parked), and the file, held
  // once packed.
  std::string packed_name_;
  HeldFile packed_;
  FileTime old_time_;
  bool have_time_ = false;
  bool nested_failed_ = false;
  // See ConversionResult::left_undone and notes.
  std::vector<std::string> left_undone_;
  std::vector<std::string> notes_;
  // Verify: the checks, and what they keep between the extraction and the
  // packing.
  ConversionChecks checks_;
  // The changes made on purpose, for the report.
  int deleted_ = 0;
  int added_ = 0;
};

}  // namespace zavo

#endif  // ZAVO_CONVERSION_ARCHIVE_CONVERSION_H_
