#include "config/settings_file.h"

#include <string>
#include <vector>

#include "config/config_lines.h"
#include "config/macro_engine.h"
#include "fs/file_tree.h"
#include "text/text_utils.h"

namespace zavo {

namespace {

constexpr char kDefineWord[] = "@Define";

// Splits off the first word (a run of characters other than blank and tab)
// of a trimmed line; *rest receives what follows the one character after
// it.
std::string FirstWord(const std::string& line, std::string* rest) {
  std::size_t end = 0;
  while (end < line.size() && !IsBlankOrTab(line[end])) ++end;
  *rest = end + 1 < line.size() ? line.substr(end + 1) : std::string();
  return line.substr(0, end);
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsBlankOrTab(text[pos])) ++pos;
    std::size_t end = pos;
    while (end < text.size() && !IsBlankOrTab(text[end])) ++end;
    if (end > pos) words.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return words;
}

// A value written in double quotes loses them; a lone quote at one end
// belongs to the value (a command that quotes its last word: clamscan
// "@Folder").
std::string StripQuotes(const std::string& text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
    return text;
  }
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == '"') ++begin;
  while (end > begin && text[end - 1] == '"') --end;
  return text.substr(begin, end - begin);
}

}  // namespace

SettingsFile::SettingsFile() : macros_(kMaxText) {
  macros_.set_functions_enabled(false);
}

void SettingsFile::AddKey(const std::string& name) {
  keys_.push_back(SettingKey{name, {}});
}

Status SettingsFile::Load(const std::string& path) {
  if (keys_.empty()) {
    return Status::Error("load settings [" + path + "]: no keys registered");
  }
  if (!FileExists(path)) {
    return Status::Error("load settings [" + path + "]: no such file", 0, true);
  }
  // Settings read only in part could switch off what the rest switches on,
  // so a file that cannot be read to its end is not used at all.
  std::string data;
  Status read = ReadWholeFile(path, &data);
  if (!read.ok()) return read.Within("load settings [" + path + "]: ");
  bad_lines_.clear();
  int line_number = 0;
  for (const std::string& line : SplitConfigLines(data)) {
    ++line_number;
    if (!ProcessLine(line)) bad_lines_.push_back(line_number);
  }
  return Status();
}

bool SettingsFile::ProcessLine(const std::string& raw) {
  std::string line = TrimBlanks(raw.substr(0, raw.find(';')));
  if (line.empty()) return true;
  // A longer value would have to be cut, and a cut path or command names
  // something else; the line is reported instead.
  if (line.size() > kMaxText) return false;

  // The line's form is decided by its first word as written, and macros are
  // substituted only in what follows it. A macro named like a part of a key
  // or of "@Define" thus cannot break those words, and "@Define X 2" after
  // "@Define X 1" redefines X instead of defining a macro named "1".
  std::string rest;
  std::string word = FirstWord(line, &rest);
  if (EqualNoCase(word, kDefineWord)) {
    std::vector<std::string> words = Words(rest);
    if (words.empty()) return true;
    std::string value = words.size() > 1 ? words[1] : std::string();
    if (!macros_.Expand(&value)) return false;
    macros_.Define(words[0], value, false);
    return true;
  }
  if (SettingKey* key = FindKey(word)) {
    if (!macros_.Expand(&rest)) return false;
    return KeyLine(key, rest);
  }

  // A line whose first word is neither may still become a key line through
  // its macros ("@Define K Scan" and then "K x").
  std::string expanded = line;
  if (!macros_.Expand(&expanded)) return false;
  expanded = TrimBlanks(expanded);
  if (expanded.empty()) return false;
  word = FirstWord(expanded, &rest);
  if (EqualNoCase(word, kDefineWord)) return DefineLine(rest);
  if (SettingKey* key = FindKey(word)) return KeyLine(key, rest);
  return false;
}

bool SettingsFile::DefineLine(const std::string& rest) {
  std::vector<std::string> words = Words(rest);
  if (!words.empty()) {
    macros_.Define(words[0], words.size() > 1 ? words[1] : std::string(),
                   false);
  }
  return true;
}

bool SettingsFile::KeyLine(SettingKey* key, const std::string& rest) {
  std::string value = StripQuotes(TrimBlanks(rest));
  if (!value.empty()) key->values.push_back(value);
  return true;
}

SettingsFile::SettingKey* SettingsFile::FindKey(const std::string& word) {
  for (SettingKey& key : keys_) {
    if (!key.name.empty() && EqualNoCase(key.name, word)) return &key;
  }
  return nullptr;
}

int SettingsFile::ValueCount(int key) const {
  if (key < 1 || key > static_cast<int>(keys_.size())) return 0;
  return static_cast<int>(keys_[key - 1].values.size());
}

std::string SettingsFile::Value(int key, int index) const {
  if (index < 1 || index > ValueCount(key)) return std::string();
  return keys_[key - 1].values[index - 1];
}

int SettingsFile::BadLineCount() const {
  return static_cast<int>(bad_lines_.size());
}

int SettingsFile::BadLine(int i) const {
  if (i < 1 || i > BadLineCount()) return -1;
  return bad_lines_[i - 1];
}

}  // namespace zavo
