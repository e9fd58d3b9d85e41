// The comparison of two folder trees, entry by entry: what the verification
// of a new archive rests on.

#ifndef ZAVO_FS_TREE_COMPARE_H_
#define ZAVO_FS_TREE_COMPARE_H_

#include <string>

#include "platform/dir_handle.h"

namespace zavo {

// Compares the tree below the held folder `expected` with the tree below the
// held folder `actual`: the same names in every folder, each of the same kind
// (file, folder, link), files of the same size and bytes, links with the
// same target, files and folders with the same permission bits (on Win32:
// the read-only attribute). A pipe, device or socket in `expected` is a
// difference in itself: nothing shows that a copy of it is faithful.
// `skip_name`, when not empty, is an entry at the top of `expected` that is
// left out. Links are never followed; file contents are read in fixed-size
// pieces, so memory does not grow with the files' sizes.
//
// Returns true when the trees agree. Otherwise false, with *difference
// naming the first difference found and the entry's path relative to the
// trees' tops, for example "[sub/a.txt] differs in its bytes"; an entry
// that cannot be listed, queried or read is a difference too.
bool CompareTrees(const HeldFolder& expected, const HeldFolder& actual,
                  const std::string& skip_name, std::string* difference);

}  // namespace zavo

#endif  // ZAVO_FS_TREE_COMPARE_H_
