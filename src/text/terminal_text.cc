#include "text/terminal_text.h"

#include <cstdint>
#include <vector>

#include "platform/os.h"
#include "text/printable.h"

namespace zavo {

namespace {

constexpr char kEllipsis[] = "...";
constexpr std::size_t kEllipsisColumns = 3;

// The blocks whose characters a terminal draws two columns wide: Hangul
// Jamo, CJK radicals to Yi, Hangul syllables, CJK compatibility, vertical
// and fullwidth forms, the emoji and pictograph blocks, and the
// supplementary ideographic planes. A wider guess than a terminal's only
// leaves the line shorter; a narrower one would let it wrap.
bool IsWide(std::uint32_t code) {
  static const std::uint32_t kWide[][2] = {
      {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},
      {0x23E9, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
      {0x2648, 0x2653},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},
      {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
      {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F5},
      {0x26FA, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
      {0x2728, 0x2728},   {0x274C, 0x274E},   {0x2753, 0x2757},
      {0x2795, 0x2797},   {0x27B0, 0x27BF},   {0x2B1B, 0x2B1C},
      {0x2B50, 0x2B55},   {0x2E80, 0xA4CF},   {0xA960, 0xA97F},
      {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
      {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
      {0x16FE0, 0x18AFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004},
      {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
      {0x1F200, 0x1F2FF}, {0x1F300, 0x1F64F}, {0x1F680, 0x1F6FF},
      {0x1F7E0, 0x1F7EB}, {0x1F90C, 0x1F9FF}, {0x1FA70, 0x1FAFF},
      {0x20000, 0x3FFFD},
  };
  for (const auto& block : kWide) {
    if (code >= block[0] && code <= block[1]) return true;
  }
  return false;
}

}  // namespace

std::size_t TerminalColumns(const std::string& printable) {
  if (kIsWin32) return printable.size();
  std::size_t columns = 0;
  std::size_t i = 0;
  while (i < printable.size()) {
    unsigned char c = static_cast<unsigned char>(printable[i]);
    std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::uint32_t code = length == 1 ? c
                                     : c & (length == 2   ? 0x1F
                                            : length == 3 ? 0x0F
                                                          : 0x07);
    for (std::size_t k = 1; k < length && i + k < printable.size(); ++k) {
      code =
          (code << 6) | (static_cast<unsigned char>(printable[i + k]) & 0x3F);
    }
    columns += IsWide(code) ? 2 : 1;
    i += length;
  }
  return columns;
}

std::string FitName(const std::string& name, std::size_t columns) {
  std::vector<std::string> pieces = PrintablePieces(name);
  std::vector<std::size_t> widths;
  std::size_t total = 0;
  for (const std::string& piece : pieces) {
    widths.push_back(TerminalColumns(piece));
    total += widths.back();
  }
  if (total <= columns) {
    std::string whole;
    for (const std::string& piece : pieces) whole += piece;
    return whole;
  }
  if (columns < kEllipsisColumns + 2) return std::string();
  const std::size_t room = columns - kEllipsisColumns;
  // The end gets the larger half.
  std::size_t head_room = room / 2;
  std::size_t tail_room = room - head_room;
  std::size_t head_end = 0;
  std::size_t used = 0;
  while (head_end < pieces.size() && used + widths[head_end] <= head_room) {
    used += widths[head_end++];
  }
  // What the beginning could not use (a wide character or an escape that
  // did not fit) goes to the end.
  tail_room += head_room - used;
  std::size_t tail_begin = pieces.size();
  used = 0;
  while (tail_begin > head_end && used + widths[tail_begin - 1] <= tail_room) {
    used += widths[--tail_begin];
  }
  if (head_end == 0 && tail_begin == pieces.size()) return std::string();
  std::string fitted;
  for (std::size_t i = 0; i < head_end; ++i) fitted += pieces[i];
  fitted += kEllipsis;
  for (std::size_t i = tail_begin; i < pieces.size(); ++i) fitted += pieces[i];
  return fitted;
}

}  // namespace zavo
