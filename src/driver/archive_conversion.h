// The conversion of one archive, step by step: extract it into a work
// folder beside it, convert the archives nested in it, delete, scan and add
// files as the settings ask, pack the new archive, test it, put it in the
// old one's place and tell the folder's lists of the new name.

#ifndef ZAVO_DRIVER_ARCHIVE_CONVERSION_H_
#define ZAVO_DRIVER_ARCHIVE_CONVERSION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "driver/folder_lists.h"
#include "driver/output_sink.h"
#include "driver/report.h"
#include "driver/run_options.h"
#include "driver/sorted_text_list.h"
#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "platform/process.h"
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
};

struct ConversionResult {
  ConversionStatus status = ConversionStatus::kDone;
  // The step that failed (kFailed, kNameTaken); kNone otherwise.
  ConversionStep step = ConversionStep::kNone;
  // For kFailed: "<step> mistake on [<archive>]."; for kInterrupted: "run
  // interrupted on [<archive>]."
  std::string message;
  // For a failed verification: what differs ("[a/b.txt] differs in its
  // bytes"), the first of what is printed on lines of their own before
  // the message.
  std::string detail;
  // For kDone: the path of the new archive.
  std::string final_name;
  // For kDone: the nested run (its own lines name what) left some archive
  // inside unconverted or stopped.
  bool nested_left_undone = false;
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

class ArchiveConversion {
 public:
  // Converts the file at `candidate`. None of the pointers is owned; all
  // must outlive this object. `archivers` is used for this conversion alone
  // while it runs; `out` receives the conversion's lines.
  ArchiveConversion(const RunOptions& options, ArchiverList* archivers,
                    CommandRunner* runner, OutputSink* out,
                    std::string candidate);

  // What the nested run gets: `environment` ("NAME=value" texts) and the
  // count of nested conversions (not owned; may be null).
  void set_nested_run(std::vector<std::string> environment,
                      const SharedCount* count) {
    nested_environment_ = std::move(environment);
    nested_count_ = count;
  }
  // The archives this run has made (as ListText gives their paths): a file
  // among them is never replaced, KillExist or not. Not owned; may be null.
  void set_own_products(const SortedTextList* products) {
    own_products_ = products;
  }

  // Whether the candidate is an archive of a known kind other than the
  // target kind. Must come first; Run converts only what it recognised.
  bool Recognise();

  // Makes Run fill in what only it sees of the conversion (what was
  // unpacked, whether the new archive was tested, the nested run's totals)
  // into *record, and pass `report` down to the nested run. Neither is
  // owned; both must outlive Run.
  void set_report(ReportWriter* report, ReportRecord* record) {
    report_ = report;
    record_ = record;
  }

  // After Recognise: the name of the archivers-file section that recognised
  // the candidate, and the file name (without folder) the new archive would
  // take.
  const std::string& KindName() const;
  std::string NewName() const;

  // Makes Run call `turn` once the new archive is packed and tested, before
  // its name is checked and it is put in place; when `turn` returns false
  // the conversion ends there as a failed replacing step, with the work
  // folder removed and the old archive untouched. Jobs that run at once
  // wait here for the archives before theirs.
  void set_turn(std::function<bool()> turn) { turn_ = std::move(turn); }

  // Runs the steps and reports the outcome: prints "done!" or "exists, not
  // replaced!", and for a failed step "<message> next archive!" unless
  // StopOnError is on (the caller then stops with the message). The work
  // folder is gone afterwards whatever happened. `lists` (may be null) are
  // the lists of the archive's folder, loaded; they are written back as soon
  // as the new archive has its name. After an interruption (see
  // InterruptionSignal) no further step runs and the old archive stays.
  ConversionResult Run(FolderLists* lists);

