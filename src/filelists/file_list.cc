#include "filelists/file_list.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// The parts of an entry line: the name as written between its quotes or
// before its first blank, and where the first line's text begins. The text
// is always the rest of the line, so the line is the lead (everything before
// text_start) followed by the text.
struct EntryLineParts {
  std::string name;
  std::size_t text_start = 0;
};

EntryLineParts SplitAtBlank(const std::string& line, std::size_t from) {
  EntryLineParts parts;
  const std::size_t blank = line.find(' ', from);
  if (blank == std::string::npos) {
    // A line without a blank names no file: all of it is text.
    parts.text_start = from;
    return parts;
  }
  parts.name = line.substr(from, blank - from);
  parts.text_start = blank + 1;
  return parts;
}

EntryLineParts SplitEntryLine(const std::string& line) {
  if (line.empty() || line[0] != '"') return SplitAtBlank(line, 0);
  // Quotes at the start are all taken as the opening one, however many.
  const std::size_t name_start = line.find_first_not_of('"');
  if (name_start == std::string::npos) {
    EntryLineParts parts;
    parts.text_start = line.size();
    return parts;
  }
  const std::size_t close = line.find('"', name_start);
  if (close == std::string::npos) return SplitAtBlank(line, name_start);
  EntryLineParts parts;
  parts.name = line.substr(name_start, close - name_start);
  parts.text_start = close + 1;
  if (parts.text_start < line.size() && line[parts.text_start] == ' ') {
    ++parts.text_start;
  }
  return parts;
}

bool StartsWith(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// Whether an entry line written with this name reads back as the same name
// with the same text. Names that fail it would be taken apart on the next
// load, or would split the entry line in two.
bool NameSurvivesRoundTrip(const std::string& name) {
  if (name.empty() || name.find_first_of("\r\n") != std::string::npos) {
    return false;
  }
  const std::string line = FileListName(name) + " x";
  const EntryLineParts parts = SplitEntryLine(line);
  return parts.name == name &&
         line.compare(parts.text_start, std::string::npos, "x") == 0;
}

}  // namespace

std::string FileListName(const std::string& name) {
  if (name.find(' ') == std::string::npos) return name;
  return "\"" + name + "\"";
}

FileListEntry::FileListEntry(const std::string& name) { SetName(name); }

FileListEntry::FileListEntry(std::string file_name, std::string lead)
    : name_(std::move(file_name)), lead_(std::move(lead)) {}

void FileListEntry::AddLine(const std::string& text) {
  lines_.emplace_back(text);
}

void FileListEntry::SetName(const std::string& name) {
  name_ = FileListName(name);
  lead_ = name_ + " ";
}

std::size_t FileList::Insert(FileListEntry entry) {
  // Upper bound, so that entries of equal names keep the order of the file
  // and the first of them stays the one that look-ups find.
  const auto place =
      std::upper_bound(entries_.begin(), entries_.end(), entry.name(),
                       [](const std::string& name, const FileListEntry& other) {
                         return CompareNoCase(name, other.name()) < 0;
                       });
  const auto inserted = entries_.insert(place, std::move(entry));
  return static_cast<std::size_t>(inserted - entries_.begin());
}

FileListEntry FileList::Take(std::size_t index) {
  FileListEntry entry = std::move(entries_[index]);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  return entry;
}

int FileList::Find(const std::string& file_name) const {
  const auto place =
      std::lower_bound(entries_.begin(), entries_.end(), file_name,
                       [](const FileListEntry& other, const std::string& name) {
                         return CompareNoCase(other.name(), name) < 0;
                       });
  if (place == entries_.end() || !EqualNoCase(place->name(), file_name)) {
    return -1;
  }
  return static_cast<int>(place - entries_.begin());
}

int FileList::FindExact(const std::string& file_name) const {
  int first = Find(file_name);
  if (first < 0) return -1;
  for (std::size_t i = static_cast<std::size_t>(first);
       i < entries_.size() && EqualNoCase(entries_[i].name(), file_name); ++i) {
    if (entries_[i].name() == file_name) return static_cast<int>(i);
  }
  return -1;
}

void FileList::Clear() {
  entries_.clear();
  line_end_ = "\r\n";
}

