#include "text/printable.h"

#include <cstdint>

#include "platform/os.h"

namespace zavo {

namespace {

// The length of the printable UTF-8 character at text[i], or 0 when the
// byte there starts none: not valid UTF-8 (overlong, a surrogate, past
// U+10FFFF, cut short), or a character that is no text to show.
std::size_t PrintableCharacter(const std::string& text, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return c >= 0x20 && c != 0x7F ? 1 : 0;
  std::size_t length;
  std::uint32_t code;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static const std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  // C1 controls, line and paragraph separators, bidirectional controls.
  if (code <= 0x9F || code == 0x2028 || code == 0x2029 ||
      (code >= 0x202A && code <= 0x202E) ||
      (code >= 0x2066 && code <= 0x2069)) {
    return 0;
  }
  return length;
}

void AppendEscape(unsigned char c, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  if (c == '\n') {
    *out += "\\n";
  } else if (c == '\r') {
    *out += "\\r";
  } else if (c == '\t') {
    *out += "\\t";
  } else {
    *out += "\\x";
    *out += kHex[c >> 4];
    *out += kHex[c & 15];
  }
}

// The length of the printable character at text[i] on this system; 0 for
// a byte that is escaped.
std::size_t PrintableLength(const std::string& text, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  return kIsWin32 ? (c >= 0x20 && c != 0x7F ? 1 : 0)
                  : PrintableCharacter(text, i);
}

}  // namespace

std::string PrintableName(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = PrintableLength(text, i);
    if (length == 0) {
      AppendEscape(static_cast<unsigned char>(text[i]), &out);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

std::vector<std::string> PrintablePieces(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t length = PrintableLength(text, i);
    pieces.emplace_back();
    if (length == 0) {
      AppendEscape(static_cast<unsigned char>(text[i]), &pieces.back());
      ++i;
    } else {
      pieces.back().assign(text, i, length);
      i += length;
    }
  }
  return pieces;
}

void PrintableLines::Feed(const char* data, std::size_t size,
                          std::string* out) {
  // A line without an end that grows past this is shown in parts.
  constexpr std::size_t kLongestLine = 65536;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      // CR LF ends a line as LF does: Win32 programs end theirs so.
      if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
      *out += PrintableName(pending_);
      *out += '\n';
      pending_.clear();
    } else {
      pending_ += data[i];
      if (pending_.size() >= kLongestLine) {
        *out += PrintableName(pending_);
        pending_.clear();
      }
    }
  }
}

void PrintableLines::Finish(std::string* out) {
  if (pending_.empty()) return;
  *out += PrintableName(pending_);
  *out += '\n';
  pending_.clear();
}

}  // namespace zavo
