// Folders far below a held folder, reached without holding one descriptor
// per level of depth: a tree 1,500 folders deep is walked and compared
// under a descriptor limit of 1,024 as a flat one is.

#ifndef ZAVO_VERIFY_DEEP_FOLDER_H_
#define ZAVO_VERIFY_DEEP_FOLDER_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "platform/file_system.h"

namespace zavo {

// Opens the folder `relative` below `top` ("a/b/c": parts joined by '/';
// empty for `top` itself) into *folder. No part may be a link or "..", as
// HeldFolder::OpenFolder has it. A path longer than the system resolves at
// once is resolved a stretch at a time, each stretch from the folder the
// one before reached, so that no more than two descriptors are held. Fails
// when any part is missing or no folder.
Status OpenFolderBelow(const HeldFolder& top, const std::string& relative,
                       HeldFolder* folder);

// Calls `visit` for every entry below `top`, each folder's entries before
// those of the folders in it, with the entry's path relative to `top` and
// the folder that holds it (open while `visit` runs). Folders are entered
// only where `visit` returns true. Only one folder is held at a time: each
// is opened from `top` again. Entries at the top named in `skip` are left
// out. False, with *failed naming the folder, when one cannot be opened or
// listed; the walk stops there.
bool WalkTree(
    const HeldFolder& top, const std::vector<std::string>& skip,
    const std::function<bool(const std::string& relative, const DirEntry& entry,
                             const HeldFolder& holder)>& visit,
    std::string* failed);

// "a/b" and "c" give "a/b/c"; "" and "c" give "c".
std::string JoinRelative(const std::string& folder, const std::string& name);

}  // namespace zavo

#endif  // ZAVO_VERIFY_DEEP_FOLDER_H_
