// The per-folder description list files: a text file of entries, each a file
// name and one or more lines of text, kept up to date when an archive in the
// folder gets a new name.
//
// The format, line by line:
//   name text                 an entry line: the name, one blank, the text
//   "name with blanks" text   the same for a name that holds a blank
//   <marker>text              a continuation line of the entry above it
// The marker is " >" for every list the converter looks after. Lines end in
// CR, LF, CR LF or LF CR on reading, and in line_end() on writing.
//
// A list file is the user's text. Rewriting it changes only the order of the
// entries (sorted by name, ignoring case) and the line ends, apart from the
// names that RenameEntry changes: every line read is written back with every
// byte it had, whatever its length. Reading and writing the file is the
// caller's: here a list is made from its text and turned back into text.

#ifndef ZAVO_FILELISTS_FILE_LIST_H_
#define ZAVO_FILELISTS_FILE_LIST_H_

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace zavo {

// The marker that begins a continuation line in every list the converter
// reads and writes.
constexpr char kContinuationMarker[] = " >";

// The file form of a name: wrapped in double quotes when it contains a blank,
// unchanged otherwise. The empty name stays empty.
std::string FileListName(const std::string& name);

// One line of an entry's text; an empty text is an empty line.
class FileListLine {
 public:
  explicit FileListLine(std::string text) : text_(std::move(text)) {}
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// One entry of a list: a name and its lines. The first line is the text on
// the entry line itself, the others are its continuation lines.
class FileListEntry {
 public:
  // An entry for the file name `name` given without quotes; it is stored in
  // its file form (see FileListName). The entry has no lines yet.
  explicit FileListEntry(const std::string& name);

  // An entry as read from a list file: `file_name` is already in its file
  // form, and `lead` is exactly the text that preceded the first line's text
  // on the entry line (for example "\"x.zip\" " or "" for a line without a
  // blank), so that the line is written back as it was read.
  FileListEntry(std::string file_name, std::string lead);

  // The name in its file form; the empty name belongs to lines that name no
  // file (lines without a blank, text before the first entry).
  const std::string& name() const { return name_; }
  // What is written before the first line's text on the entry line.
  const std::string& lead() const { return lead_; }
  const std::vector<FileListLine>& lines() const { return lines_; }

  // Appends a line holding `text` (the first call gives the entry line's
  // text, later calls continuation lines).
  void AddLine(const std::string& text);

  // Gives the entry the file name `name` (without quotes); from then on the
  // entry line is written as the name's file form, one blank and the text.
  void SetName(const std::string& name);

 private:
  std::string name_;
  std::string lead_;
  std::vector<FileListLine> lines_;
};

// The entries of one list file, sorted by their names in upper case
// (UpperText) compared as unsigned bytes. Entries whose names compare equal
// stay in the order they were inserted; look-ups find the first of them.
class FileList {
 public:
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const FileListEntry& entry(std::size_t index) const {
    return entries_[index];
  }
  const std::vector<FileListEntry>& entries() const { return entries_; }

  // Puts the entry at its sorted place, after every entry with an equal
  // name, and returns that place.
  std::size_t Insert(FileListEntry entry);

  // Removes the entry at `index` (which must be below size()) and hands it
  // to the caller.
  FileListEntry Take(std::size_t index);

  // The index of the first entry whose name (in file form) equals
  // `file_name` ignoring case, or -1 when there is none.
  int Find(const std::string& file_name) const;

  // The index of the first entry whose name (in file form) equals
  // `file_name` exactly, letter case included, or -1 when there is none.
  int FindExact(const std::string& file_name) const;

  // Removes every entry.
  void Clear();

  // The line end FormatFileList writes: CR LF on Win32; on POSIX the one
  // that ended the first line ParseFileList read, CR LF when it read none.
  const std::string& line_end() const { return line_end_; }

 private:
  friend void ParseFileList(const std::string& data, const std::string& marker,
                            FileList* list);

  std::vector<FileListEntry> entries_;
  std::string line_end_ = "\r\n";
};

// Replaces the content of *list by the entries of the list file text
// `data`, with `marker` beginning continuation lines. Lines (ended by CR,
// LF, CR LF or LF CR) are kept whole, however long.
void ParseFileList(const std::string& data, const std::string& marker,
                   FileList* list);

// The text of `list` in its sorted order, each entry line as it was read
// (or, for a new or renamed entry, the name's file form, one blank and the
// first text), each further line as `marker` and its text, every line
// ending in list.line_end().
std::string FormatFileList(const FileList& list, const std::string& marker);

// Gives the first entry named `old_name` the name `new_name` (both are file
// names without folder and without quotes). Where file names keep their
// letter case (POSIX), the entry named exactly `old_name` is taken when there
// is one; otherwise, and on Win32, the first entry whose name matches it
// ignoring case. The new name is stored in
// its file form, and moves the entry to its sorted place so that later
// look-ups still find every entry. Returns true when an entry was renamed.
// Returns false, changing nothing, when no entry has that name, when either
// name is empty, or when `new_name` could not be read back from a list file
// as the same name (it holds a line end, or double quotes that the entry
// line's syntax would take apart).
bool RenameEntry(FileList* list, const std::string& old_name,
                 const std::string& new_name);

// Adds an entry named `new_name` with the lines of the entry RenameEntry
// would rename, which stays as it is: for an old archive that stays beside
// its new one. Returns false, changing nothing, where RenameEntry would.
bool CopyEntry(FileList* list, const std::string& old_name,
               const std::string& new_name);

// The entries of a volume set's files become one entry named `new_name`:
// `volumes` names the volume that named the set first, then the others.
// The first of them that has an entry (found as RenameEntry finds it) is
// renamed; the others' entries go, and each of their lines that the kept
// entry does not hold already (compared exactly; empty lines add nothing)
// is added to it as a further line, in volume order, so no description is
// lost. Returns false, changing nothing, when none has an entry or
// `new_name` could not be read back (see RenameEntry).
bool RenameSetEntries(FileList* list, const std::vector<std::string>& volumes,
                      const std::string& new_name);

}  // namespace zavo

#endif  // ZAVO_FILELISTS_FILE_LIST_H_
