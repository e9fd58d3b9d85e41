#include "run/converter.h"

#include <cstdint>
#include <utility>

#include "fs/file_tree.h"
#include "platform/capture_file.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "platform/process.h"
#include "run/leftover_work_folders.h"
#include "run/run_preview.h"
#include "run/target_kind.h"
#include "text/printable.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// How many prepared archives may wait for their turn besides the ones the
// jobs are preparing. Each holds its new archive alone on the disk (its
// unpacked files are gone once it is parked) and a few descriptors until
// it is applied; another archive starts only while the file system keeps
// twice KeepFree free, so that its extraction is not stopped for the room
// the waiting ones take.
constexpr int kParkedMost = 64;

// A conversion's lines go to its scratch files, where its archivers' output
// goes too, so the two keep their order. Escaped as the console's lines
// are, so that a name cannot forge a line of its own in what is collected.
class CaptureSink : public OutputSink {
 public:
  CaptureSink(CaptureFile* output, CaptureFile* errors)
      : output_(output), errors_(errors) {}
  void Line(const std::string& text) override {
    output_->Append(PrintableName(text) + '\n');
  }
  void Note(const std::string& text) override {
    errors_->Append(PrintableName(text) + '\n');
  }

 private:
  CaptureFile* output_;
  CaptureFile* errors_;
};

// Holds a part's lines until its outcome decides which of them are shown.
class LineBuffer : public OutputSink {
 public:
  void Line(const std::string& text) override { held_.push_back({true, text}); }
  void Note(const std::string& text) override {
    held_.push_back({false, text});
  }
  // Passes the lines on to `sink`, but for the standard-output line
  // `skipped` (none when empty).
  void Replay(OutputSink* sink, const std::string& skipped) {
    for (const auto& held : held_) {
      if (!held.first) {
        sink->Note(held.second);
      } else if (skipped.empty() || held.second != skipped) {
        sink->Line(held.second);
      }
    }
    held_.clear();
  }

 private:
  std::vector<std::pair<bool, std::string>> held_;  // standard output?, text
};

}  // namespace

// One entry of the plan: the first file of a folder, a line of the scan's
// own, or an archive.
struct Converter::Item {
  // A folder: held, its path, its lock and whether it is this run's.
  bool folder = false;
  HeldFolder held;
  std::string path;
  std::unique_ptr<FolderLock> lock;
  bool ours = true;
  // A line of the scan's own, applied in its turn.
  std::function<void()> action;
  // An archive.
  std::unique_ptr<ArchiveConversion> conversion;
  std::unique_ptr<CaptureFile> output;
  std::unique_ptr<CaptureFile> errors;
  // Runs the archive's commands, noting whose output is whose.
  std::unique_ptr<SegmentRunner> segments;
  // Prepare's outcome: ready to go in place, or `result`.
  bool ready = false;
  ConversionResult result;
  ReportRecord record;
  std::chrono::steady_clock::time_point began;
  std::int64_t size_before = -1;
};

Converter::Converter(std::vector<std::string> args, CommandRunner* runner,
                     std::ostream& out, std::ostream& err)
    : args_(std::move(args)),
      runner_(runner),
      out_(out),
      err_(err),
      stream_sink_(out, err),
      pause_(SleepMilliseconds),
      nesting_(options_),
      folders_(options_) {}

Converter::~Converter() {
  if (!workers_.empty()) StopJobs();
}

bool Converter::Fatal(const std::string& message) {
  fatal_message_ = message;
  return false;
}