void ParseFileList(const std::string& data, const std::string& marker,
                   FileList* list) {
  list->Clear();
  bool have_current = false;
  FileListEntry current("");
  std::size_t at = 0;
  while (at < data.size()) {
    // CR, LF, CR LF and LF CR end a line; the last line needs no end.
    std::size_t end = data.find_first_of("\r\n", at);
    std::size_t next = end;
    if (end == std::string::npos) {
      end = next = data.size();
    } else {
      next = end + 1;
      if (next < data.size() && data[next] != data[end] &&
          (data[next] == '\r' || data[next] == '\n')) {
        ++next;
      }
    }
    const std::string line = data.substr(at, end - at);
    // A list kept with POSIX tools keeps its LF line ends; lists on Win32
    // are CR LF files, as DOS and Windows tools write them.
    if (at == 0 && !kIsWin32 && next > end) {
      list->line_end_ = data.substr(end, next - end);
    }
    at = next;
    if (have_current && StartsWith(line, marker)) {
      current.AddLine(line.substr(marker.size()));
      continue;
    }
    if (have_current) list->Insert(std::move(current));
    if (StartsWith(line, marker)) {
      // Continuation lines before the first entry line: they become an
      // entry of their own without a name, written back as they were, so
      // that they stay at the top of the file on every rewrite.
      current = FileListEntry(std::string(), marker);
      current.AddLine(line.substr(marker.size()));
    } else {
      const EntryLineParts parts = SplitEntryLine(line);
      current = FileListEntry(FileListName(parts.name),
                              line.substr(0, parts.text_start));
      current.AddLine(line.substr(parts.text_start));
    }
    have_current = true;
  }
  if (have_current) list->Insert(std::move(current));
}

std::string FormatFileList(const FileList& list, const std::string& marker) {
  std::string data;
  for (const FileListEntry& entry : list.entries()) {
    data += entry.lead();
    const std::vector<FileListLine>& lines = entry.lines();
    if (!lines.empty()) data += lines[0].text();
    data += list.line_end();
    for (std::size_t i = 1; i < lines.size(); ++i) {
      data += marker;
      data += lines[i].text();
      data += list.line_end();
    }
  }
  return data;
}

namespace {

// The entry of the file `name`: where names keep their case, "a.zip" and
// "A.ZIP" are two files, and each entry follows its own file.
int FindEntryOf(const FileList& list, const std::string& name) {
  if (name.empty()) return -1;
  const std::string file_name = FileListName(name);
  int index = kNamesIgnoreCase ? -1 : list.FindExact(file_name);
  if (index < 0) index = list.Find(file_name);
  return index;
}

}  // namespace

bool RenameEntry(FileList* list, const std::string& old_name,
                 const std::string& new_name) {
  if (old_name.empty() || !NameSurvivesRoundTrip(new_name)) return false;
  const int index = FindEntryOf(*list, old_name);
  if (index < 0) return false;
  FileListEntry entry = list->Take(static_cast<std::size_t>(index));
  entry.SetName(new_name);
  // Left at its old place, the entry would break the order that every
  // binary search relies on, and later renames in the folder could miss.
  list->Insert(std::move(entry));
  return true;
}

bool CopyEntry(FileList* list, const std::string& old_name,
               const std::string& new_name) {
  if (old_name.empty() || !NameSurvivesRoundTrip(new_name)) return false;
  const int index = FindEntryOf(*list, old_name);
  if (index < 0) return false;
  FileListEntry copy = list->entry(static_cast<std::size_t>(index));
  copy.SetName(new_name);
  list->Insert(std::move(copy));
  return true;
}

bool RenameSetEntries(FileList* list, const std::vector<std::string>& volumes,
                      const std::string& new_name) {
  if (!NameSurvivesRoundTrip(new_name)) return false;
  std::vector<FileListEntry> found;
  for (const std::string& volume : volumes) {
    const int index = FindEntryOf(*list, volume);
    if (index >= 0)
      found.push_back(list->Take(static_cast<std::size_t>(index)));
  }
  if (found.empty()) return false;
  FileListEntry kept = std::move(found.front());
  for (std::size_t i = 1; i < found.size(); ++i) {
    for (const FileListLine& line : found[i].lines()) {
      const std::vector<FileListLine>& has = kept.lines();
      if (line.text().empty() ||
          std::any_of(has.begin(), has.end(), [&](const FileListLine& own) {
            return own.text() == line.text();
          })) {
        continue;
      }
      kept.AddLine(line.text());
    }
  }
  kept.SetName(new_name);
  list->Insert(std::move(kept));
  return true;
}

}  // namespace zavo
