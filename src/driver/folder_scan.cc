#include "driver/folder_scan.h"

#include <algorithm>
#include <vector>

#include "fs/file_tree.h"
#include "fs/work_names.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

bool ScanFolder(const std::string& folder, const std::string& pattern,
                bool recurse,
                const std::function<bool(const std::string&)>& visit,
                const std::function<void(const std::string&,
                                         const std::string&)>& unreadable,
                const std::function<void(const std::string&)>& work_folder) {
  // Names are taken before anything is converted, so the listing never
  // races with the archives and work folders made beside them.
  std::vector<std::string> files;
  auto listing = ListFolderKinds(folder + pattern);
  if (listing == nullptr) {
    // Its subfolders cannot be listed either.
    if (unreadable) {
      unreadable(NoTrailingBackslash(folder), ErrorReason(LastSystemError()));
    }
    return true;
  }
  DirEntry entry;
  while (listing->Next(&entry)) {
    // A link is not followed: converting through it would replace the link
    // with an archive and leave its target as it was.
    if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
      files.push_back(entry.name);
    }
  }
  listing.reset();
  // Sub-folders too are taken before anything is converted: the work
  // folders met are the ones that were here before this run came (its own
  // come and go while the archives are converted, also on other threads).
  std::vector<std::string> folders;
  std::vector<std::string> work_folders;
  auto subfolders =
      recurse || work_folder ? ListFolderKinds(folder + "*.*") : nullptr;
  if (subfolders != nullptr) {
    while (subfolders->Next(&entry)) {
      if (entry.name.empty() || entry.name[0] == '.' ||
          (entry.attributes & (kAttrFolder | kAttrLink)) != kAttrFolder) {
        continue;
      }
      (IsWorkFolderName(entry.name) ? work_folders : folders)
          .push_back(entry.name);
    }
  }
  subfolders.reset();
  // Sorted, so that a run's order and its report do not depend on how the
  // file system happens to return names.
  std::sort(files.begin(), files.end());
  for (const std::string& name : files) {
    if (!visit(folder + name)) return false;
  }
  std::sort(work_folders.begin(), work_folders.end());
  if (work_folder) {
    for (const std::string& name : work_folders) work_folder(folder + name);
  }
  if (!recurse) return true;
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : folders) {
    if (!ScanFolder(folder + name + kPathSeparator, pattern, recurse, visit,
                    unreadable, work_folder)) {
      return false;
    }
  }
  return true;
}

}  // namespace zavo
