// Quoting of values for a POSIX shell command line. A value may stand only
// where its reading can be proven: as or within a plain word, or inside
// "..." or '...' at the top level of the command. There it is quoted so that
// the shell reads exactly the value, whatever characters it holds; a
// template that puts a value anywhere else is refused before it is run.

#ifndef ZAVO_CONFIG_SHELL_QUOTE_H_
#define ZAVO_CONFIG_SHELL_QUOTE_H_

#include <string>
#include <vector>

namespace zavo {

// Where the shell's reader stands at the end of a text.
enum class ShellPlace {
  kWord,          // at the top level, outside quotes: as or within a word
  kDoubleQuoted,  // inside "..." at the top level
  kSingleQuoted,  // inside '...' at the top level
  // The places no value may take:
  kAfterBackslash,  // the "\" would take the value's first character
  kAfterDollar,     // "$" would join the value ($'...', $@, $(...))
  kComment,         // a line end in the value would start a command
  kNested,          // $(...), `...`, ${...}, $((...)), $'...', $"...",
                    // <(...), ((...)), [[...]], or after any of them
  kHereDocument,    // after "<<"
  kSecondParser,    // an argument that a command reads as code again
                    // (eval, let, sh -c, ssh, ...)
};

// The place at the end of `before`. Once a construct of kNested or
// kHereDocument has begun, every later place is that too: the quoter does
// not follow where they end.
ShellPlace ReadShellPlace(const std::string& before);

// Whether a value may stand at that place.
bool IsQuotablePlace(ShellPlace place);

// A short name of the place for messages, such as "command substitution".
const char* ShellPlaceName(ShellPlace place);

// Finds every macro of `macro_names` (letter case ignored; "@@Name" is the
// literal "@Name", no macro) in `command_template` and returns the place of
// the first one that stands where no value may, or kWord when every one
// stands where its reading is proven (or there is none).
ShellPlace CheckShellTemplate(const std::string& command_template,
                              const std::vector<std::string>& macro_names);

// Quotes value for a POSIX shell as it would stand at the end of `before`:
// inside "..." with "\" before $ ` " and "\", inside '...' with each "'"
// written '\'', elsewhere as one '...' word. Only the places IsQuotablePlace
// accepts have a proven reading; callers check the template first with
// CheckShellTemplate.
std::string QuoteForShell(const std::string& before, const std::string& value);

}  // namespace zavo

#endif  // ZAVO_CONFIG_SHELL_QUOTE_H_
