#include "archivers/archiver_definition.h"

#include <algorithm>

#include "text/text_utils.h"

namespace zavo {

namespace {

// The words of `text` between commas; empty words are never produced.
std::vector<std::string> CommaWords(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// Whether the file name of `path` ends in "." + extension, letter case
// ignored.
bool EndsWithExtension(const std::string& path, const std::string& extension) {
  const std::string name = PathFileName(path);
  if (name.size() <= extension.size()) return false;
  const std::size_t dot = name.size() - extension.size() - 1;
  return name[dot] == '.' && EqualNoCase(name.substr(dot + 1), extension);
}

}  // namespace

void DecodeIdent(const std::string& ident, std::int32_t* offset,
                 std::string* bytes) {
  *offset = 0;
  bytes->clear();
  if (ident.empty()) return;
  const std::vector<std::string> words = CommaWords(ident);
  if (!words.empty()) *offset = TextToInt(TrimBlanks(words[0]));
  std::string hex = words.size() > 1 ? TrimBlanks(words[1]) : std::string();
  // At least one byte, even from an empty hexadecimal text.
  do {
    const std::size_t take = std::min<std::size_t>(2, hex.size());
    const std::int32_t value = ParseNumber(hex.substr(0, take), 16);
    bytes->push_back(static_cast<char>(value & 0xFF));
    hex.erase(0, take);
  } while (!hex.empty());
}

ArchiverDefinition::ArchiverDefinition(const std::string& extension,
                                       const std::string& ident,
                                       const std::string& extract,
                                       const std::string& add,
                                       const std::string& test)
    : extension_(extension),
      extract_command_(extract),
      add_command_(add),
      test_command_(test) {
  DecodeIdent(ident, &ident_offset_, &ident_bytes_);
}

bool FileProbe::IsRegularFile() {
  if (regular_ < 0) {
    EntryStatus status;
    regular_ = file_ != nullptr && file_->is_open() &&
               file_->Stat(&status).ok() &&
               status.kind == EntryStatus::Kind::kFile;
  }
  return regular_ != 0;
}

const std::string& FileProbe::extension() {
  if (!extension_known_) {
    extension_ = PathExtension(name_);
    extension_known_ = true;
  }
  return extension_;
}

bool FileProbe::ReadAt(std::int32_t offset, std::size_t count,
                       std::string* bytes) {
  if (offset < 0 || !IsRegularFile()) return false;
  const std::size_t start = static_cast<std::size_t>(offset);
  if (start + count <= head_size_) {
    if (!head_loaded_) {
      head_loaded_ = true;
      // One read for every definition that looks within the head.
      head_.resize(head_size_);
      std::size_t got = 0;
      if (!file_->ReadAt(0, &head_[0], head_size_, &got).ok()) got = 0;
      head_.resize(got);
    }
    if (start + count > head_.size()) return false;
    bytes->assign(head_, start, count);
    return true;
  }
  bytes->assign(count, '\0');
  std::size_t got = 0;
  return file_->ReadAt(start, &(*bytes)[0], count, &got).ok() && got == count;
}

bool ArchiverDefinition::HasWholeExtension() const {
  return ident_bytes_.empty() && extension_.find('.') != std::string::npos;
}

std::string ArchiverDefinition::RenamedPath(
    const std::string& path, const std::string& new_extension) const {
  if (!HasWholeExtension() || !EndsWithExtension(path, extension_)) {
    return WithExtension(path, new_extension);
  }
  return path.substr(0, path.size() - extension_.size()) + new_extension;
}

bool ArchiverDefinition::Matches(FileProbe* probe) const {
  if (!probe->IsRegularFile()) return false;
  if (ident_bytes_.empty()) {
    if (HasWholeExtension()) {
      return EndsWithExtension(probe->name(), extension_);
    }
    return !extension_.empty() && EqualNoCase(probe->extension(), extension_);
  }
  std::string found;
  return probe->ReadAt(ident_offset_, ident_bytes_.size(), &found) &&
         found == ident_bytes_;
}

}  // namespace zavo
