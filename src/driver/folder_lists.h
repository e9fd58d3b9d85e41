// The list files (file descriptions such as descript.ion) of the folder
// being converted: loaded when its first archive is converted, told of each
// renamed archive, and written back when the run leaves the folder.

#ifndef ZAVO_DRIVER_FOLDER_LISTS_H_
#define ZAVO_DRIVER_FOLDER_LISTS_H_

#include <memory>
#include <string>
#include <vector>

#include "driver/sorted_text_list.h"
#include "filelists/file_list.h"

namespace zavo {

// The marker that begins a list entry's continuation lines.
constexpr char kListMarker[] = " >";

class FolderLists {
 public:
  // `names` are the list files' names (the FileList setting); not owned,
  // it must outlive this object.
  explicit FolderLists(const SortedTextList& names) : names_(names) {}

  // Whether the lists of a folder are held.
  bool loaded() const { return loaded_; }

  // Loads the list files of `folder` (ending in a separator); a missing file
  // gives an empty list. Returns true when every existing file was read
  // whole; a list read only in part is held but never written back.
  bool Load(const std::string& folder);

  // Renames the entry of `old_name` to `new_name` in every list.
  void RenameEntry(const std::string& old_name, const std::string& new_name);

  // Writes the lists back over the files they were loaded from, keeping a
  // read-only file read-only; a list whose file has gone is not written.
  // Returns true when every list that was due is written; the paths of those
  // that were not are added to *unsaved when given.
  bool Save(std::vector<std::string>* unsaved = nullptr);

  // Forgets the lists without writing them.
  void Clear();

 private:
  const SortedTextList& names_;
  std::string folder_;
  bool loaded_ = false;
  // One list per name of names_, in its order.
  std::vector<std::unique_ptr<FileList>> lists_;
};

}  // namespace zavo

#endif  // ZAVO_DRIVER_FOLDER_LISTS_H_