int Converter::Execute() {
  started_ = std::chrono::steady_clock::now();
  if (!Start()) {
    if (help_requested_) return kExitDone;
    stream_sink_.Line(fatal_message_);
    stream_sink_.Line("exiting...");
    return kExitFatal;
  }
  bool completed = Run();
  if (progress_) {
    progress_->Hide();
    if (options_.summary || progress_->live()) {
      stream_sink_.Note(progress_->Summary());
      if (nesting_.tally() != nullptr) {
        stream_sink_.Note(NestedSummary(nesting_.tally()->Counts()));
      }
    }
  }
  if (!completed) {
    stream_sink_.Line(fatal_message_);
    stream_sink_.Line("exiting...");
    return report_.Finish(
        interrupted_ ? 128 + InterruptionSignal() : kExitFatal, started_,
        &stream_sink_, nesting_.tally());
  }
  return report_.Finish(failed_archives_ > 0 || folders_.left_undone()
                            ? kExitSomeFailed
                            : kExitDone,
                        started_, &stream_sink_, nesting_.tally());
}

bool Converter::Start() {
  if (AsksForVersion(args_)) {
    stream_sink_.Line(kVersionLine);
    help_requested_ = true;
    return false;
  }
  // A nested run's banner would only repeat its parent's, which the top run
  // printed once; a quiet run prints none.
  const int depth = NestingLimits::DepthFromEnvironment();
  if (depth == 0 && !AsksForQuiet(args_)) {
    stream_sink_.Line("");
    stream_sink_.Line(kBannerTitle);
    stream_sink_.Line("");
  }
  if (start_folder_.empty()) start_folder_ = GetCurrentFolder();
  options_ = RunOptions();
  OptionsResult loaded =
      LoadRunOptions(args_, start_folder_, &stream_sink_, pause_, &options_);
  switch (loaded.status) {
    case OptionsStatus::kHelp:
      for (const std::string& line : UsageLines()) stream_sink_.Line(line);
      stream_sink_.Line("");
      for (const std::string& line :
           HelpDetails(WithBackslash(PathFolder(args_[0])))) {
        stream_sink_.Line(line);
      }
      help_requested_ = true;
      return false;
    case OptionsStatus::kUsage:
      if (!loaded.message.empty()) stream_sink_.Line(loaded.message);
      for (const std::string& line : UsageLines()) stream_sink_.Line(line);
      return Fatal("");
    case OptionsStatus::kFatal:
      return Fatal(loaded.message);
    case OptionsStatus::kReady:
      break;
  }
  options_.nesting_depth = depth;
  if (depth > 0) {
    options_.quiet = options_.quiet || NestingLimits::InheritedQuiet();
    // The originals inside an archive stay in the original archive, which
    // a --keep run keeps: converted copies beside them would only double
    // the new archive.
    options_.conversion.keep_original = false;
  } else if (options_.quiet) {
    options_.summary = true;
  }
  options_.group_messages =
      terminal_ || options_.verbose || NestingLimits::InheritedGrouping();
  if (!options_.dry_run && (terminal_ || options_.summary)) {
    progress_.reset(
        new RunProgress(err_, terminal_, RunProgress::SteadySeconds, columns_));
    if (progress_->live()) {
      // The status line is erased for every line of the run's own. With one
      // job it is brought up to date after every command; jobs run their
      // commands on threads of their own, so there it follows the archives
      // as their turn comes.
      progress_sink_.reset(new ProgressSink(&stream_sink_, progress_.get()));
      sink_ = progress_sink_.get();
      if (options_.jobs == 1) {
        progress_runner_.reset(new ProgressRunner(runner_, progress_.get()));
        runner_ = progress_runner_.get();
      }
    }
  }
  if (!LoadArchivers()) return false;
  if (!OpenReport()) return false;
  report_.set_originals_kept(options_.conversion.keep_original);
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
  Status read = ReadWholeFile(file, &data);
  if (!read.ok()) {
    // No definitions would convert nothing and call it done.
    return Fatal("can't read archives file [" + file + "]: " + read.Reason());
  }
  archivers_.reset(new ArchiverList());
  archivers_->set_any_extension(options_.any_extension);
  // The archivers file is written back normalised only where this user may
  // change it: a system-wide file read by another user stays as it is, and
  // so does a file its owner made read-only or a link. A dry run changes
  // nothing, this file included.
  const std::vector<ArchiverList::RefusedTemplate> refused =
      archivers_->AddDefinitionsFromFile(
          file, !options_.dry_run && CanReplaceFile(file));
  if (!archivers_->volume_fault().ok()) {
    return Fatal("bad volumes in archives file [" + file +
                 "]: " + archivers_->volume_fault().message());
  }
  if (!refused.empty()) {
    for (const ArchiverList::RefusedTemplate& r : refused) {
      stream_sink_.Line("refused command [" + r.section + "/" + r.key +
                        "] in [" + file + "]");
    }
    stream_sink_.Line("pause (3 seconds)...");
    if (pause_) pause_(3000);
  }
  if (!options_.target_name.empty()) {
    Status chosen = ChooseTarget(*archivers_, options_.target_name, file,
                                 &options_.conversion.target);
    if (!chosen.ok()) return Fatal(chosen.message());
  }
  return true;
}

