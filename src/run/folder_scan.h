// The folder scan: the files of a folder that match the mask, in name
// order, then, when recursing, its subfolders the same way. Every folder is
// opened below the mask's folder, which is held for the whole scan, never
// through a link: a folder renamed or swapped for a link meanwhile leads
// nowhere outside the tree. However deep the tree, the scan holds one
// folder open at a time besides the top.

#ifndef ZAVO_RUN_FOLDER_SCAN_H_
#define ZAVO_RUN_FOLDER_SCAN_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "platform/file_system.h"
#include "text/status.h"

namespace zavo {

// A folder the scan is in: held, with its path for messages (ending in a
// separator) and its path below the top ("" for the top, parts joined by
// the separator).
struct ScannedFolder {
  const HeldFolder* held;
  std::string path;
  std::string relative;
  // Every entry the folder was listed with (files, links, folders), for
  // files that belong together, such as the volumes of a set; null for a
  // folder that could not be listed.
  const std::vector<DirEntry>* entries = nullptr;
};

struct ScanCalls {
  // Each file (no folder, link or volume label) whose name matches the
  // pattern, sorted by name. False stops the scan (the run stops).
  std::function<bool(const ScannedFolder&, const std::string& name)> file;
  // A folder that cannot be opened or listed (held is null then), and the
  // reason. Its files and subfolders are passed over.
  std::function<void(const ScannedFolder&, const Status& why)> unreadable;
  // Each subfolder named like a work folder, once the folder's files are
  // done, with or without recursion; it is never entered.
  std::function<void(const ScannedFolder&, const std::string& name)>
      work_folder;
};

// Scans the held folder `top`, shown as `top_path` (ending in a separator),
// for `pattern`; with `recurse`, its subfolders too, leaving out hidden
// folders (a leading '.') and work folders. Returns false as soon as
// `calls.file` returns false, else true.
bool ScanTree(const HeldFolder& top, const std::string& top_path,
              const std::string& pattern, bool recurse, const ScanCalls& calls);

}  // namespace zavo

#endif  // ZAVO_RUN_FOLDER_SCAN_H_
