// The converter with more than one job. The scan runs on the calling thread
// and hands each archive to a job; up to N jobs convert at once, each with a
// copy of the archiver list, a work folder of its own and scratch files that
// collect its lines and its archivers' output. The calling thread then takes
// the pending items in scan order: it shows each folder's lines and each
// archive's collected output, and applies its outcome (lists, report, the
// failure count) just where a run of one job would. A job waits, packed and
// tested, until every archive before it has been applied, so the new
// archives are put in place in scan order too, and a stop leaves nothing
// after the failing archive in place.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "driver/converter.h"
#include "driver/folder_scan.h"
#include "driver/output_sink.h"
#include "platform/capture_file.h"
#include "platform/file_system.h"
#include "platform/job_tokens.h"
#include "platform/process.h"
#include "text/printable.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Lines go to the job's scratch file, where its archivers' output goes too,
// so the two keep their order.
class CaptureSink : public OutputSink {
 public:
  explicit CaptureSink(CaptureFile* file) : file_(file) {}
  // Escaped as StreamSink escapes: the lines reach the console as they are.
  void Line(const std::string& text) override {
    file_->Append(PrintableName(text) + '\n');
  }

 private:
  CaptureFile* file_;
};

}  // namespace

// One pending item of the scan: the first file of a folder, or an archive.
struct Converter::JobItem {
  bool folder = false;
  std::string path;
  // A folder: whether it is this run's, and its lock.
  bool ours = true;
  std::unique_ptr<FolderLock> lock;
  // An archive: the job.
  std::unique_ptr<ArchiverList> archivers;
  std::unique_ptr<CaptureFile> output;
  std::unique_ptr<CaptureFile> errors;
  bool recognised = false;
  ConversionResult result;
  ReportRecord record;
  std::chrono::steady_clock::time_point began;
  std::int64_t size_before = -1;
  // Guarded by Jobs::mutex.
  bool turn = false;       // every archive before it is applied
  bool cancelled = false;  // it must not be put in place
  bool finished = false;
};

struct Converter::Jobs {
  std::unique_ptr<JobTokens> tokens;
  std::vector<std::thread> workers;
  std::mutex mutex;
  std::condition_variable changed;
  // Guarded by mutex: the jobs no worker has taken yet; closing when the
  // workers may end; stopping when no job may put its archive in place.
  std::deque<JobItem*> queue;
  bool closing = false;
  bool stopping = false;
  // The calling thread's alone: every pending item in scan order, and how
  // many of them are archives.
  std::deque<std::unique_ptr<JobItem>> pending;
  int archives_pending = 0;
  // The folder of the last file scanned, and whether it is this run's.
  std::string scanned_folder = " ";
  bool scanned_ours = true;
};

void Converter::JobsDeleter::operator()(Jobs* jobs) const { delete jobs; }

bool Converter::RunJobs(const std::string& top, const std::string& pattern) {
  std::string error;
  std::unique_ptr<JobTokens> tokens = JobTokens::Join(options_.jobs, &error);
  if (tokens == nullptr) {
    ErrorLine("can't share jobs (" + error + "): converting one at a time");
    return ScanFolder(
        top, pattern, options_.recurse,
        [this](const std::string& path) { return VisitFile(path); },
        UnreadableFolderReport(),
        [this](const std::string& path) { MetWorkFolder(path); });
  }
  jobs_.reset(new Jobs);
  jobs_->tokens = std::move(tokens);
  for (int i = 0; i < options_.jobs; ++i) {
    jobs_->workers.emplace_back([this] { WorkerLoop(); });
  }
  scan_stopped_ = false;
  bool whole = ScanFolder(
      top, pattern, options_.recurse,
      [this](const std::string& path) { return DispatchFile(path); },
      UnreadableFolderReport(),
      [this](const std::string& path) { MetWorkFolder(path); });
  if (scan_stopped_) whole = false;
  while (whole && !jobs_->pending.empty()) whole = CommitFront();
  if (!whole) StopJobs();
  {
    std::lock_guard<std::mutex> lock(jobs_->mutex);
    jobs_->closing = true;
  }
  jobs_->changed.notify_all();
  for (std::thread& worker : jobs_->workers) worker.join();
  jobs_.reset();
  return whole;
}

