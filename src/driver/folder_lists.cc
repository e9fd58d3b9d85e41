#include "driver/folder_lists.h"

#include "fs/file_tree.h"
#include "platform/file_system.h"

namespace zavo {

bool FolderLists::Load(const std::string& folder) {
  Clear();
  folder_ = folder;
  loaded_ = true;
  bool ok = true;
  for (const std::string& name : names_) {
    lists_.emplace_back(new FileList());
    std::string path = folder + name;
    if (FileExists(path) &&
        !LoadFileList(lists_.back().get(), path, kListMarker)) {
      ok = false;
    }
  }
  return ok;
}

void FolderLists::RenameEntry(const std::string& old_name,
                              const std::string& new_name) {
  for (auto& list : lists_) {
    // False only when a list has no entry for the archive, which most
    // archives have not.
    zavo::RenameEntry(list.get(), old_name, new_name);
  }
}

bool FolderLists::Save(std::vector<std::string>* unsaved) {
  bool ok = true;
  for (std::size_t i = 0; i < lists_.size(); ++i) {
    std::string path = folder_ + names_[i];
    if (!FileExists(path)) continue;
    FileAttributes saved;
    bool read_only =
        GetFileAttributes(path, &saved) && (saved.bits & kAttrReadOnly) != 0;
    // A failure to make the file writable shows as the save's failure.
    if (read_only) MakeFileWritable(path);
    bool saved_list = SaveFileList(*lists_[i], path, kListMarker);
    if (read_only && !RestoreFileAttributes(path, saved)) saved_list = false;
    if (!saved_list) {
      ok = false;
      if (unsaved != nullptr) unsaved->push_back(path);
    }
  }
  return ok;
}

void FolderLists::Clear() {
  lists_.clear();
  folder_.clear();
  loaded_ = false;
}

}  // namespace zavo
