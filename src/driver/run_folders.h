// The folders of a run: which of them fall to this run (its shard of the
// tree, and the lock that keeps two runs out of one folder), and what the
// run keeps of the folder it is converting in: the lock, the folder's lists,
// the archives made there. It also keeps every archive the run has made, so
// that no conversion replaces one of them.

#ifndef ZAVO_DRIVER_RUN_FOLDERS_H_
#define ZAVO_DRIVER_RUN_FOLDERS_H_

#include <memory>
#include <string>
#include <vector>

#include "driver/folder_lists.h"
#include "driver/output_sink.h"
#include "driver/run_options.h"
#include "driver/sorted_text_list.h"
#include "platform/folder_lock.h"

namespace zavo {

class RunFolders {
 public:
  // `options` is not owned and must outlive this object.
  explicit RunFolders(const RunOptions& options);

  // Forgets every folder and archive, for a run whose lines go to `sink`
  // (not owned).
  void Start(OutputSink* sink);
  // The mask's folder, ending in a separator: the shards split the tree
  // below it.
  void set_top(const std::string& top) { top_ = top; }

  // Whether the folder of `path` falls to this run's shard.
  bool InShard(const std::string& path) const;

  // Takes the lock of the folder of `path` into *lock. Returns false when
  // another run holds it. A folder that cannot be locked (a file system
  // without locks) is said on standard error and is converted without it.
  static bool TakeLock(const std::string& path,
                       std::unique_ptr<FolderLock>* lock);

  // Leaves the current folder for the folder of `path`, unless that is the
  // current one: writes back the lists, lets go of the lock and forgets the
  // archives made there; then names the new folder and locks it. Returns
  // whether the archives of the folder of `path` are this run's to convert.
  bool Enter(const std::string& path);
  // The same for a folder of this run's shard whose lock was tried already
  // (TakeLock): `lock` is kept, and `ours` is what TakeLock returned.
  void EnterLocked(const std::string& path, std::unique_ptr<FolderLock> lock,
                   bool ours);
  // Leaves the current folder at the end of the run: writes back its lists
  // when `save_lists`, and lets go of its lock.
  void Leave(bool save_lists);

  // The lists of the current folder, the folder of `path`: loaded on first
  // use. A list read only in part is never written back, so its file stays
  // as it was; the conversion goes on.
  FolderLists* Lists(const std::string& path);
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
  // Every archive this run has made, as ListText gives their paths.
  const SortedTextList* made() const { return &made_; }

  // Whether something was left undone: a folder left to another run, a
  // list not written back.
  bool left_undone() const { return folders_left_ || lists_unsaved_; }

 private:
  // Writes back the lists, lets go of the lock and forgets what the current
  // folder held; the folder of `path` becomes the current one.
  void Switch(const std::string& path);
  // Says that the folder of `path` is left to the run that holds it.
  void LeaveToOtherRun(const std::string& path);

  const RunOptions& options_;
  OutputSink* sink_ = nullptr;
  std::string top_;
  // The folder being converted, as ListText gives it; " " before the first.
  std::string current_ = " ";
  // Whether the current folder's archives are this run's (its shard, its
  // lock).
  bool ours_ = true;
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

#endif  // ZAVO_DRIVER_RUN_FOLDERS_H_
