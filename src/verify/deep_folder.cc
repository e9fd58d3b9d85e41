#include "verify/deep_folder.h"

#include <algorithm>
#include <utility>

namespace zavo {

namespace {

// Far below the 4,096 bytes a path may have in one call on Linux: a name
// part of up to 255 bytes still fits after a stretch of this length.
constexpr std::size_t kStretch = 2048;

}  // namespace

std::string JoinRelative(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

Status OpenFolderBelow(const HeldFolder& top, const std::string& relative,
                       HeldFolder* folder) {
  if (relative.empty()) return top.Duplicate(folder);
  const HeldFolder* from = &top;
  HeldFolder reached;
  std::size_t start = 0;
  while (relative.size() - start > kStretch) {
    // A stretch ends at a separator, so that each is a path of whole parts.
    std::size_t end = relative.rfind('/', start + kStretch);
    if (end == std::string::npos || end <= start) {
      end = relative.find('/', start + 1);
      if (end == std::string::npos) break;
    }
    HeldFolder next;
    Status opened =
        from->OpenFolder(relative.substr(start, end - start), &next);
    if (!opened.ok()) return opened;
    reached = std::move(next);
    from = &reached;
    start = end + 1;
  }
  return from->OpenFolder(relative.substr(start), folder);
}

bool WalkTree(
    const HeldFolder& top, const std::vector<std::string>& skip,
    const std::function<bool(const std::string& relative, const DirEntry& entry,
                             const HeldFolder& holder)>& visit,
    std::string* failed) {
  // The folders still to list, by their paths below the top: a path costs
  // memory, an open folder a descriptor.
  std::vector<std::string> pending = {std::string()};
  std::vector<DirEntry> entries;
  while (!pending.empty()) {
    std::string folder_path = std::move(pending.back());
    pending.pop_back();
    HeldFolder folder;
    if (!OpenFolderBelow(top, folder_path, &folder) || !folder.List(&entries)) {
      *failed = folder_path.empty() ? "." : folder_path;
      return false;
    }
    std::sort(
        entries.begin(), entries.end(),
        [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    // Entered last first, so that the walk comes to them in name order.
    std::size_t mark = pending.size();
    for (const DirEntry& entry : entries) {
      if (folder_path.empty() &&
          std::find(skip.begin(), skip.end(), entry.name) != skip.end()) {
        continue;
      }
      std::string path = JoinRelative(folder_path, entry.name);
      if (visit(path, entry, folder) && (entry.attributes & kAttrFolder) != 0) {
        pending.push_back(std::move(path));
      }
    }
    std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(mark),
                 pending.end());
  }
  return true;
}

}  // namespace zavo
