#include "driver/converter.h"

#include <cstdint>
#include <iostream>
#include <utility>

#include "driver/archive_conversion.h"
#include "driver/folder_scan.h"
#include "driver/leftover_work_folders.h"
#include "driver/output_sink.h"
#include "driver/run_preview.h"
#include "fs/file_tree.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "platform/process.h"
#include "text/printable.h"
#include "text/text_utils.h"

namespace zavo {

Converter::Converter(std::vector<std::string> args, CommandRunner* runner,
                     std::ostream& out)
    : args_(std::move(args)),
      runner_(runner),
      stream_(out),
      out_(out),
      pause_(SleepMilliseconds),
      nesting_(options_),
      folders_(options_) {}

Converter::~Converter() = default;
bool Converter::Fatal(const std::string& message) {
  fatal_message_ = message;
  return false;
}

int Converter::Execute() {
  started_ = std::chrono::steady_clock::now();
  if (!Start()) {
    if (help_requested_) return kExitDone;
    out_.Line(fatal_message_);
    out_.Line("exiting...");
    return kExitFatal;
  }
  bool completed = Run();
  if (progress_) {
    progress_->Hide();
    if (options_.summary || progress_->live()) {
      *err_ << progress_->Summary() << '\n';
      err_->flush();
    }
  }
  if (!completed) {
    out_.Line(fatal_message_);
    out_.Line("exiting...");
    return report_.Finish(
        interrupted_ ? 128 + InterruptionSignal() : kExitFatal, started_);
  }
  return report_.Finish(failed_archives_ > 0 || folders_.left_undone()
                            ? kExitSomeFailed
                            : kExitDone,
                        started_);
}

void Converter::PrintUsage() {
  for (const std::string& line : UsageLines()) out_.Line(line);
}

bool Converter::Start() {
  if (AsksForVersion(args_)) {
    out_.Line(kVersionLine);
    help_requested_ = true;
    return false;
  }
  out_.Line("");
  out_.Line(kBannerTitle);
  out_.Line("");
  if (start_folder_.empty()) start_folder_ = GetCurrentFolder();
  options_ = RunOptions();
  OptionsResult loaded =
      LoadRunOptions(args_, start_folder_, &out_, pause_, &options_);
  switch (loaded.status) {
    case OptionsStatus::kHelp:
      PrintUsage();
      out_.Line("");
      for (const std::string& line :
           HelpDetails(WithBackslash(PathFolder(args_[0])))) {
        out_.Line(line);
      }
      help_requested_ = true;
      return false;
    case OptionsStatus::kUsage:
      if (!loaded.message.empty()) out_.Line(loaded.message);
      PrintUsage();
      return Fatal("");
    case OptionsStatus::kFatal:
      return Fatal(loaded.message);
    case OptionsStatus::kReady:
      break;
  }
  if (err_ != nullptr && !options_.dry_run) {
    progress_.reset(new RunProgress(*err_, err_is_terminal_));
    if (progress_->live()) {
      // The status line is erased for every line of the run's own and for
      // nested runs. With one job it is brought up to date after every
      // command; jobs run their commands on threads of their own, so there
      // it follows the archives as their turn comes.
      progress_sink_.reset(new ProgressSink(&out_, progress_.get()));
      sink_ = progress_sink_.get();
      if (options_.jobs == 1) {
        progress_runner_.reset(new ProgressRunner(runner_, progress_.get()));
        runner_ = progress_runner_.get();
      }
    }
  }
  if (!LoadArchivers()) return false;
  // A dry run converts nothing, so it has nothing to record, and it
  // changes no file, the report included.
  if (!options_.report_file.empty() && !options_.dry_run) {
    // Asked for a record of the run, zavo converts nothing it could not
    // record.
    std::string error;
    if (!report_.Open(options_.report_file, options_.report_parent, &error)) {
      return Fatal("can't open report file [" + options_.report_file +
                   "]: " + error);
    }
  }
  options_.nesting_depth = NestingLimits::DepthFromEnvironment();
  nesting_.Start();
  folders_.Start(sink_);
  return true;
}

bool Converter::LoadArchivers() {
  const std::string& file = options_.archivers_file;
  if (!FileExists(file)) {
    return Fatal("canot open archives file [" + file + "]");
  }
  std::string data;
  std::string why;
  if (!ReadWholeFile(file, &data, &why)) {
    // No definitions would convert nothing and call it done.
    return Fatal("can't read archives file [" + file +
                 "]: " + ErrorReason(why));
  }
  archivers_.reset(new ArchiverList(runner_));
  // The archivers file is written back normalised only where this user may
  // change it: a system-wide file read by another user stays as it is, and
  // so does a file its owner made read-only or a link.
  // A dry run changes nothing, this file included.
  const std::vector<ArchiverList::RefusedTemplate> refused =
      archivers_->AddDefinitionsFromFile(
          file, !options_.dry_run && CanReplaceFile(file));
  if (!refused.empty()) {
    for (const ArchiverList::RefusedTemplate& r : refused) {
      out_.Line("refused command [" + r.section + "/" + r.key + "] in [" +
                file + "]");
    }
    out_.Line("pause (3 seconds)...");
    if (pause_) pause_(3000);
  }
  return true;
}

bool Converter::Run() {
  std::string pattern = PathFileName(options_.file_mask);
  std::string top = WithBackslash(PathFolder(options_.file_mask));
  if (progress_ && progress_->live()) {
    ArchiveCount count = CountArchives(options_, archivers_.get());
    progress_->SetTotal(count.archives, count.bytes);
  }
  folders_.set_top(top);
  bool whole =
      options_.jobs > 1 && !options_.dry_run
          ? RunJobs(top, pattern)
          : ScanFolder(
                top, pattern, options_.recurse,
                [this](const std::string& path) { return VisitFile(path); },
                UnreadableFolderReport(),
                [this](const std::string& path) { MetWorkFolder(path); });
  // A stopped run writes back the lists too: the archives converted in the
  // folder have their new names already.
  folders_.Leave(!options_.dry_run);
  return whole;
}

std::function<void(const std::string&, const std::string&)>
Converter::UnreadableFolderReport() {
  return [this](const std::string& folder, const std::string& why) {
    if (!folders_.InShard(WithBackslash(folder) + "x")) return;
    CommitPending();
    sink_->Line("can't read folder [" + folder + "]: " + why);
    ++failed_archives_;
  };
}

void Converter::MetWorkFolder(const std::string& path) {
  // Only the run whose shard holds the folder acts on it.
  if (!folders_.InShard(path)) return;
  LeftoverReport report = zavo::MeetWorkFolder(path, options_.dry_run);
  if (report.line.empty()) return;
  CommitPending();
  sink_->Line(report.line);
  if (report.failed) ++failed_archives_;
}

bool Converter::VisitFile(const std::string& path) {
  if (InterruptionSignal() != 0) {
    interrupted_ = true;
    return Fatal("run interrupted on [" + path + "].");
  }
  if (options_.dry_run) {
    ShowConversion(options_, archivers_.get(), runner_, sink_, path);
    return true;
  }
  if (!folders_.Enter(path)) return true;
  ArchiveConversion conversion(options_, archivers_.get(), runner_, sink_,
                               path);
  if (!conversion.Recognise()) return true;
  if (folders_.MadeHere(path)) return true;
  FolderLists* lists = folders_.Lists(path);
  const std::int64_t size_before = FileByteSize(path);
  if (progress_) progress_->Begin(path, size_before);
  ReportRecord record;
  auto began = std::chrono::steady_clock::now();
  std::unique_ptr<SharedCount> own_count;
  std::string complaint =
      ReadyConversion(&conversion, path, *archivers_, &record, &own_count);
  if (!complaint.empty()) ErrorLine(complaint);
  ConversionResult result;
  if (!nesting_.LeavesAsItIs(path, sink_, &result))
    result = conversion.Run(lists);
  if (report_.is_open()) report_.WriteRecord(result, began, &record);
  return ApplyResult(result, size_before);
}

std::string Converter::ReadyConversion(
    ArchiveConversion* conversion, const std::string& path,
    const ArchiverList& archivers, ReportRecord* record,
    std::unique_ptr<SharedCount>* own_count) {
  nesting_.PrepareNestedRun(conversion, own_count);
  // With jobs, read only after the job's turn, while no result is being
  // applied.
  conversion->set_own_products(folders_.made());
  if (!report_.is_open()) return std::string();
  conversion->set_report(report_.writer(), record);
  // Before the conversion: the old archive may be gone after it.
  return report_.BeginRecord(path, archivers, record);
}

bool Converter::ApplyResult(const ConversionResult& result,
                            std::int64_t size_before) {
  // What a conversion could not clean up: the run has not done all it was
  // asked, even when the archive itself was converted.
  for (const std::string& line : result.left_undone) {
    ErrorLine(line);
  }
  // Notes (what a new archive does not keep) leave the exit code alone.
  for (const std::string& line : result.notes) ErrorLine(line);
  if (!result.left_undone.empty() && result.status == ConversionStatus::kDone) {
    ++failed_archives_;
  }
  switch (result.status) {
    case ConversionStatus::kDone:
      if (progress_) {
        progress_->Converted(size_before, FileByteSize(result.final_name));
      }
      folders_.AddMade(result.final_name);
      if (result.nested_failed) ++failed_archives_;
      folders_.ReportUnsavedLists(result.unsaved_lists);
      return true;
    case ConversionStatus::kInterrupted:
      interrupted_ = true;
      return Fatal(result.message);
    case ConversionStatus::kNameTaken:
    case ConversionStatus::kOverLimits:
      if (progress_) progress_->Left();
      ++failed_archives_;
      return true;
    case ConversionStatus::kFailed:
      if (progress_) progress_->Failed();
      if (options_.stop_on_error) return Fatal(result.message);
      ++failed_archives_;
      return true;
  }
  return true;
}

}  // namespace zavo
