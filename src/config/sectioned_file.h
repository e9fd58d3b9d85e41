// Sectioned definitions files ("[Name]" headers followed by "key=value"
// lines), kept in a cache that writes every file back in normalised form
// when it is released.

#ifndef ZAVO_CONFIG_SECTIONED_FILE_H_
#define ZAVO_CONFIG_SECTIONED_FILE_H_

#include <memory>
#include <string>
#include <vector>

#include "text/status.h"

namespace zavo {

// The name used for lines before the first header and for every header,
// argument or lookup whose section name is empty or only blanks and tabs.
constexpr char kDefaultSection[] = "Default";

// One line of a section. A blank line is an entry with an empty key and
// value; a comment is an entry whose key begins with ";" and holds the whole
// comment.
struct SectionEntry {
  std::string key;
  std::string value;
};

// Names and keys are compared in any letter case (UpperText), untrimmed.
class Section {
 public:
  explicit Section(const std::string& name) : name_(name) {}

  const std::string& name() const { return name_; }
  const std::vector<SectionEntry>& entries() const { return entries_; }

  // Appends an entry, whatever entries exist already.
  void AddEntry(const std::string& key, const std::string& value);
  // The 0-based index of the first entry with that key; -1 when none.
  int IndexOfKey(const std::string& key) const;
  void SetValue(int index, const std::string& value);

  // Enumerates the entries; an enumeration begins with `first` set. Returns
  // true with the next entry's key and value, or false (both empty) past
  // the last one, which also sets at_end().
  bool NextEntry(bool first, std::string* key, std::string* value);
  bool at_end() const { return at_end_; }

 private:
  std::string name_;
  std::vector<SectionEntry> entries_;
  bool at_end_ = true;
  int cursor_ = -1;
};

// One file in memory: its sections in order of first appearance. A header
// that occurs again adds to the first section of that name, and a key given
// twice in a section keeps its first place and its last value.
class SectionedFile {
 public:
  SectionedFile();

  // Remembers path as file_name() and reads the file, replacing what this
  // object held. Fails when the file does not exist (missing(): nothing is
  // read, and writing back later creates the file only if something was Put
  // into it) or cannot be read (nothing is read, and the file is never
  // written back).
  Status Load(const std::string& path);

  // Remembers path as file_name() and writes the normalised text there: the
  // preamble, then per section its header line and "key=value" per entry
  // (the key alone when the value is empty), each line ended by line_end().
  // The file is replaced whole or not at all, and is left alone when it
  // already holds that text. Fails when the write failed, or when
  // complete() is false (the file is then not touched, so that no text of
  // it is lost).
  Status SaveAs(const std::string& path);

  // False when writing back would lose or change text of the loaded file: a
  // header with text after its closing bracket (other than a comment), a
  // header with no line of its own section after it, a value that would
  // read back differently, or a file that could not be read. Such a file is
  // only read, never written.
  bool complete() const { return complete_; }

  // The 0-based index of the first section of that name; -1 when none.
  int IndexOfSection(const std::string& name) const;

  // Enumerates the sections; an enumeration begins with `first` set.
  // Returns true with the next section's name, or false (name empty) past
  // the last one, which also sets at_end().
  bool NextSection(bool first, std::string* name);
  bool at_end() const { return at_end_; }

  // The value of the first entry of that key in that section; empty when
  // the section or the key is missing.
  std::string ReadString(const std::string& section,
                         const std::string& key) const;

  // Stores value (trimmed) under key (trimmed) in the section, creating the
  // section at the end when it is missing. An entry of the same key gets
  // the new value; an empty key or a comment is always appended.
  void Put(const std::string& section, const std::string& key,
           const std::string& value);

  // The text SaveAs writes.
  std::string Text() const;

  const std::string& file_name() const { return file_name_; }
  const std::vector<Section>& sections() const { return sections_; }
  // The comment and blank lines before the first header, when no key line
  // comes before it; they belong to no section.
  const std::vector<std::string>& preamble() const { return preamble_; }
  // CR LF on Win32. On POSIX the line end of the file's first line as Load
  // read it, LF for a file without one (or not read).
  const std::string& line_end() const { return line_end_; }

 private:
  void LoadHeader(const std::string& line, std::string* current);
  void LoadEntry(const std::string& line, const std::string& current);
  bool RoundTrips() const;

  std::string file_name_;
  std::vector<Section> sections_;
  std::vector<std::string> preamble_;
  bool complete_ = true;
  bool at_end_ = true;
  int cursor_ = -1;
  std::string line_end_;
};

// The files a run has asked for, each read at most once, in the order they
// were first asked for. File names are compared as the platform compares
// paths (SamePath).
class SectionedFileCache {
 public:
  SectionedFileCache() = default;
  // Releases the cache (see Release) when that has not been done.
  ~SectionedFileCache();
  SectionedFileCache(const SectionedFileCache&) = delete;
  SectionedFileCache& operator=(const SectionedFileCache&) = delete;

  // The cached file of that name, or a new one loaded from it; a missing or
  // unreadable file gives an empty one. The cache owns it; the pointer is
  // good until Release.
  SectionedFile* GetFile(const std::string& path);

  // NextSection of the file; at_end() then tells that file's end flag.
  bool NextSection(bool first, const std::string& path, std::string* name);
  bool at_end() const { return at_end_; }

  std::string ReadString(const std::string& path, const std::string& section,
                         const std::string& key);

  // Writes every file back to its own name (SaveAs), in cache order, and
  // empties the cache. Fails when some file was left unwritten (it could not
  // be written, or writing it would have lost text), naming them. Files
  // left unwritten keep their contents.
  Status Release();
  // Empties the cache without writing anything: for files that were only
  // looked at, or that may not be changed.
  void Discard() { files_.clear(); }

 private:
  std::vector<std::unique_ptr<SectionedFile>> files_;
  bool at_end_ = true;
};

}  // namespace zavo

#endif  // ZAVO_CONFIG_SECTIONED_FILE_H_