bool Converter::OpenReport() {
  // A dry run converts nothing, so it has nothing to record, and it changes
  // no file, the report included.
  if (options_.dry_run) return true;
  if (options_.report_handle >= 0) {
    // A nested run appends to the report its parent holds open.
    Status adopted = report_.Adopt(options_.report_handle, options_.report_file,
                                   options_.report_parent);
    if (!adopted.ok()) {
      return Fatal("can't open report file [" + options_.report_file +
                   "]: " + adopted.message());
    }
    return true;
  }
  if (options_.report_file.empty()) return true;
  // Asked for a record of the run, zavo converts nothing it could not
  // record, and writes it nowhere but into a regular file of that name.
  Status opened = report_.Open(options_.report_file, options_.report_parent);
  if (!opened.ok()) {
    return Fatal("can't open report file [" + options_.report_file +
                 "]: " + opened.message());
  }
  return true;
}

bool Converter::Run() {
  const std::string pattern = PathFileName(options_.file_mask);
  const std::string top_path = WithBackslash(PathFolder(options_.file_mask));
  // The mask's folder is opened once, as the user named it (or taken as the
  // parent run handed it on); everything below is reached from it.
  HeldFolder top;
  Status opened = options_.mask_handle >= 0
                      ? HeldFolder::Adopt(options_.mask_handle, top_path, &top)
                      : HeldFolder::Open(top_path, &top);
  if (!opened.ok()) {
    sink_->Line("can't read folder [" + NoTrailingBackslash(top_path) +
                "]: " + opened.Reason());
    ++failed_archives_;
    return true;
  }
  if (progress_ && progress_->live()) {
    ArchiveCount count = CountArchives(top, top_path, pattern, options_.recurse,
                                       *archivers_, options_.conversion.target);
    progress_->SetTotal(count.archives, count.bytes);
  }
  volumes_.Start(archivers_.get(), pattern);
  ScanCalls calls;
  calls.unreadable = [this](const ScannedFolder& folder, const Status& why) {
    ScanUnreadable(folder, why);
  };
  calls.work_folder = [this](const ScannedFolder& folder,
                             const std::string& name) {
    ScanWorkFolder(folder, name);
  };
  if (options_.dry_run) {
    // The names the run itself would take, as the run keeps them.
    SortedTextList predicted(kNamesIgnoreCase);
    calls.file = [this, &predicted](const ScannedFolder& folder,
                                    const std::string& name) {
      std::unique_ptr<ArchiveConversion> conversion =
          Recognise(folder, name, runner_, -1, -1);
      if (conversion != nullptr) ShowConversion(*conversion, &predicted, sink_);
      return true;
    };
    calls.work_folder = [this](const ScannedFolder& folder,
                               const std::string& name) {
      if (!folders_.InShard(folder.relative)) return;
      LeftoverReport report =
          MeetWorkFolder(*folder.held, name, folder.path + name, true);
      if (!report.line.empty()) sink_->Line(report.line);
    };
    calls.unreadable = [this](const ScannedFolder& folder, const Status& why) {
      if (!folders_.InShard(folder.relative)) return;
      sink_->Line("can't read folder [" + NoTrailingBackslash(folder.path) +
                  "]: " + why.Reason());
      ++failed_archives_;
    };
    ScanTree(top, top_path, pattern, options_.recurse, calls);
    return true;
  }

  const int jobs = options_.jobs;
  plan_.reset(new JobPlan(jobs, jobs > 1 ? kParkedMost : 0));
  top.Duplicate(&space_);
  if (jobs > 1) {
    Status joined = JobTokens::Join(jobs, &tokens_);
    if (!joined.ok()) {
      sink_->Note("can't share jobs (" + joined.message() +
                  "): converting one at a time");
      plan_.reset(new JobPlan(1, 0));
    } else {
      for (int i = 0; i < jobs; ++i) {
        workers_.emplace_back([this] { WorkerLoop(); });
      }
    }
  }
  calls.file = [this](const ScannedFolder& folder, const std::string& name) {
    return ScanFile(folder, name);
  };
  scan_stopped_ = false;
  bool whole = ScanTree(top, top_path, pattern, options_.recurse, calls);
  if (scan_stopped_) whole = false;
  if (whole) whole = ApplyReady(true);
  if (!whole) StopJobs();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  // A stopped run writes back the lists too: the archives converted in the
  // folder have their new names already.
  folders_.Leave(true);
  return whole;
}

