#include "config/sectioned_file.h"

#include <memory>
#include <string>
#include <vector>

#include "config/config_lines.h"
#include "fs/file_tree.h"
#include "platform/os.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

// Win32 files end their lines with CR LF, as every tool there expects. A
// POSIX file keeps the line end it was read with: an LF file edited with
// POSIX tools must not come back with a CR on every line.
std::string LineEndFor(const std::string& data) {
  return kIsWin32 ? "\r\n" : FirstLineEnd(data, "\n");
}

std::string SectionName(const std::string& name) {
  return TrimBlanks(name).empty() ? std::string(kDefaultSection) : name;
}

bool IsComment(const std::string& key) { return !key.empty() && key[0] == ';'; }

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

void Section::AddEntry(const std::string& key, const std::string& value) {
  entries_.push_back(SectionEntry{key, value});
}

int Section::IndexOfKey(const std::string& key) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (EqualNoCase(entries_[i].key, key)) return static_cast<int>(i);
  }
  return -1;
}

void Section::SetValue(int index, const std::string& value) {
  if (index >= 0 && index < static_cast<int>(entries_.size())) {
    entries_[index].value = value;
  }
}

bool Section::NextEntry(bool first, std::string* key, std::string* value) {
  int count = static_cast<int>(entries_.size());
  cursor_ = first ? 0 : (cursor_ < count ? cursor_ + 1 : count);
  at_end_ = cursor_ >= count;
  *key = at_end_ ? std::string() : entries_[cursor_].key;
  *value = at_end_ ? std::string() : entries_[cursor_].value;
  return !at_end_;
}

SectionedFile::SectionedFile() : line_end_(LineEndFor(std::string())) {}

Status SectionedFile::Load(const std::string& path) {
  file_name_ = path;
  sections_.clear();
  preamble_.clear();
  complete_ = true;
  at_end_ = true;
  cursor_ = -1;
  line_end_ = LineEndFor(std::string());
  if (!FileExists(path)) {
    return Status::Error("load [" + path + "]: no such file", 0, true);
  }
  std::string data;
  Status read = ReadWholeFile(path, &data);
  if (!read.ok()) {
    complete_ = false;
    return read.Within("load [" + path + "]: ");
  }
  line_end_ = LineEndFor(data);
  std::string current = kDefaultSection;
  std::vector<std::string> headers;
  // Comments and blank lines at the top describe the file, not a section:
  // as a section "Default" they would come first, and the first section is
  // the target archiver. They become one only when a key line follows
  // them before the first header.
  bool at_top = true;
  for (const std::string& raw : SplitConfigLines(data)) {
    std::string line = TrimBlanks(raw);
    if (!line.empty() && line[0] == '[') {
      at_top = false;
      LoadHeader(line, &current);
      headers.push_back(current);
    } else if (at_top && (line.empty() || IsComment(line))) {
      preamble_.push_back(line);
    } else {
      if (at_top) {
        at_top = false;
        for (const std::string& top : preamble_) LoadEntry(top, current);
        preamble_.clear();
      }
      LoadEntry(line, current);
    }
  }
  // A section exists only once it has a line; a header that never got one
  // would vanish from the file.
  for (const std::string& header : headers) {
    if (IndexOfSection(header) < 0) complete_ = false;
  }
  return Status();
}

void SectionedFile::LoadHeader(const std::string& line, std::string* current) {
  std::size_t begin = line.find_first_not_of("[]");
  std::string name;
  if (begin != std::string::npos) {
    std::size_t end = line.find_first_of("[]", begin);
    if (end == std::string::npos) end = line.size();
    name = line.substr(begin, end - begin);
  }
  *current = SectionName(name);
  std::string header = "[" + name + "]";
  if (line == header || line == "[" + name) return;
  // "[ZIP] ; the target" keeps its comment as the section's first line;
  // any other text after the name cannot be written back.
  std::string tail = line.compare(0, header.size(), header) == 0
                         ? TrimBlanks(line.substr(header.size()))
                         : std::string();
  if (IsComment(tail)) {
    Put(*current, tail, std::string());
  } else {
    complete_ = false;
  }
}

void SectionedFile::LoadEntry(const std::string& line,
                              const std::string& current) {
  if (IsComment(line)) {
    Put(current, line, std::string());
    return;
  }
  std::size_t equals = line.find('=');
  if (equals == std::string::npos) {
    Put(current, line, std::string());
    return;
  }
  // The value is everything after the first run of "=", so that a command
  // like "7z a -mx=9 @ArcName" keeps its own "=".
  std::size_t value_begin = line.find_first_not_of('=', equals);
  std::string value = value_begin == std::string::npos
                          ? std::string()
                          : TrimBlanks(line.substr(value_begin));
  // "k= =v" would be written "k==v" and read back as "v".
  if (!value.empty() && value[0] == '=') complete_ = false;
  Put(current, line.substr(0, equals), value);
}

