// The folder scan: the files of a folder that match the mask, in name
// order, then, when recursing, its subfolders the same way.

#ifndef ZAVO_DRIVER_FOLDER_SCAN_H_
#define ZAVO_DRIVER_FOLDER_SCAN_H_

#include <functional>
#include <string>

namespace zavo {

// Calls `visit` with the path of each file of `folder` (ending in a
// separator) whose name matches `pattern`, sorted by name; links, folders
// and volume labels are left out. With `recurse`, then scans each
// subfolder, sorted by name, leaving out hidden folders (a leading '.') and
// work folders. A folder that cannot be listed is passed over, and
// `unreadable` (when given) is called with its path, without the final
// separator, and the reason. Returns false as soon as `visit` returns false
// (the run stops), else true. Each folder of `folder` named like a work
// folder is passed to `work_folder` (when given) once the files are done,
// with or without `recurse`.
bool ScanFolder(
    const std::string& folder, const std::string& pattern, bool recurse,
    const std::function<bool(const std::string&)>& visit,
    const std::function<void(const std::string&, const std::string&)>&
        unreadable = nullptr,
    const std::function<void(const std::string&)>& work_folder = nullptr);

}  // namespace zavo

#endif  // ZAVO_DRIVER_FOLDER_SCAN_H_