std::unique_ptr<ArchiveConversion> Converter::Recognise(
    const ScannedFolder& folder, const std::string& name, CommandRunner* runner,
    std::intptr_t output, std::intptr_t errors, std::int64_t* size,
    bool* unopened) {
  // Opened below the folder without following a link or waiting, and
  // recognised by what was opened: the conversion works on this very file.
  ArchiveSource source;
  const bool plain = folder.held->OpenFile(name, &source.file).ok() &&
                     source.file.Stat(&source.status).ok() &&
                     source.status.kind == EntryStatus::Kind::kFile;
  const VolumeScan::Meeting meeting = volumes_.Meet(folder, name);
  if (meeting.verdict == VolumeScan::Verdict::kPassed) return nullptr;
  // A set whose own file cannot be read is still named: it is left whole.
  if (!plain && meeting.verdict != VolumeScan::Verdict::kSet) {
    if (unopened != nullptr) *unopened = true;
    return nullptr;
  }
  // A set of the target kind is no archive of it until it is one file.
  if (meeting.verdict == VolumeScan::Verdict::kNoVolume) {
    source.kind = archivers_->Recognise(name, &source.file);
    if (source.kind < 0 ||
        static_cast<std::size_t>(source.kind) == options_.conversion.target) {
      return nullptr;
    }
  }
  if (!folder.held->Duplicate(&source.folder).ok()) return nullptr;
  source.name = name;
  source.path = folder.path + name;
  HoldVolumes(meeting, &source);
  if (size != nullptr) {
    *size = source.set != nullptr ? source.set->size() : source.status.size;
  }
  return std::unique_ptr<ArchiveConversion>(
      new ArchiveConversion(options_.conversion, *archivers_, runner,
                            std::move(source), output, errors));
}