Status SectionedFile::SaveAs(const std::string& path) {
  file_name_ = path;
  if (!complete_ || !RoundTrips()) {
    return Status::Error(
        "left [" + path +
        "] as it was: writing it back would lose some of its text");
  }
  std::string text = Text();
  std::string on_disk;
  bool exists = FileExists(path);
  if (exists && ReadWholeFile(path, &on_disk).ok() && on_disk == text) {
    return Status();
  }
  if (!exists && sections_.empty()) return Status();
  return ReplaceFileContents(path, text).Within("write [" + path + "]: ");
}

// Whether every name, key and value would read back as it is, which only
// Put from outside can break.
bool SectionedFile::RoundTrips() const {
  for (const Section& section : sections_) {
    const std::string& name = section.name();
    if (name.find_first_of("[]") != std::string::npos || HasLineBreak(name)) {
      return false;
    }
    for (const SectionEntry& entry : section.entries()) {
      if (HasLineBreak(entry.key) || HasLineBreak(entry.value)) return false;
      if (IsComment(entry.key)) continue;
      if (entry.key.find('=') != std::string::npos ||
          (!entry.key.empty() && entry.key[0] == '[') ||
          entry.key != TrimBlanks(entry.key) ||
          (!entry.value.empty() && entry.value[0] == '=') ||
          entry.value != TrimBlanks(entry.value)) {
        return false;
      }
    }
  }
  return true;
}

std::string SectionedFile::Text() const {
  const std::string& end = line_end_;
  std::string text;
  for (const std::string& line : preamble_) text += line + end;
  for (const Section& section : sections_) {
    text += "[" + section.name() + "]" + end;
    for (const SectionEntry& entry : section.entries()) {
      text += entry.key;
      if (!entry.value.empty()) text += "=" + entry.value;
      text += end;
    }
  }
  return text;
}

int SectionedFile::IndexOfSection(const std::string& name) const {
  std::string wanted = SectionName(name);
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    if (EqualNoCase(sections_[i].name(), wanted)) return static_cast<int>(i);
  }
  return -1;
}

bool SectionedFile::NextSection(bool first, std::string* name) {
  int count = static_cast<int>(sections_.size());
  cursor_ = first ? 0 : (cursor_ < count ? cursor_ + 1 : count);
  at_end_ = cursor_ >= count;
  *name = at_end_ ? std::string() : sections_[cursor_].name();
  return !at_end_;
}

std::string SectionedFile::ReadString(const std::string& section,
                                      const std::string& key) const {
  int s = IndexOfSection(section);
  if (s < 0) return std::string();
  int k = sections_[s].IndexOfKey(key);
  return k < 0 ? std::string() : sections_[s].entries()[k].value;
}

void SectionedFile::Put(const std::string& section, const std::string& key,
                        const std::string& value) {
  std::string name = SectionName(section);
  int s = IndexOfSection(name);
  if (s < 0) {
    sections_.emplace_back(name);
    s = static_cast<int>(sections_.size()) - 1;
  }
  Section& target = sections_[s];
  std::string k = TrimBlanks(key);
  std::string v = TrimBlanks(value);
  // Blank lines and comments are never merged.
  int existing = k.empty() || IsComment(k) ? -1 : target.IndexOfKey(k);
  if (existing >= 0) {
    target.SetValue(existing, v);
  } else {
    target.AddEntry(k, v);
  }
}

SectionedFileCache::~SectionedFileCache() {
  // A destructor has no one to tell; a caller that wants to know releases
  // the cache first (the files are then gone and this does nothing).
  const Status written = Release();
  (void)written;
}

SectionedFile* SectionedFileCache::GetFile(const std::string& path) {
  for (const std::unique_ptr<SectionedFile>& file : files_) {
    if (SamePath(file->file_name(), path)) return file.get();
  }
  files_.push_back(std::make_unique<SectionedFile>());
  // A file that is missing or cannot be read reads as empty, which is the
  // answer callers get.
  const Status read = files_.back()->Load(path);
  (void)read;
  return files_.back().get();
}

bool SectionedFileCache::NextSection(bool first, const std::string& path,
                                     std::string* name) {
  SectionedFile* file = GetFile(path);
  bool found = file->NextSection(first, name);
  at_end_ = file->at_end();
  return found;
}

std::string SectionedFileCache::ReadString(const std::string& path,
                                           const std::string& section,
                                           const std::string& key) {
  return GetFile(path)->ReadString(section, key);
}

Status SectionedFileCache::Release() {
  std::string errors;
  for (const std::unique_ptr<SectionedFile>& file : files_) {
    Status saved = file->SaveAs(file->file_name());
    if (!saved.ok()) errors += (errors.empty() ? "" : "; ") + saved.message();
  }
  files_.clear();
  return errors.empty() ? Status() : Status::Error(errors);
}

}  // namespace zavo
