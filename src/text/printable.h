// Names as zavo prints them. A file name may hold any byte but "/" and NUL:
// a newline in it could forge a report line, an escape sequence could
// drive the terminal. Every name that goes into a printed line passes here.

#ifndef ZAVO_TEXT_PRINTABLE_H_
#define ZAVO_TEXT_PRINTABLE_H_

#include <string>

namespace zavo {

// The text with every control character (0x00 to 0x1F and 0x7F) written as
// an escape: "\n", "\r", "\t" and "\xHH" for the others. A text without
// control characters comes back as it is, letters of any code page
// included.
std::string PrintableName(const std::string& text);

}  // namespace zavo

#endif  // ZAVO_TEXT_PRINTABLE_H_