bool Converter::ScanFile(const ScannedFolder& folder, const std::string& name) {
  if (InterruptionSignal() != 0) {
    interrupted_ = true;
    scan_stopped_ = true;
    return Fatal("run interrupted on [" + folder.path + name + "].");
  }
  if (scan_stopped_) return false;
  if (folder.path != scanned_folder_) {
    scanned_folder_ = folder.path;
    scanned_ours_ = folders_.InShard(folder.relative);
    if (scanned_ours_) {
      // Locked now, before any of its archives is handed to a job; its line
      // and the lists wait for its turn.
      std::unique_ptr<Item> item(new Item);
      item->folder = true;
      item->path = folder.path;
      folder.held->Duplicate(&item->held);
      item->ours =
          RunFolders::TakeLock(*folder.held, folder.path, sink_, &item->lock);
      scanned_ours_ = item->ours;
      AddItem(std::move(item));
    }
  }
  if (!scanned_ours_) return !scan_stopped_;
  std::unique_ptr<Item> item(new Item);
  Status made = CaptureFile::Create(&item->output);
  if (made.ok()) made = CaptureFile::Create(&item->errors);
  if (!made.ok()) {
    // Nowhere to collect what it says: the run cannot show it in its turn.
    sink_->Note(made.message());
    ++failed_archives_;
    return !scan_stopped_;
  }
  item->segments.reset(
      new SegmentRunner(runner_, item->output.get(), item->errors.get()));
  bool unopened = false;
  item->conversion =
      Recognise(folder, name, item->segments.get(), item->output->handle(),
                item->errors->handle(), &item->size_before, &unopened);
  if (item->conversion == nullptr) {
    // Listed as a file, it could not be opened as one: someone swapped it
    // for a link, a pipe or a folder since, or it may not be read. Named
    // when its name was meant to be an archive's; a name that is gone now
    // is passed over.
    EntryStatus now;
    if (unopened &&
        archivers_->NamesAnArchive(name, options_.conversion.target) &&
        folder.held->Stat(name, &now).ok() &&
        now.kind != EntryStatus::Kind::kMissing) {
      const std::string line =
          "extraction mistake on [" + folder.path + name + "]. next archive!";
      item.reset(new Item);
      item->action = [this, line]() {
        sink_->Line(line);
        ++failed_archives_;
      };
      AddItem(std::move(item));
      if (!ApplyReady(false)) scan_stopped_ = true;
    }
    return !scan_stopped_;
  }
  // No more archives wait or run at once than the plan holds: their work
  // folders and scratch files are what the run holds.
  const int most = options_.jobs + (options_.jobs > 1 ? kParkedMost : 0);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (plan_->archives() < most) break;
    }
    if (!ApplyReady(false) || scan_stopped_) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(100));
  }
  AddItem(std::move(item));
  if (workers_.empty()) {
    // One job: the archive is prepared here and now.
    JobPlan::Id id = 0;
    Item* taken = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (plan_->Take(&id)) taken = items_[id].get();
    }
    if (taken != nullptr) {
      Prepare(taken);
      std::lock_guard<std::mutex> lock(mutex_);
      plan_->Done(id);
    }
  }
  // What is ready is shown at once, so output keeps flowing.
  if (!ApplyReady(false)) scan_stopped_ = true;
  return !scan_stopped_;
}

void Converter::ScanUnreadable(const ScannedFolder& folder, const Status& why) {
  // A folder of this run's shard that cannot be read may hold archives: the
  // run has not done all it was asked and ends 1.
  if (!folders_.InShard(folder.relative)) return;
  const std::string line = "can't read folder [" +
                           NoTrailingBackslash(folder.path) +
                           "]: " + why.Reason();
  std::unique_ptr<Item> item(new Item);
  item->action = [this, line]() {
    sink_->Line(line);
    ++failed_archives_;
  };
  AddItem(std::move(item));
}

void Converter::ScanWorkFolder(const ScannedFolder& folder,
                               const std::string& name) {
  // Only the run whose shard holds the folder acts on it.
  if (!folders_.InShard(folder.relative)) return;
  std::shared_ptr<HeldFolder> parent(new HeldFolder);
  if (!folder.held->Duplicate(parent.get()).ok()) return;
  const std::string path = folder.path + name;
  std::unique_ptr<Item> item(new Item);
  item->action = [this, parent, name, path]() {
    LeftoverReport report = MeetWorkFolder(*parent, name, path, false);
    if (report.line.empty()) return;
    sink_->Line(report.line);
    if (report.failed) ++failed_archives_;
  };
  AddItem(std::move(item));
}

