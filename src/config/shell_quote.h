// Quoting of values for a POSIX shell command line: a value put into a
// command template is quoted for the place where it stands, so that the
// shell reads exactly the value whatever characters it holds.

#ifndef ZAVO_CONFIG_SHELL_QUOTE_H_
#define ZAVO_CONFIG_SHELL_QUOTE_H_

#include <string>

namespace zavo {

// Quotes value for a POSIX shell as it would stand at the end of `before`:
// bare, inside "...", or inside '...', inside $( ) or ` ` levels too. A
// value that follows a "\" or a "$" is written so that neither joins it; in
// a comment a line end becomes a blank. The result is the text to put after
// `before`.
std::string QuoteForShell(const std::string& before, const std::string& value);

}  // namespace zavo

#endif  // ZAVO_CONFIG_SHELL_QUOTE_H_