void Converter::CommitPending() {
  if (jobs_ == nullptr) return;
  while (!scan_stopped_ && !jobs_->pending.empty()) {
    if (!CommitFront()) scan_stopped_ = true;
  }
}

bool Converter::DispatchFile(const std::string& path) {
  if (scan_stopped_) return false;
  Jobs& jobs = *jobs_;
  std::string folder_key = ListText(WithBackslash(PathFolder(path)));
  if (folder_key != jobs.scanned_folder) {
    jobs.scanned_folder = folder_key;
    jobs.scanned_ours = folders_.InShard(path);
    if (jobs.scanned_ours) {
      // Locked now, before any of its archives is handed to a job; its line
      // and the lists wait for its turn.
      std::unique_ptr<JobItem> item(new JobItem);
      item->folder = true;
      item->path = path;
      item->ours = RunFolders::TakeLock(path, &item->lock);
      jobs.scanned_ours = item->ours;
      jobs.pending.push_back(std::move(item));
    }
  }
  if (!jobs.scanned_ours) return true;
  archivers_->SetArchiveName(path);
  if (archivers_->Identify() <= 0) return true;
  // No more than N archives wait or run at once: their work folders and
  // scratch files are what the run holds.
  while (jobs.archives_pending >= options_.jobs) {
    if (!CommitFront()) return false;
  }
  std::unique_ptr<JobItem> item(new JobItem);
  item->path = path;
  item->archivers = archivers_->Copy();
  std::string error;
  item->output = CaptureFile::Create(&error);
  if (item->output != nullptr) item->errors = CaptureFile::Create(&error);
  if (item->errors == nullptr) {
    // Without somewhere to collect it, the archive is converted here and
    // now, its output straight through, after the ones before it.
    while (!jobs.pending.empty()) {
      if (!CommitFront()) return false;
    }
    ErrorLine(error);
    return VisitFile(path);
  }
  JobItem* job = item.get();
  jobs.pending.push_back(std::move(item));
  ++jobs.archives_pending;
  {
    std::lock_guard<std::mutex> lock(jobs.mutex);
    jobs.queue.push_back(job);
  }
  jobs.changed.notify_all();
  // Show what is ready without waiting, so output keeps flowing.
  while (!jobs.pending.empty()) {
    JobItem* front = jobs.pending.front().get();
    if (!front->folder) {
      std::lock_guard<std::mutex> lock(jobs.mutex);
      if (!front->finished) break;
    }
    if (!CommitFront()) return false;
  }
  return true;
}

bool Converter::CommitFront() {
  Jobs& jobs = *jobs_;
  std::unique_ptr<JobItem> item = std::move(jobs.pending.front());
  jobs.pending.pop_front();
  if (item->folder) {
    folders_.EnterLocked(item->path, std::move(item->lock), item->ours);
    return true;
  }
  --jobs.archives_pending;
  return CommitJob(item.get());
}

