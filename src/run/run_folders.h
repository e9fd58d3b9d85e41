// The folders of a run: which of them fall to this run (its shard of the
// tree, and the lock that keeps two runs out of one folder), and what the
// run keeps of the folder it is converting in: the folder itself (held),
// the lock, the folder's lists, the archives made there. It also keeps every
// archive the run has made, so that no conversion replaces one of them.

#ifndef ZAVO_RUN_RUN_FOLDERS_H_
#define ZAVO_RUN_RUN_FOLDERS_H_

#include <memory>
#include <string>
#include <vector>

#include "conversion/output_sink.h"
#include "platform/dir_handle.h"
#include "platform/folder_lock.h"
#include "run/folder_lists.h"
#include "run/run_options.h"
#include "text/sorted_text_list.h"

namespace zavo {

class RunFolders {
 public:
  // `options` is not owned and must outlive this object.
  explicit RunFolders(const RunOptions& options);

  // Forgets every folder and archive, for a run whose lines go to `sink`
  // (not owned).
  void Start(OutputSink* sink);

  // Whether the folder at `relative` below the mask's folder (parts joined
  // by the separator, "" for the mask's folder) falls to this run's shard.
  bool InShard(const std::string& relative) const;

  // Takes the lock of the held `folder` (shown as `path`) into *lock.
  // Returns false when another run holds it. A folder that cannot be locked
  // (a file system without locks) is said in `sink` (standard error) and is
  // converted without the lock.
  static bool TakeLock(const HeldFolder& folder, const std::string& path,
                       OutputSink* sink, std::unique_ptr<FolderLock>* lock);

  // Leaves the current folder for `folder` (a hold of its own, shown as
  // `path`, ending in a separator), whose lock was tried already (TakeLock:
  // `ours` is what it returned, `lock` the lock): writes back the lists,
  // lets go of the old lock and forgets the archives made there; then names
  // the new folder.
  void Enter(HeldFolder folder, const std::string& path,
             std::unique_ptr<FolderLock> lock, bool ours);
  // Leaves the current folder at the end of the run: writes back its lists
  // when `save_lists`, and lets go of its lock.
  void Leave(bool save_lists);

  // The lists of the current folder: loaded on first use. Lists that are
  // not plain files are named in the sink and left as they are.
  FolderLists* Lists();
  // Writes the current folder's lists back now.
  void SaveLists();
  // Names each list file of `paths` that could not be written back, once
  // in a folder; the run has then not done all it was asked.
  void ReportUnsavedLists(const std::vector<std::string>& paths);

  // Notes the archive this run made at `path`.
  void AddMade(const std::string& path);
  // Whether the archive at `path` was made by this run in the current
  // folder: a new archive the scan meets again is not converted twice.
  bool MadeHere(const std::string& path) const;
  // Every archive this run has made.
  const SortedTextList* made() const { return &made_; }

  // Whether something was left undone: a folder left to another run, a
  // list not written back or left as it was.
  bool left_undone() const { return folders_left_ || lists_unsaved_; }

 private:
  const RunOptions& options_;
  OutputSink* sink_ = nullptr;
  // The folder being converted, held, and its path; empty before the first.
  HeldFolder current_;
  std::string current_path_;
  // The lock of the current folder; null when not held.
  std::unique_ptr<FolderLock> lock_;
  FolderLists lists_;
  // The lists of the current folder already named as not written.
  SortedTextList unsaved_;
  // The archives made in the current folder, and in every folder.
  SortedTextList made_here_;
  SortedTextList made_;
  bool folders_left_ = false;
  bool lists_unsaved_ = false;
};

}  // namespace zavo

#endif  // ZAVO_RUN_RUN_FOLDERS_H_
