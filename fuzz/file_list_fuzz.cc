// Fuzzes the list files: whatever a list file holds, writing it back keeps
// every line it had (only the order of the entries and the line ends may
// change), what was written reads back and writes again byte for byte, and
// a renamed entry is found under its new name after a rewrite.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "filelists/file_list.h"
#include "fuzz_support.h"

namespace {

// The lines of a text as the list reader sees them: CR, LF, CR LF and LF CR
// end a line, and the last line needs no end.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      open = true;
      continue;
    }
    lines.push_back(line);
    line.clear();
    open = false;
    const char partner = c == '\r' ? '\n' : '\r';
    if (i + 1 < text.size() && text[i + 1] == partner) ++i;
  }
  if (open) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  const std::string text(reinterpret_cast<const char*>(data), size);

  FileList list;
  ParseFileList(text, kContinuationMarker, &list);
  const std::string saved = FormatFileList(list, kContinuationMarker);
  ZAVO_FUZZ_CHECK(SplitLines(saved) == SplitLines(text), saved);

  FileList reread;
  ParseFileList(saved, kContinuationMarker, &reread);
  ZAVO_FUZZ_CHECK(reread.size() <= list.size(), saved);
  ZAVO_FUZZ_CHECK(FormatFileList(reread, kContinuationMarker) == saved, saved);

  // Rename the first entry that names a file, as the converter does after
  // a conversion, and look for it under the new name after a rewrite.
  for (const FileListEntry& entry : list.entries()) {
    std::string name = entry.name();
    if (name.empty()) continue;
    if (name.size() > 1 && name.front() == '"' && name.back() == '"') {
      name = name.substr(1, name.size() - 2);
    }
    const std::string new_name = name + ".rar";
    if (!RenameEntry(&list, name, new_name)) break;
    ZAVO_FUZZ_CHECK(list.Find(FileListName(new_name)) >= 0, new_name);
    ParseFileList(FormatFileList(list, kContinuationMarker),
                  kContinuationMarker, &reread);
    ZAVO_FUZZ_CHECK(reread.Find(FileListName(new_name)) >= 0, new_name);
    ZAVO_FUZZ_CHECK(reread.size() == list.size(), new_name);
    break;
  }
  return 0;
}