void Converter::AddItem(std::unique_ptr<Item> item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    JobPlan::Id id =
        item->conversion != nullptr ? plan_->AddArchive() : plan_->AddMarker();
    items_[id] = std::move(item);
  }
  changed_.notify_all();
}

void Converter::Prepare(Item* item) {
  // A token for each job that runs archivers: this run's jobs and those of
  // its nested runs share the budget.
  JobTokens::Token token =
      tokens_ != nullptr ? tokens_->Take() : JobTokens::Token::kNone;
  ArchiveConversion& conversion = *item->conversion;
  CaptureSink sink(item->output.get(), item->errors.get());
  item->began = std::chrono::steady_clock::now();
  // Its size as it was opened; the report reads it whole for its checksum.
  if (report_.is_open()) {
    std::string complaint = report_.BeginRecord(conversion, &item->record);
    if (!complaint.empty()) sink.Note(complaint);
  }
  if (item->record.old_size >= 0) item->size_before = item->record.old_size;
  if (!nesting_.LeavesAsItIs(conversion.path(), &sink, &item->result)) {
    std::unique_ptr<NestedRun> nested = nesting_.MakeNestedRun(
        item->segments.get(), report_.is_open() ? report_.writer() : nullptr);
    item->ready =
        conversion.Prepare(&sink, nested.get(), &item->record, &item->result);
  }
  if (tokens_ != nullptr) tokens_->Give(token);
}

void Converter::WorkerLoop() {
  for (;;) {
    JobPlan::Id id = 0;
    Item* item = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(
          lock, [this, &id] { return closing_ || plan_->Take(&id, Room()); });
      if (id == 0) return;
      item = items_[id].get();
    }
    Prepare(item);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      plan_->Done(id);
    }
    changed_.notify_all();
  }
}

bool Converter::Room() const {
  std::int64_t bytes = 0, entries = -1;
  if (!space_.is_open() || !space_.FreeSpace(&bytes, &entries).ok()) {
    return true;
  }
  return bytes / 2 >= options_.conversion.limits.keep_free;
}

bool Converter::ApplyReady(bool wait) {
  for (;;) {
    Item* item = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      JobPlan::Id id = 0;
      JobPlan::Next next = plan_->Front(&id);
      while (next == JobPlan::Next::kBusy && wait) {
        changed_.wait(lock);
        next = plan_->Front(&id);
      }
      if (next == JobPlan::Next::kNone || next == JobPlan::Next::kBusy) {
        return !scan_stopped_;
      }
      item = items_[id].get();
    }
    bool go_on = Apply(item);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      JobPlan::Id id = 0;
      plan_->Front(&id);
      plan_->Pop();
      items_.erase(id);
    }
    changed_.notify_all();
    if (!go_on) {
      scan_stopped_ = true;
      return false;
    }
  }
}

bool Converter::Apply(Item* item) {
  if (item->folder) {
    folders_.Enter(std::move(item->held), item->path, std::move(item->lock),
                   item->ours);
    return true;
  }
  if (item->action) {
    item->action();
    return true;
  }
  return ApplyArchive(item);
}

void Converter::ShowCollected(Item* item) {
  if (progress_) progress_->Hide();
  // Quiet, the archivers' output never reaches standard output, and is
  // shown for the archives that did not go well; the rest is shown as
  // ever.
  if ((options_.group_messages || options_.quiet) &&
      !item->segments->broken()) {
    const bool show = !options_.quiet || options_.verbose || !item->ready;
    if (!ShowArchiverMessages(item->conversion->path(), item->output.get(),
                              item->errors.get(), item->segments->segments(),
                              show, out_, err_)) {
      sink_->Note("can't read back the output collected for [" +
                  item->conversion->path() + "]");
    }
    item->output.reset();
    item->errors.reset();
    return;
  }
  // The archivers' output is escaped as the run's own lines are: what an
  // archive's names hold never reaches the terminal as it is.
  struct {
    CaptureFile* file;
    std::ostream* stream;
  } collected[] = {{item->output.get(), &out_}, {item->errors.get(), &err_}};
  for (auto& c : collected) {
    PrintableLines lines;
    std::string text;
    bool whole = c.file->ForEachChunk([&](const char* data, std::size_t size) {
      lines.Feed(data, size, &text);
      *c.stream << text;
      text.clear();
    });
    lines.Finish(&text);
    *c.stream << text;
    c.stream->flush();
    if (!whole) {
      sink_->Note("can't read back the output collected for [" +
                  item->conversion->path() + "]");
    }
  }
  item->output.reset();
  item->errors.reset();
}

