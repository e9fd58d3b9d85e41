#include "driver/folder_scan.h"

#include <algorithm>
#include <vector>

#include "fs/work_names.h"
#include "platform/file_system.h"
#include "platform/os.h"

namespace zavo {

bool ScanFolder(const std::string& folder, const std::string& pattern,
                bool recurse,
                const std::function<bool(const std::string&)>& visit) {
  // Names are taken before anything is converted, so the listing never
  // races with the archives and work folders made beside them.
  std::vector<std::string> files;
  if (auto listing = ListFolderKinds(folder + pattern)) {
    DirEntry entry;
    while (listing->Next(&entry)) {
      // A link is not followed: converting through it would replace the
      // link with an archive and leave its target as it was.
      if ((entry.attributes & (kAttrFolder | kAttrVolume | kAttrLink)) == 0) {
        files.push_back(entry.name);
      }
    }
  }
  // Sorted, so that a run's order and its report do not depend on how the
  // file system happens to return names.
  std::sort(files.begin(), files.end());
  for (const std::string& name : files) {
    if (!visit(folder + name)) return false;
  }
  if (!recurse) return true;
  std::vector<std::string> folders;
  if (auto listing = ListFolderKinds(folder + "*.*")) {
    DirEntry entry;
    while (listing->Next(&entry)) {
      if (!entry.name.empty() && entry.name[0] != '.' &&
          (entry.attributes & kAttrFolder) != 0 &&
          !IsWorkFolderName(entry.name)) {
        folders.push_back(entry.name);
      }
    }
  }
  std::sort(folders.begin(), folders.end());
  for (const std::string& name : folders) {
    if (!ScanFolder(folder + name + kPathSeparator, pattern, recurse, visit)) {
      return false;
    }
  }
  return true;
}

}  // namespace zavo
