#include "driver/run_folders.h"

#include <iostream>
#include <utility>

#include "driver/output_sink.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

RunFolders::RunFolders(const RunOptions& options)
    : options_(options),
      lists_(options.list_file_names),
      unsaved_(kHasDrives),
      made_here_(kHasDrives),
      made_(kHasDrives) {}

void RunFolders::Start(OutputSink* sink) {
  sink_ = sink;
  current_ = " ";
  ours_ = true;
  lock_.reset();
  lists_.Clear();
  unsaved_.Clear();
  made_here_.Clear();
  made_.Clear();
  folders_left_ = false;
  lists_unsaved_ = false;
}

bool RunFolders::InShard(const std::string& path) const {
  if (options_.shard_count == 0) return true;
  std::string folder = WithBackslash(PathFolder(path));
  std::string relative;
  if (folder.size() > top_.size()) {
    relative = folder.substr(top_.size(), folder.size() - top_.size() - 1);
  }
  // The same text on every platform, so that a tree shared between
  // machines splits the same way everywhere.
  for (char& c : relative) {
    if (c == kPathSeparator) c = '/';
  }
  return ShardOfFolder(relative, options_.shard_count) == options_.shard_index;
}

bool RunFolders::TakeLock(const std::string& path,
                          std::unique_ptr<FolderLock>* lock) {
  FolderLock::Outcome outcome;
  std::string error;
  std::string folder = PathFolder(path);
  *lock = FolderLock::Take(WithBackslash(folder), &outcome, &error);
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
  ErrorLine("can't lock folder [" + folder + "]: " + error +
            "; converting without the lock");
  return true;
}

bool RunFolders::Enter(const std::string& path) {
  if (current_ == ListText(WithBackslash(PathFolder(path)))) return ours_;
  bool ours = InShard(path);
  if (ours) sink_->Line("processing folder [" + PathFolder(path) + "]");
  Switch(path);
  if (!ours) {
    ours_ = false;
  } else if (!TakeLock(path, &lock_)) {
    LeaveToOtherRun(path);
  }
  return ours_;
}

void RunFolders::EnterLocked(const std::string& path,
                             std::unique_ptr<FolderLock> lock, bool ours) {
  sink_->Line("processing folder [" + PathFolder(path) + "]");
  Switch(path);
  lock_ = std::move(lock);
  if (!ours) LeaveToOtherRun(path);
}

void RunFolders::Switch(const std::string& path) {
  // The lists are saved before the lock goes.
  SaveLists();
  lock_.reset();
  current_ = ListText(WithBackslash(PathFolder(path)));
  ours_ = true;
  lists_.Clear();
  unsaved_.Clear();
  made_here_.Clear();
}

void RunFolders::LeaveToOtherRun(const std::string& path) {
  sink_->Line("folder [" + PathFolder(path) +
              "] is being converted by another run");
  ours_ = false;
  folders_left_ = true;
}

void RunFolders::Leave(bool save_lists) {
  if (save_lists) SaveLists();
  lock_.reset();
}

FolderLists* RunFolders::Lists(const std::string& path) {
  if (!lists_.loaded()) lists_.Load(WithBackslash(PathFolder(path)));
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
  made_here_.Insert(ListText(path));
  made_.Insert(ListText(path));
}

bool RunFolders::MadeHere(const std::string& path) const {
  return made_here_.Contains(ListText(path));
}

}  // namespace zavo