bool Converter::ApplyArchive(Item* item) {
  ArchiveConversion& conversion = *item->conversion;
  // An archive made earlier in this folder is not converted again: its job
  // ends without a trace.
  if (folders_.MadeHere(conversion.path())) {
    conversion.Discard();
    return true;
  }
  if (progress_) progress_->Begin(conversion.path(), item->size_before);
  ShowCollected(item);
  ConversionResult result = item->result;
  std::int64_t size_after = -1;
  if (item->ready) {
    // Quiet, an archive that went well says nothing.
    LineBuffer held;
    result = conversion.Commit(options_.quiet ? &held : sink_, folders_.Lists(),
                               folders_.made(), &item->record);
    held.Replay(sink_,
                result.status == ConversionStatus::kDone ? result.line : "");
    size_after = item->record.new_size;
  }
  if (report_.is_open()) {
    report_.WriteRecord(result, item->began, &item->record, sink_);
  }
  return ApplyResult(result, item->size_before, size_after);
}

bool Converter::ApplyResult(const ConversionResult& result,
                            std::int64_t size_before, std::int64_t size_after) {
  // What a conversion could not clean up: the run has not done all it was
  // asked, even when the archive itself was converted.
  for (const std::string& line : result.left_undone) sink_->Note(line);
  if (!result.left_undone.empty() && result.status == ConversionStatus::kDone) {
    ++failed_archives_;
  }
  if (options_.nesting_depth > 0 && nesting_.tally() != nullptr &&
      result.status != ConversionStatus::kInterrupted) {
    nesting_.tally()->Count(
        result.status == ConversionStatus::kDone     ? ArchiveStatus::kConverted
        : result.status == ConversionStatus::kFailed ? ArchiveStatus::kFailed
                                                     : ArchiveStatus::kLeft);
  }
  // Notes (what a new archive does not keep) leave the exit code alone.
  for (const std::string& line : result.notes) sink_->Note(line);
  switch (result.status) {
    case ConversionStatus::kDone:
      if (progress_) {
        progress_->Converted(size_before, size_after,
                             options_.conversion.keep_original);
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
    case ConversionStatus::kIncompleteSet:
      if (progress_) progress_->Left();
      ++failed_archives_;
      return true;
    case ConversionStatus::kFailed:
      if (progress_) progress_->Failed();
      if (options_.conversion.stop_on_error) return Fatal(result.message);
      ++failed_archives_;
      return true;
  }
  return true;
}

void Converter::StopJobs() {
  bool running;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // What no job took never begins.
    for (JobPlan::Id id : plan_->Stop()) items_.erase(id);
    running = plan_->preparing() > 0;
  }
  if (running) StopChildren();
  changed_.notify_all();
  // What the jobs were preparing, and what waits prepared, is undone; its
  // output is not the run's: a run of one job never got to it.
  for (;;) {
    std::unique_ptr<Item> item;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      JobPlan::Id id = 0;
      JobPlan::Next next = plan_->Front(&id);
      while (next == JobPlan::Next::kBusy) {
        changed_.wait(lock);
        next = plan_->Front(&id);
      }
      if (next == JobPlan::Next::kNone) break;
      item = std::move(items_[id]);
      items_.erase(id);
      plan_->Pop();
    }
    if (item != nullptr && item->conversion != nullptr) {
      item->conversion->Discard();
    }
  }
}

}  // namespace zavo
