#include "run/folder_scan.h"

#include <algorithm>
#include <vector>

#include "fs/work_names.h"
#include "platform/file_system.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

bool ScanTree(const HeldFolder& top, const std::string& top_path,
              const std::string& pattern, bool recurse,
              const ScanCalls& calls) {
  // Folders still to scan, the next one last: subfolders are pushed in
  // reverse order, so that each is scanned whole before its next sibling.
  std::vector<std::string> pending = {std::string()};
  while (!pending.empty()) {
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    ScannedFolder folder;
    folder.relative = relative;
    folder.path =
        relative.empty() ? top_path : top_path + relative + kPathSeparator;
    HeldFolder held;
    folder.held = &top;
    if (!relative.empty()) {
      Status opened = top.OpenFolder(relative, &held);
      if (!opened.ok()) {
        folder.held = nullptr;
        if (calls.unreadable) calls.unreadable(folder, opened);
        continue;
      }
      folder.held = &held;
    }
    // Names are taken before anything is converted, so the listing never
    // races with the archives and work folders made beside them.
    std::vector<DirEntry> entries;
    Status listed = folder.held->List(&entries, true);
    if (!listed.ok()) {
      if (calls.unreadable) calls.unreadable(folder, listed);
      continue;
    }
    folder.entries = &entries;
    std::vector<std::string> files, folders, work_folders;
    for (const DirEntry& entry : entries) {
      // A link is not followed: converting through it would replace the
      // link with an archive and leave its target as it was.
      if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
        if (MatchesMask(pattern, entry.name)) files.push_back(entry.name);
      } else if ((entry.attributes & (kAttrFolder | kAttrLink)) ==
                     kAttrFolder &&
                 !entry.name.empty() && entry.name[0] != '.') {
        (IsWorkFolderName(entry.name) ? work_folders : folders)
            .push_back(entry.name);
      }
    }
    // Sorted, so that a run's order and its report do not depend on how
    // the file system happens to return names.
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
      if (!calls.file(folder, name)) return false;
    }
    std::sort(work_folders.begin(), work_folders.end());
    if (calls.work_folder) {
      for (const std::string& name : work_folders) {
        calls.work_folder(folder, name);
      }
    }
    if (!recurse) continue;
    std::sort(folders.rbegin(), folders.rend());
    for (const std::string& name : folders) {
      pending.push_back(relative.empty() ? name
                                         : relative + kPathSeparator + name);
    }
  }
  return true;
}

}  // namespace zavo
