// Text as zavo prints it. A file name may hold any byte but "/" and NUL, and
// an archiver may print whatever an archive's names hold: a newline could
// forge a report line, an escape sequence (ESC, or CSI as the single C1 byte
// or its UTF-8 form C2 9B) could drive the terminal. Every line zavo writes
// passes here: the run's own lines, the status line and the archivers'
// collected output.

#ifndef ZAVO_TEXT_PRINTABLE_H_
#define ZAVO_TEXT_PRINTABLE_H_

#include <cstddef>
#include <string>
#include <vector>

namespace zavo {

// The text with every byte that is not printable written as an escape:
// "\n", "\r", "\t" and "\xHH" for the others. On POSIX names are UTF-8:
// printable ASCII and printable UTF-8 characters stay, and everything else
// is escaped byte by byte: control characters (C0, DEL and the C1 range
// U+0080 to U+009F), bytes that are no valid UTF-8, and the characters
// that reorder or break lines unseen (U+2028, U+2029, the bidirectional
// controls). On Win32 names are bytes of the console code page, whose upper
// half holds letters: only C0 and DEL are escaped there.
std::string PrintableName(const std::string& text);

// The pieces PrintableName makes of `text`, in order: each printable
// character as it is, each other byte as its escape. Joined, they are
// PrintableName(text); a piece is never split when text is cut.
std::vector<std::string> PrintablePieces(const std::string& text);

// The same escaping for text that arrives in pieces and is made of lines,
// such as an archiver's output: each line is escaped whole (so a character
// split between two pieces is not taken apart) and keeps its line end.
class PrintableLines {
 public:
  // Appends to *out the escaped lines that `data` completes.
  void Feed(const char* data, std::size_t size, std::string* out);
  // Appends the last line, when it had no line end, with one.
  void Finish(std::string* out);

 private:
  std::string pending_;
};

}  // namespace zavo

#endif  // ZAVO_TEXT_PRINTABLE_H_
