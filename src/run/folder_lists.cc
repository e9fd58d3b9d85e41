#include "run/folder_lists.h"

#include "fs/work_names.h"
#include "platform/os.h"

namespace zavo {

namespace {

constexpr std::uint32_t kSetIdBits = 07000;
constexpr std::uint32_t kGroupBits = 0070;

// Reads the whole regular file `file` of `size` bytes into *text.
Status ReadAll(const HeldFile& file, std::int64_t size, std::string* text) {
  text->assign(static_cast<std::size_t>(size), '\0');
  std::size_t got = 0;
  Status read =
      size > 0 ? file.ReadAt(0, &(*text)[0], text->size(), &got) : Status();
  if (!read.ok()) return read;
  // A file that changed while it was read is not taken: a list is never
  // written back from part of itself.
  char more;
  std::size_t past = 0;
  read = file.ReadAt(static_cast<std::uint64_t>(size), &more, 1, &past);
  if (!read.ok()) return read;
  if (got != text->size() || past != 0) {
    return Status::Error("read(" + file.path() + "): it changed while read");
  }
  return Status();
}

}  // namespace

void FolderLists::Load(const HeldFolder& folder, const std::string& path,
                       std::vector<std::string>* notes) {
  Clear();
  loaded_ = true;
  path_ = path;
  if (!folder.Duplicate(&folder_).ok()) return;
  for (const std::string& name : names_) {
    lists_.emplace_back(new List());
    List& list = *lists_.back();
    HeldFile file;
    Status opened = folder_.OpenFile(name, &file);
    if (!opened.ok() && opened.missing()) continue;
    std::string why;
    if (!opened.ok()) {
      why = opened.Reason();
    } else if (!file.Stat(&list.status).ok() ||
               list.status.kind != EntryStatus::Kind::kFile) {
      why = "not a plain file";
    } else if (list.status.size > kMaxListSize) {
      why = "larger than " + std::to_string(kMaxListSize >> 20) + " MiB";
    } else {
      Status read = ReadAll(file, list.status.size, &list.text);
      if (!read.ok()) why = read.Reason();
    }
    if (!why.empty()) {
      notes->push_back("list [" + path_ + name + "] left as it is: " + why);
      continue;
    }
    ParseFileList(list.text, kListMarker, &list.entries);
    list.usable = true;
  }
}

void FolderLists::RenameEntry(const std::string& old_name,
                              const std::string& new_name) {
  for (auto& list : lists_) {
    // False only when a list has no entry for the archive, which most
    // archives have not.
    if (list->usable) zavo::RenameEntry(&list->entries, old_name, new_name);
  }
}

void FolderLists::CopyEntry(const std::string& old_name,
                            const std::string& new_name) {
  for (auto& list : lists_) {
    if (list->usable) zavo::CopyEntry(&list->entries, old_name, new_name);
  }
}

void FolderLists::Renamed(const std::string& old_name,
                          const std::string& new_name,
                          std::vector<std::string>* unsaved) {
  if (copy_entries_) {
    CopyEntry(old_name, new_name);
  } else {
    RenameEntry(old_name, new_name);
  }
  Save(unsaved);
}

void FolderLists::SetRenamed(const std::vector<std::string>& volumes,
                             const std::string& new_name,
                             std::vector<std::string>* unsaved) {
  for (auto& list : lists_) {
    if (!list->usable) continue;
    if (!copy_entries_) {
      RenameSetEntries(&list->entries, volumes, new_name);
      continue;
    }
    // The volumes stay, each with its entry: the new archive gets a copy of
    // the first one's that has one.
    for (const std::string& volume : volumes) {
      if (zavo::CopyEntry(&list->entries, volume, new_name)) break;
    }
  }
  Save(unsaved);
}

bool FolderLists::Save(std::vector<std::string>* unsaved) {
  bool ok = true;
  for (std::size_t i = 0; i < lists_.size(); ++i) {
    List& list = *lists_[i];
    if (!list.usable) continue;
    // Most lists have not changed, and rewriting them would only disturb
    // their file times.
    if (FormatFileList(list.entries, kListMarker) == list.text) continue;
    if (!Write(names_[i], &list).ok()) {
      ok = false;
      if (unsaved != nullptr) unsaved->push_back(path_ + names_[i]);
    }
  }
  return ok;
}

Status FolderLists::Write(const std::string& name, List* list) {
  const std::string text = FormatFileList(list->entries, kListMarker);
  // The list as it was opened must still be there: a list someone replaced
  // meanwhile is theirs, and stays.
  EntryStatus now;
  Status step = folder_.Stat(name, &now);
  if (step.ok() && (now.kind != EntryStatus::Kind::kFile ||
                    (list->status.identity.known() &&
                     now.identity != list->status.identity))) {
    step = Status::Error(name + " was replaced meanwhile");
  }
  if (!step.ok()) return step;
  // A text file needs no set-ID bits: a copy of them on a file this process
  // made could lend its rights to whoever may write the list.
  const std::uint32_t mode = list->status.mode & ~kSetIdBits;
  HeldFile out;
  std::string temp;
  for (int draw = 0; draw < 64; ++draw) {
    temp = "." + name + "." + TimeStampName() + ".zvt";
    step = folder_.NewFile(temp, 0600, &out);
    if (step.ok()) break;
  }
  if (!step.ok()) return step;
  EntryStatus made;
  step = out.Write(text.data(), text.size());
  if (step.ok()) step = out.Stat(&made);
  if (step.ok()) {
    std::uint32_t kept = mode;
    if ((made.owner != list->status.owner ||
         made.group != list->status.group) &&
        !out.SetOwner(list->status.owner, list->status.group).ok() &&
        made.group != list->status.group &&
        !out.SetOwner(made.owner, list->status.group).ok()) {
      // A group that cannot be kept gets nothing.
      kept &= ~kGroupBits;
    }
    step = out.SetMode(kept);
  }
  if (step.ok()) step = out.Sync();
  out.Close();
  if (step.ok()) step = folder_.Rename(temp, folder_, name, true);
  if (!step.ok()) {
    folder_.Unlink(temp);
    return step;
  }
  folder_.Sync();
  // What was written is what a later save compares with.
  list->text = text;
  if (!folder_.Stat(name, &list->status).ok()) list->usable = false;
  return Status();
}

void FolderLists::Clear() {
  lists_.clear();
  folder_.Close();
  path_.clear();
  loaded_ = false;
}

}  // namespace zavo
