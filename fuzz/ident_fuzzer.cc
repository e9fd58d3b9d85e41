// Fuzzes the decoding of "ident" values and recognition by those bytes.
//
// Input: the ident text as an archivers file would hold it. Checked: the
// offset is what TextToInt gives for the first word; there is one byte per
// two hexadecimal characters of the second word (one for an odd last one,
// one for none), and each pair of real hexadecimal digits gives its own
// value; a file that holds the bytes at the offset is recognised, the same
// file with one of them changed or cut short is not.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archivers/archiver_definition.h"
#include "fuzz_support.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

// Recognition reads real files; offsets beyond this are only decoded.
constexpr std::int32_t kLargestFileOffset = 1 << 16;

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (c == ',') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Recognises(const std::string& ident, const std::string& file) {
  const std::string path = ScratchPath("ident.bin");
  WriteScratch(path, file);
  HeldFolder folder;
  HeldFile held;
  ZAVO_FUZZ_CHECK(HeldFolder::Open(PathFolder(path), &folder).ok(), path);
  ZAVO_FUZZ_CHECK(folder.OpenFile(PathFileName(path), &held).ok(), path);
  // An extension that the file does not have: only the bytes may decide.
  ArchiverDefinition definition("zz", ident, "", "", "");
  FileProbe probe(PathFileName(path), &held, 0);
  return definition.Matches(&probe);
}

}  // namespace
}  // namespace zavo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  using namespace zavo;
  const std::string ident(reinterpret_cast<const char*>(data), size);
  std::int32_t offset = -1;
  std::string bytes = "unset";
  DecodeIdent(ident, &offset, &bytes);
  if (ident.empty()) {
    ZAVO_FUZZ_CHECK(offset == 0 && bytes.empty(), ident);
    return 0;
  }

  const std::vector<std::string> words = Words(ident);
  const std::string first = words.empty() ? "" : TrimBlanks(words[0]);
  const std::string hex = words.size() > 1 ? TrimBlanks(words[1]) : "";
  ZAVO_FUZZ_CHECK(offset == TextToInt(first), ident);
  ZAVO_FUZZ_CHECK(bytes.size() == (hex.empty() ? 1 : (hex.size() + 1) / 2),
                  ident);
  if (hex.empty()) ZAVO_FUZZ_CHECK(bytes == std::string(1, '\0'), ident);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::string pair = hex.substr(2 * i, 2);
    int value = 0;
    bool valid = !pair.empty();
    for (char c : pair) {
      if (HexDigit(c) < 0) valid = false;
      value = value * 16 + HexDigit(c);
    }
    if (valid) {
      ZAVO_FUZZ_CHECK(static_cast<unsigned char>(bytes[i]) == value, ident);
    }
  }

  if (offset < 0 || offset > kLargestFileOffset) {
    // A negative offset never matches, whatever the file holds.
    if (offset < 0) {
      ZAVO_FUZZ_CHECK(!Recognises(ident, bytes + bytes), ident);
    }
    return 0;
  }
  const std::string padding(static_cast<std::size_t>(offset), 'p');
  ZAVO_FUZZ_CHECK(Recognises(ident, padding + bytes + "tail"), ident);
  ZAVO_FUZZ_CHECK(Recognises(ident, padding + bytes), ident);
  ZAVO_FUZZ_CHECK(!Recognises(ident, padding + bytes.substr(1)), ident);
  std::string changed = bytes;
  const std::size_t at = size % changed.size();
  changed[at] = static_cast<char>(changed[at] ^ 0x5A);
  ZAVO_FUZZ_CHECK(!Recognises(ident, padding + changed + "tail"), ident);
  return 0;
}
