#include "run/run_folders.h"

#include <utility>

#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

RunFolders::RunFolders(const RunOptions& options)
    : options_(options),
      lists_(options.list_file_names),
      unsaved_(kNamesIgnoreCase),
      made_here_(kNamesIgnoreCase),
      made_(kNamesIgnoreCase) {}

void RunFolders::Start(OutputSink* sink) {
  sink_ = sink;
  current_.Close();
  current_path_.clear();
  lock_.reset();
  lists_.Clear();
  unsaved_.Clear();
  made_here_.Clear();
  made_.Clear();
  folders_left_ = false;
  lists_unsaved_ = false;
  // An old archive that stays keeps its entry; the new one gets a copy.
  lists_.set_copy_entries(options_.conversion.keep_original);
}

bool RunFolders::InShard(const std::string& relative) const {
  if (options_.shard_count == 0) return true;
  // The same text on every platform, so that a tree shared between
  // machines splits the same way everywhere.
  std::string key = relative;
  for (char& c : key) {
    if (c == kPathSeparator) c = '/';
  }
  return ShardOfFolder(key, options_.shard_count) == options_.shard_index;
}

bool RunFolders::TakeLock(const HeldFolder& folder, const std::string& path,
                          OutputSink* sink, std::unique_ptr<FolderLock>* lock) {
  FolderLock::Outcome outcome;
  Status error;
  std::string note;
  *lock = FolderLock::Take(folder, &outcome, &error, &note);
  if (!note.empty()) sink->Note(note);
  switch (outcome) {
    case FolderLock::Outcome::kTaken:
      return true;
    case FolderLock::Outcome::kBusy:
      return false;
    case FolderLock::Outcome::kError:
      break;
  }
  // A file system without locks still gets its archives converted; the
  // runs that share it are then the user's to keep apart.
  sink->Note("can't lock folder [" + NoTrailingBackslash(path) +
             "]: " + error.Reason() + "; converting without the lock");
  return true;
}

void RunFolders::Enter(HeldFolder folder, const std::string& path,
                       std::unique_ptr<FolderLock> lock, bool ours) {
  // The lists are saved before the lock goes.
  SaveLists();
  lock_.reset();
  lists_.Clear();
  unsaved_.Clear();
  made_here_.Clear();
  current_ = std::move(folder);
  current_path_ = path;
  // Quiet, a folder has a line only when it is left.
  if (!options_.quiet) {
    sink_->Line("processing folder [" + PathFolder(path + "x") + "]");
  }
  lock_ = std::move(lock);
  if (!ours) {
    sink_->Line("folder [" + PathFolder(path + "x") +
                "] is being converted by another run");
    folders_left_ = true;
  }
}

void RunFolders::Leave(bool save_lists) {
  if (save_lists) SaveLists();
  lock_.reset();
}

FolderLists* RunFolders::Lists() {
  if (!lists_.loaded() && current_.is_open()) {
    std::vector<std::string> notes;
    lists_.Load(current_, current_path_, &notes);
    for (const std::string& note : notes) sink_->Note(note);
    if (!notes.empty()) lists_unsaved_ = true;
  }
  return &lists_;
}

void RunFolders::SaveLists() {
  std::vector<std::string> unsaved;
  lists_.Save(&unsaved);
  ReportUnsavedLists(unsaved);
}

void RunFolders::ReportUnsavedLists(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (unsaved_.Contains(path)) continue;
    unsaved_.Insert(path);
    sink_->Line("can't save list [" + path + "]");
    lists_unsaved_ = true;
  }
}

void RunFolders::AddMade(const std::string& path) {
  made_here_.Insert(path);
  made_.Insert(path);
}

bool RunFolders::MadeHere(const std::string& path) const {
  return made_here_.Contains(path);
}

}  // namespace zavo
