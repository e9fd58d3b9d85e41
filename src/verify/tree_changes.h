// What a command changed in a tree, told by the tree's state before and
// after it: how the report counts the work of a Scan command.

#ifndef ZAVO_VERIFY_TREE_CHANGES_H_
#define ZAVO_VERIFY_TREE_CHANGES_H_

#include <map>
#include <string>
#include <vector>

#include "platform/dir_handle.h"

namespace zavo {

// Every entry below a folder by its path: its kind, identity, size and
// modification time.
using TreeState = std::map<std::string, EntryStatus>;

// Reads the state of the tree below `top`, leaving out the top entries
// `skip`. False when some folder cannot be listed.
bool ReadTreeState(const HeldFolder& top, const std::vector<std::string>& skip,
                   TreeState* state);

// The entries removed, added, or changed (another kind, file, size or
// time) between `before` and `after`.
int CountChanges(const TreeState& before, const TreeState& after);

}  // namespace zavo

#endif  // ZAVO_VERIFY_TREE_CHANGES_H_
