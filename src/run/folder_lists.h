// The list files (file descriptions such as descript.ion) of the folder
// being converted: loaded when its first archive is converted, told of each
// renamed archive, and written back when the run leaves the folder.
//
// A list is read and written through the folder, which is held: it is
// opened without following a link or waiting, and only a regular file of
// at most kMaxListSize bytes is taken. Anything else under a list's name (a
// link, a pipe, a device, a file too large) is left as it is and said on
// standard error. A list is written back beside itself and renamed over
// the old one, with the old one's bits (set-ID bits never) and, where this
// process may give them, its owner and group; the old file is never opened
// for writing and never changed in place.

#ifndef ZAVO_RUN_FOLDER_LISTS_H_
#define ZAVO_RUN_FOLDER_LISTS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "conversion/archive_conversion.h"
#include "filelists/file_list.h"
#include "platform/dir_handle.h"
#include "text/sorted_text_list.h"

namespace zavo {

// The marker that begins a list entry's continuation lines.
constexpr char kListMarker[] = " >";
// The largest list file that is read: a description list is text a person
// writes.
constexpr std::int64_t kMaxListSize = std::int64_t{16} << 20;

class FolderLists : public ListKeeper {
 public:
  // `names` are the list files' names (the FileList setting); not owned,
  // it must outlive this object.
  explicit FolderLists(const SortedTextList& names) : names_(names) {}

  // Whether the lists of a folder are held.
  bool loaded() const { return loaded_; }

  // Loads the list files of `folder` (held: a hold of its own is kept),
  // shown as `path` (ending in a separator); a missing file gives an empty
  // list that is never written. Lists left as they are get a line each in
  // *notes (for standard error).
  void Load(const HeldFolder& folder, const std::string& path,
            std::vector<std::string>* notes);

  // Renames the entry of `old_name` to `new_name` in every list.
  void RenameEntry(const std::string& old_name, const std::string& new_name);
  // Gives `new_name` a copy of the entry of `old_name` in every list.
  void CopyEntry(const std::string& old_name, const std::string& new_name);
  // Whether Renamed copies entries instead (the old archive stays: --keep).
  void set_copy_entries(bool copy) { copy_entries_ = copy; }

  // ListKeeper: renames (or copies) the entry and writes the lists back at
  // once.
  void Renamed(const std::string& old_name, const std::string& new_name,
               std::vector<std::string>* unsaved) override;
  // ListKeeper: merges a set's entries into one (RenameSetEntries) and
  // writes the lists back at once.
  void SetRenamed(const std::vector<std::string>& volumes,
                  const std::string& new_name,
                  std::vector<std::string>* unsaved) override;

  // Writes back every list whose text changed over the file it was loaded
  // from. Returns true when every list that was due is written; the paths
  // of those that were not are added to *unsaved when given.
  bool Save(std::vector<std::string>* unsaved = nullptr);

  // Forgets the lists without writing them.
  void Clear();

 private:
  struct List {
    FileList entries;
    bool usable = false;  // an existing plain file, read whole
    std::string text;     // as it was read, or last written
    EntryStatus status;   // the file as it was opened
  };
  Status Write(const std::string& name, List* list);

  const SortedTextList& names_;
  HeldFolder folder_;
  std::string path_;
  bool loaded_ = false;
  bool copy_entries_ = false;
  // One list per name of names_, in its order.
  std::vector<std::unique_ptr<List>> lists_;
};

}  // namespace zavo

#endif  // ZAVO_RUN_FOLDER_LISTS_H_
