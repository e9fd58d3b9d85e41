// The run over many archives: starts up from the command line and the
// settings, scans the folders, hands each archive it finds to a job that
// prepares its conversion, and applies the outcomes in scan order (the
// folder lines and lists, the new archives put in place, the report, the
// exit code).
//
// With one job the archive is prepared on the calling thread, right away;
// with more, up to N jobs prepare archives on threads of their own while
// the scan goes on. Either way every archive's lines and its archivers'
// output are collected while it is prepared and shown, escaped, when its
// turn comes, so a run of N jobs prints what a run of one job prints.

#ifndef ZAVO_RUN_CONVERTER_H_
#define ZAVO_RUN_CONVERTER_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "conversion/archive_conversion.h"
#include "conversion/output_sink.h"
#include "platform/job_tokens.h"
#include "run/archiver_messages.h"
#include "run/folder_scan.h"
#include "run/job_plan.h"
#include "run/nesting_limits.h"
#include "run/run_folders.h"
#include "run/run_options.h"
#include "run/run_progress.h"
#include "run/run_report.h"
#include "run/volume_scan.h"

namespace zavo {

// The version, as the build gives it.
#ifndef ZAVO_VERSION
#define ZAVO_VERSION "0"
#endif
constexpr char kBannerTitle[] = "Orlo's archive converter v" ZAVO_VERSION;
// What --version prints.
constexpr char kVersionLine[] = "zavo " ZAVO_VERSION;

class Converter {
 public:
  // args[0] is the program's full path (its folder holds zavo.ctl); the
  // rest are the command-line parameters. Commands run through `runner`;
  // lines go to `out` (standard output) and `err` (standard error). None is
  // owned.
  Converter(std::vector<std::string> args, CommandRunner* runner,
            std::ostream& out, std::ostream& err);
  ~Converter();

  // Starts up, runs and reports: returns the process exit code. A fatal
  // stop has printed its message and "exiting..." by then.
  int Execute();

  // Execute's two parts, for tests. Start: banner, usage, options,
  // archivers, report; false on a stop (fatal_message() holds the message,
  // empty for the usage or help). Run: the scan and the work; false when
  // the run stopped (StopOnError, an interruption).
  bool Start();
  bool Run();

  // Replaces the 3-second pause after settings warnings (tests).
  void set_pause(std::function<void(int)> pause) { pause_ = std::move(pause); }
  // The folder relative masks start from; the process's current folder
  // unless set.
  void set_start_folder(const std::string& folder) { start_folder_ = folder; }
  // Whether standard error is a terminal that a status line may be drawn
  // on, and how wide it is (asked before each drawing; none: 80 columns).
  void set_terminal(bool terminal) { terminal_ = terminal; }
  void set_terminal_columns(RunProgress::Columns columns) {
    columns_ = std::move(columns);
  }

  const std::string& fatal_message() const { return fatal_message_; }
  // The options Start loaded.
  const RunOptions& options() const { return options_; }
  // Whether the run stopped because it was interrupted (InterruptionSignal);
  // the caller then ends the process as the signal would.
  bool interrupted() const { return interrupted_; }

 private:
  struct Item;

  bool Fatal(const std::string& message);
  bool LoadArchivers();
  bool OpenReport();

  // The scan's calls.
  bool ScanFile(const ScannedFolder& folder, const std::string& name);
  void ScanUnreadable(const ScannedFolder& folder, const Status& why);
  void ScanWorkFolder(const ScannedFolder& folder, const std::string& name);
  // Opens `name` in `folder` and makes its conversion when it is an archive
  // to convert; null otherwise, with *unopened (when given) set when that is
  // because it could not be opened as a plain file.
  // Its commands run through `runner`; its size goes to *size (may be
  // null).
  std::unique_ptr<ArchiveConversion> Recognise(
      const ScannedFolder& folder, const std::string& name,
      CommandRunner* runner, std::intptr_t output, std::intptr_t errors,
      std::int64_t* size = nullptr, bool* unopened = nullptr);

  // The work: items go into the plan in scan order; jobs prepare the
  // archives; the calling thread applies every item in order.
  void AddItem(std::unique_ptr<Item> item);
  // Prepares the archive of `item` (a job's work, on any thread).
  void Prepare(Item* item);
  // Whether the file system of the mask's folder has room for one more
  // archive to start besides the first waiting one: twice KeepFree free.
  bool Room() const;
  // Applies the items whose turn has come; with `wait`, waits for jobs
  // until nothing is left. Returns false once the run has stopped.
  bool ApplyReady(bool wait);
  bool Apply(Item* item);
  bool ApplyArchive(Item* item);
  // Shows what was collected for an archive, escaped.
  void ShowCollected(Item* item);
  // Applies the outcome of one archive's conversion to the run: the
  // archives made here, the failure count. Returns false on a stop.
  bool ApplyResult(const ConversionResult& result, std::int64_t size_before,
                   std::int64_t size_after);
  // Stops the jobs: what they have not begun never begins, what they are
  // preparing is stopped, what waits prepared is undone.
  void StopJobs();
  void WorkerLoop();

  std::vector<std::string> args_;
  CommandRunner* runner_;
  std::ostream& out_;
  std::ostream& err_;
  StreamSink stream_sink_;
  // Where the run's lines go: the streams, or the streams behind the
  // status line.
  OutputSink* sink_ = &stream_sink_;
  bool terminal_ = false;
  RunProgress::Columns columns_;
  std::unique_ptr<RunProgress> progress_;
  std::unique_ptr<ProgressSink> progress_sink_;
  std::unique_ptr<ProgressRunner> progress_runner_;
  std::function<void(int)> pause_;
  std::string start_folder_;
  std::string fatal_message_;
  bool help_requested_ = false;
  bool interrupted_ = false;
  int failed_archives_ = 0;

  RunOptions options_;
  std::unique_ptr<ArchiverList> archivers_;
  NestingLimits nesting_;
  RunReport report_;
  std::chrono::steady_clock::time_point started_;
  RunFolders folders_;

  // The scan's own state (the calling thread's alone): the folder of the
  // last file scanned and whether it is this run's; whether the scan must
  // end; the volume sets met.
  std::string scanned_folder_ = " ";
  bool scanned_ours_ = true;
  bool scan_stopped_ = false;
  VolumeScan volumes_;

  // The jobs. The plan, the items and `closing_` are guarded by mutex_; an
  // item's contents belong to the job that took it until the plan has it
  // done, and to the calling thread after.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<JobPlan> plan_;
  std::map<JobPlan::Id, std::unique_ptr<Item>> items_;
  bool closing_ = false;
  std::vector<std::thread> workers_;
  std::unique_ptr<JobTokens> tokens_;
  // The mask's folder, held to ask its file system for free space.
  HeldFolder space_;
};

}  // namespace zavo

#endif  // ZAVO_RUN_CONVERTER_H_
