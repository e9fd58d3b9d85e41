#include "verify/tree_changes.h"

#include "verify/deep_folder.h"

namespace zavo {

namespace {

bool Same(const EntryStatus& a, const EntryStatus& b) {
  if (a.kind != b.kind || a.identity != b.identity) return false;
  // A folder's time moves with every name made or removed in it, which
  // counts already.
  if (a.kind == EntryStatus::Kind::kFolder) return true;
  return a.size == b.size && a.modified_seconds == b.modified_seconds &&
         a.modified_nanoseconds == b.modified_nanoseconds;
}

}  // namespace

bool ReadTreeState(const HeldFolder& top, const std::vector<std::string>& skip,
                   TreeState* state) {
  state->clear();
  std::string failed;
  return WalkTree(
      top, skip,
      [state](const std::string& path, const DirEntry& entry,
              const HeldFolder& holder) {
        EntryStatus status;
        if (holder.Stat(entry.name, &status)) (*state)[path] = status;
        return true;
      },
      &failed);
}

int CountChanges(const TreeState& before, const TreeState& after) {
  int changes = 0;
  auto b = before.begin();
  auto a = after.begin();
  while (b != before.end() || a != after.end()) {
    if (a == after.end() || (b != before.end() && b->first < a->first)) {
      ++changes;  // removed
      ++b;
    } else if (b == before.end() || a->first < b->first) {
      ++changes;  // added
      ++a;
    } else {
      if (!Same(b->second, a->second)) ++changes;
      ++a;
      ++b;
    }
  }
  return changes;
}

}  // namespace zavo
