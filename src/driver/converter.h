// The converter: starts up from the command line and the settings, scans
// the folders and hands each archive it finds to its conversion.

#ifndef ZAVO_DRIVER_CONVERTER_H_
#define ZAVO_DRIVER_CONVERTER_H_

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "archivers/archiver_list.h"
#include "archivers/command_runner.h"
#include "driver/archive_conversion.h"
#include "driver/nesting_limits.h"
#include "driver/output_sink.h"
#include "driver/run_folders.h"
#include "driver/run_options.h"
#include "driver/run_progress.h"
#include "driver/run_report.h"
#include "platform/process.h"

namespace zavo {

class ArchiveConversion;

constexpr char kBannerTitle[] = "Orlo's archive converter v0.2";
// What --version prints.
constexpr char kVersionLine[] = "zavo 0.2";

class Converter {
 public:
  // args[0] is the program's full path (its folder holds zavo.ctl); the
  // rest are the command-line parameters. Commands run through `runner`;
  // every message goes to `out`. Neither is owned.
  Converter(std::vector<std::string> args, CommandRunner* runner,
            std::ostream& out);
  virtual ~Converter();

  // Starts up, runs and reports: returns the process exit code. A fatal
  // stop has printed its message and "exiting..." by then.
  int Execute();

  // Start-up: banner, usage, options and archivers. Returns false on a stop;
  // help_requested() tells the usage asked for from a fatal stop, whose
  // message fatal_message() then holds (empty for the usage stop).
  bool Start();

  // The folder scan. Returns false when a conversion stopped the run
  // (StopOnError); fatal_message() then holds the message.
  bool Run();

  // Replaces the 3-second pause after settings warnings (tests).
  void set_pause(std::function<void(int)> pause) { pause_ = std::move(pause); }
  // The folder the conversion calls "current" for relative AddFile masks;
  // the process's current folder unless set.
  void set_start_folder(const std::string& folder) { start_folder_ = folder; }
  // Where the status line and the summary go (not owned); `terminal` tells
  // whether it is a terminal that a status line may be drawn on. Without
  // it the run shows neither.
  void set_status_stream(std::ostream* err, bool terminal) {
    err_ = err;
    err_is_terminal_ = terminal;
  }

  const std::string& fatal_message() const { return fatal_message_; }
  bool help_requested() const { return help_requested_; }
  // The options Start loaded.
  const RunOptions& options() const { return options_; }
  // Whether the run stopped because it was interrupted (InterruptionSignal);
  // the caller then ends the process as the signal would.
  bool interrupted() const { return interrupted_; }

 private:
  void PrintUsage();
  bool Fatal(const std::string& message);
  bool LoadArchivers();
  // Converts the file at `path` when it is an archive of a known kind that
  // is not the target kind. Returns false only on a stop (StopOnError).
  bool VisitFile(const std::string& path);

  // With more than one job (converter_jobs.cc): the scan hands archives to
  // jobs that convert them at once, and their outcomes are shown and
  // applied in scan order. Returns false on a stop, as the scan does.
  struct Jobs;
  struct JobItem;
  struct JobsDeleter {
    void operator()(Jobs* jobs) const;
  };
  bool RunJobs(const std::string& top, const std::string& pattern);
  bool DispatchFile(const std::string& path);
  // Shows and applies every pending item, so that a line of the scan's own
  // keeps its place; on a stop the scan ends at its next file.
  void CommitPending();
  // Shows and applies the oldest pending item, waiting for its job to end.
  bool CommitFront();
  // Names a folder (of this run's shard) that the scan cannot read: it may
  // hold archives, so the run has not done all it was asked and ends 1.
  std::function<void(const std::string&, const std::string&)>
  UnreadableFolderReport();
  bool CommitJob(JobItem* item);
  void WorkerLoop();
  void RunJob(JobItem* item);
  // Stops every job still running and waits for them; their output and
  // work go.
  void StopJobs();
  // Readies the conversion of the archive at `path` that `archivers`
  // recognised: its nested run (a count made for it goes to *own_count, as
  // NestingLimits::PrepareNestedRun says), the archives it may not replace
  // and, with a report, the first fields of *record. Returns a line for
  // standard error, or empty. Jobs call it from their threads, several at
  // once.
  std::string ReadyConversion(ArchiveConversion* conversion,
                              const std::string& path,
                              const ArchiverList& archivers,
                              ReportRecord* record,
                              std::unique_ptr<SharedCount>* own_count);
  // Applies the outcome of one archive's conversion to the run: the lists,
  // the archives made here, the failure count. Returns false on a stop.
  // `size_before` is the old archive's size, for the summary.
  bool ApplyResult(const ConversionResult& result, std::int64_t size_before);
  // A folder named like a work folder that the scan passed over.
  void MetWorkFolder(const std::string& path);

  std::vector<std::string> args_;
  CommandRunner* runner_;
  std::ostream& stream_;
  StreamSink out_;
  // Where the run's lines go: out_, or out_ behind the status line.
  OutputSink* sink_ = &out_;
  std::ostream* err_ = nullptr;
  bool err_is_terminal_ = false;
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
  // The folders: shards, locks, lists and the archives made.
  RunFolders folders_;
  std::unique_ptr<Jobs, JobsDeleter> jobs_;
  // With jobs: a stop met while pending items were shown and applied; the
  // scan ends at its next file.
  bool scan_stopped_ = false;
};

}  // namespace zavo

#endif  // ZAVO_DRIVER_CONVERTER_H_