bool Converter::CommitJob(JobItem* job) {
  Jobs& jobs = *jobs_;
  // An archive made earlier in this folder is not converted again (see
  // VisitFile): its job ends without a trace.
  bool again = folders_.MadeHere(job->path);
  // The archive whose turn it is shows on the status line while it is
  // waited for; its size is the job's to read.
  if (progress_) progress_->Begin(job->path, -1);
  {
    std::unique_lock<std::mutex> lock(jobs.mutex);
    job->turn = true;
    job->cancelled = again;
    jobs.changed.notify_all();
    jobs.changed.wait(lock, [job] { return job->finished; });
  }
  if (again || !job->recognised) return true;
  if (progress_) progress_->Hide();
  if (!job->output->CopyTo(stream_) || !job->errors->CopyTo(std::cerr)) {
    ErrorLine("can't read back the output collected for [" + job->path + "]");
  }
  job->output.reset();
  job->errors.reset();
  FolderLists* lists = folders_.Lists(job->path);
  const ConversionResult& result = job->result;
  if (result.status == ConversionStatus::kDone) {
    lists->RenameEntry(PathFileName(job->path),
                       PathFileName(result.final_name));
    // At once, as a run of one job does: a kill leaves the new name listed.
    folders_.SaveLists();
  }
  if (progress_) progress_->Begin(job->path, job->size_before);
  if (report_.is_open()) report_.WriteRecord(result, job->began, &job->record);
  return ApplyResult(result, job->size_before);
}

void Converter::StopJobs() {
  Jobs& jobs = *jobs_;
  {
    std::lock_guard<std::mutex> lock(jobs.mutex);
    jobs.stopping = true;
    // The jobs not begun never begin.
    for (JobItem* job : jobs.queue) job->finished = true;
    jobs.queue.clear();
  }
  StopChildren();
  jobs.changed.notify_all();
  std::unique_lock<std::mutex> lock(jobs.mutex);
  for (auto& item : jobs.pending) {
    JobItem* job = item.get();
    if (job->folder) continue;
    jobs.changed.wait(lock, [job] { return job->finished; });
  }
  lock.unlock();
  // Their output is not the run's: a run of one job never got to them.
  jobs.pending.clear();
  jobs.archives_pending = 0;
}

void Converter::WorkerLoop() {
  Jobs& jobs = *jobs_;
  for (;;) {
    JobItem* job;
    {
      std::unique_lock<std::mutex> lock(jobs.mutex);
      jobs.changed.wait(
          lock, [&jobs] { return jobs.closing || !jobs.queue.empty(); });
      if (jobs.queue.empty()) return;
      job = jobs.queue.front();
      jobs.queue.pop_front();
    }
    RunJob(job);
    {
      std::lock_guard<std::mutex> lock(jobs.mutex);
      job->finished = true;
    }
    jobs.changed.notify_all();
  }
}

void Converter::RunJob(JobItem* job) {
  Jobs& jobs = *jobs_;
  // A token for each job that runs archivers: this run's jobs and those
  // of its nested runs share the budget.
  JobTokens::Token token = jobs.tokens->Take();
  SetChildOutput(job->output->handle(), job->errors->handle());
  CaptureSink sink(job->output.get());
  ArchiveConversion conversion(options_, job->archivers.get(), runner_, &sink,
                               job->path);
  job->recognised = conversion.Recognise();
  std::unique_ptr<SharedCount> own_count;
  if (job->recognised) {
    job->began = std::chrono::steady_clock::now();
    job->size_before = FileByteSize(job->path);
    std::string complaint = ReadyConversion(
        &conversion, job->path, *job->archivers, &job->record, &own_count);
    if (!complaint.empty())
      job->errors->Append(PrintableName(complaint) + "\n");
  }
  if (job->recognised &&
      !nesting_.LeavesAsItIs(job->path, &sink, &job->result)) {
    conversion.set_turn([&jobs, job, &token]() {
      // No archiver runs while it waits: the token goes to another job.
      jobs.tokens->Give(token);
      token = JobTokens::Token::kNone;
      std::unique_lock<std::mutex> lock(jobs.mutex);
      jobs.changed.wait(lock, [&jobs, job] {
        return job->turn || job->cancelled || jobs.stopping;
      });
      return !job->cancelled && !jobs.stopping;
    });
    job->result = conversion.Run(nullptr);
  }
  jobs.tokens->Give(token);
  SetChildOutput(-1, -1);
}

}  // namespace zavo