 private:
  // The one place a failed step is reported. Each of `details` goes on a
  // line of its own before the step's line.
  ConversionResult Fail(ConversionStep step,
                        const std::vector<std::string>& details = {});
  ConversionResult Fail(ConversionStep step, const std::string& detail) {
    return Fail(step, std::vector<std::string>{detail});
  }
  // Verify, the extraction check: the old archive, still open in `archive`,
  // against what its extractor left in the work folder, before anything in
  // it changes on purpose. `source` is the name the extractor was given,
  // for a list template. What was lost; empty when nothing was, or Verify
  // is off.
  std::vector<std::string> CheckExtraction(HeldFile* archive,
                                           const std::string& source);
  // Runs the kind's list template on `source` into the link folder and
  // opens what it printed.
  bool ListOldArchive(const std::string& source, HeldFile* listing,
                      std::string* why);
  // Verify, the packing check: the new archive `packed` (a name in the work
  // folder) against the final work folder, and then what it does not keep
  // (a note, or with Fidelity exact a loss). True when nothing was lost;
  // otherwise false with *lost saying what.
  bool Verify(const std::string& packed, std::vector<std::string>* lost);
  // Where no reader here knows the target kind: unpacks the new archive
  // with the target's extract template into a private folder inside the
  // work folder, held, and compares that; the folder is gone afterwards.
  CheckOutcome CheckUnpackedArchive(const std::string& packed);
  ConversionResult Interrupted();
  // Deletes the files the DeleteFile masks match. False, with *failure
  // saying which file and why, when a matched file stays: it would go
  // into the new archive.
  bool DeleteUnwantedFiles(std::string* failure);
  // False when a scan command could not be built (its template refused, or
  // its expansion cut or unsafe), could not start or was killed: the archive
  // would go on unscanned.
  bool RunScanners();
  // False when a file that an AddFile mask matches cannot be copied in.
  // Counts the files copied in into added_.
  bool AddFiles();
  // Holds the archive's folder and opens the archive in it: the file that
  // was listed, a regular file reached without following any link.
  bool OpenArchive(HeldFile* archive);
  // Makes a new private folder in `parent`, named as a work folder, and
  // holds it.
  bool MakeHeldFolder(const HeldFolder& parent, HeldFolder* folder,
                      std::string* name);
  // The name the extractor is given for `archive`: on POSIX a link named as
  // the archive, in a private folder, to the open file, so that an archiver
  // that reads the name's extension still sees it; the path on Win32.
  bool ExtractorSource(HeldFile* archive, std::string* source);
  // Removes a folder made by MakeHeldFolder with all it holds. False when
  // it is still there afterwards.
  bool RemovePrivateFolder(HeldFolder* parent, HeldFolder* folder,
                           const std::string& name);
  // Copies the file at `source` into the work folder as `name`; false when
  // it could not be copied. A folder or read-only file of that name stays.
  bool CopyIntoWorkFolder(const std::string& source, const std::string& name);
  // Publishes the packed archive under `final_name` (a name in the archive's
  // folder) and removes the old one. *taken is set when the name was found
  // taken at the moment of the rename and `replace` was off.
  bool PutInPlace(const std::string& packed, const std::string& final_name,
                  bool replace, const FileTime* time, bool* taken);
  // Removes the work folder; one that stays is noted in left_undone_.
  void RemoveWorkFolder();
  ConversionResult NameTaken(const std::string& old_name,
                             const std::string& new_name);

  const RunOptions& options_;
  ArchiverList* archivers_;
  CommandRunner* runner_;
  OutputSink* out_;
  std::string candidate_;
  std::int32_t kind_ = -1;  // the recognising definition, from Recognise
  // The folders of the conversion, held from the moment the work folder is
  // made: everything in them is done relative to these.
  HeldFolder folder_;
  HeldFolder work_;
  std::string work_name_;
  HeldFolder link_folder_;
  std::string link_folder_name_;
  // The archive as it was opened for the extraction.
  EntryStatus listed_;
  // See ConversionResult::left_undone.
  std::vector<std::string> left_undone_;
  // What the archivers are told the work folder is (ends in a separator):
  // on POSIX a path through the held descriptor.
  std::string work_folder_;
  bool nested_left_undone_ = false;
  ReportWriter* report_ = nullptr;
  ReportRecord* record_ = nullptr;
  std::function<bool()> turn_;
  std::vector<std::string> nested_environment_;
  const SharedCount* nested_count_ = nullptr;
  const SortedTextList* own_products_ = nullptr;
  // Verify: the checks, and what they keep between the extraction and the
  // packing.
  ConversionChecks checks_;
  // The changes made on purpose, for the report.
  int deleted_ = 0;
  int added_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace zavo

#endif  // ZAVO_DRIVER_ARCHIVE_CONVERSION_H_
