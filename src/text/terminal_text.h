// Text on one line of a terminal: the columns it takes, and a name cut to
// fit a number of columns. A status line that is wider than its terminal
// wraps, and cannot be erased by going back to its start.

#ifndef ZAVO_TEXT_TERMINAL_TEXT_H_
#define ZAVO_TEXT_TERMINAL_TEXT_H_

#include <cstddef>
#include <string>

namespace zavo {

// The columns that `printable` (text PrintableName made) takes on a
// terminal, never fewer than it does: on POSIX one for each UTF-8
// character, two for the wide characters of the East Asian scripts and the
// emoji blocks; on Win32 one for each byte of the console code page.
std::size_t TerminalColumns(const std::string& printable);

// `name` escaped as PrintableName escapes it, cut in the middle to take at
// most `columns`: its beginning, "...", and its end, which tells more (the
// extension, a volume's number). A cut never falls inside a character or
// an escape. Empty when not even "..." and a piece of the name fit.
std::string FitName(const std::string& name, std::size_t columns);

}  // namespace zavo

#endif  // ZAVO_TEXT_TERMINAL_TEXT_H_
