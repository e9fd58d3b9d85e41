#include "config/shell_quote.h"

#include <cstddef>
#include <string>
#include <vector>

#include "text/text_utils.h"

namespace zavo {

namespace {

// Whether a "#" at pos starts a word, and so a comment.
bool StartsWord(const std::string& text, std::size_t pos) {
  if (pos == 0) return true;
  char c = text[pos - 1];
  return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' ||
         c == '|' || c == '(' || c == ')' || c == '<' || c == '>';
}

bool IsOneOf(const std::string& word, const char* const* list,
             std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (word == list[i]) return true;
  }
  return false;
}

// Commands that read an argument as code, as a variable name (bash
// evaluates array subscripts in those) or as a command line for another
// shell, here or elsewhere.
const char* const kCodeCommands[] = {
    "eval", "let", "declare", "typeset", "local", "readonly", "export", "alias",
    "source", ".", "trap", "read", "unset", "ssh", "su", "watch", "parallel",
    "script", "mapfile", "readarray",
    // Their scripts are code too, and GNU sed's "e" runs a shell.
    "sed", "awk", "gawk", "mawk", "nawk"};

// Commands that run the command named after them (and their options).
const char* const kWrappers[] = {
    "sudo",   "doas",    "env",     "nice",  "nohup",  "timeout",
    "time",   "command", "builtin", "exec",  "xargs",  "stdbuf",
    "ionice", "chrt",    "setsid",  "flock", "chroot", "unshare"};

// Shells, which take a command line after "-c".
const char* const kShells[] = {"sh",   "bash", "dash", "zsh",  "ksh",
                               "mksh", "ash",  "yash", "csh",  "tcsh",
                               "fish", "pwsh", "rc",   "posh", "busybox"};

// Interpreters whose options take code (python -c, perl -e, ruby -e,
// node -e, php -r): the word after any of their options may be code.
const char* const kInterpreters[] = {"python", "python2", "python3", "perl",
                                     "ruby",   "node",    "nodejs",  "php",
                                     "lua",    "tclsh",   "Rscript"};

template <std::size_t N>
bool IsOneOf(const std::string& word, const char* const (&list)[N]) {
  return IsOneOf(word, list, N);
}

// Whether the words of the current simple command hand an argument that
// follows them to a second parser: a code-reading command (also behind a
// wrapper such as sudo or env), "printf -v" or "test -v", or the command
// string of a shell's "-c" anywhere in the command (find -exec sh -c, xargs
// sh -c). The arguments after a shell's command string are its positional
// parameters, which it reads as values.
bool HandsOnAsCode(const std::vector<std::string>& words) {
  bool at_command = true;
  bool shell = false;
  bool interpreter = false;
  bool command_string_next = false;
  std::string command;
  for (const std::string& word : words) {
    if (word.empty()) {
      command_string_next = false;
      continue;
    }
    const std::size_t slash = word.rfind('/');
    const std::string base =
        slash == std::string::npos ? word : word.substr(slash + 1);
    if (IsOneOf(base, kShells)) shell = true;
    // "python3.11" is python too.
    const std::string name = base.substr(0, base.find_first_of(".0123456789"));
    if (IsOneOf(base, kInterpreters) || IsOneOf(name, kInterpreters)) {
      interpreter = true;
    }
    const bool option = word.size() > 1 && word[0] == '-' && word[1] != '-';
    if (option &&
        (interpreter || (shell && word.find('c') != std::string::npos))) {
      command_string_next = true;
      continue;
    }
    command_string_next = false;
    if (at_command) {
      if (word.find('=') != std::string::npos && word[0] != '-') continue;
      if (IsOneOf(base, kCodeCommands)) return true;
      if (IsOneOf(base, kWrappers) || word[0] == '-' ||
          word.find_first_not_of("0123456789.") == std::string::npos) {
        continue;
      }
      command = base;
      at_command = false;
      continue;
    }
    if ((command == "printf" || command == "test" || command == "[") &&
        word == "-v") {
      return true;
    }
  }
  return command_string_next;
}

}  // namespace

ShellPlace ReadShellPlace(const std::string& before) {
  enum class Quote { kNone, kSingle, kDouble } quote = Quote::kNone;
  std::vector<std::string> words;  // of the current simple command
  std::string word;
  bool in_word = false;
  const std::size_t n = before.size();
  auto end_word = [&]() {
    if (in_word) words.push_back(word);
    word.clear();
    in_word = false;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const char c = before[i];
    const char next = i + 1 < n ? before[i + 1] : '\0';
    if (quote == Quote::kSingle) {
      if (c == '\'') {
        quote = Quote::kNone;
      } else {
        word += c;
      }
      continue;
    }
    if (c == '\\') {
      if (i + 1 == n) return ShellPlace::kAfterBackslash;
      word += next;
      in_word = true;
      ++i;
      continue;
    }
    if (c == '`') return ShellPlace::kNested;
    if (c == '$') {
      if (i + 1 == n) return ShellPlace::kAfterDollar;
      if (next == '(' || next == '{' || next == '[' ||
          (quote == Quote::kNone && (next == '\'' || next == '"'))) {
        return ShellPlace::kNested;
      }
      // $name, $1, $?: a parameter whose name ends before any quote.
      word += c;
      in_word = true;
      continue;
    }
    if (quote == Quote::kDouble) {
      if (c == '"') {
        quote = Quote::kNone;
      } else {
        word += c;
      }
      continue;
    }
    switch (c) {
      case '\'':
        quote = Quote::kSingle;
        in_word = true;
        break;
      case '"':
        quote = Quote::kDouble;
        in_word = true;
        break;
      case '#':
        if (!in_word && StartsWord(before, i)) {
          const std::size_t line_end = before.find('\n', i);
          if (line_end == std::string::npos) return ShellPlace::kComment;
          i = line_end - 1;  // the line end ends the command below
        } else {
          word += c;
          in_word = true;
        }
        break;
      case '<':
      case '>':
        if (c == '<' && next == '<') return ShellPlace::kHereDocument;
        if (next == '(') return ShellPlace::kNested;
        end_word();
        break;
      case '(':
        if (next == '(') return ShellPlace::kNested;
        end_word();
        words.clear();
        break;
      case '[':
        if (next == '[' && !in_word) return ShellPlace::kNested;
        word += c;
        in_word = true;
        break;
      case ' ':
      case '\t':
        end_word();
        break;
      case '\n':
      case ';':
      case '&':
      case '|':
      case ')':
        end_word();
        words.clear();
        break;
      default:
        word += c;
        in_word = true;
        break;
    }
  }
  if (HandsOnAsCode(words)) return ShellPlace::kSecondParser;
  if (quote == Quote::kSingle) return ShellPlace::kSingleQuoted;
  if (quote == Quote::kDouble) return ShellPlace::kDoubleQuoted;
  return ShellPlace::kWord;
}

bool IsQuotablePlace(ShellPlace place) {
  return place == ShellPlace::kWord || place == ShellPlace::kDoubleQuoted ||
         place == ShellPlace::kSingleQuoted;
}

const char* ShellPlaceName(ShellPlace place) {
  switch (place) {
    case ShellPlace::kWord:
      return "word";
    case ShellPlace::kDoubleQuoted:
      return "double quotes";
    case ShellPlace::kSingleQuoted:
      return "single quotes";
    case ShellPlace::kAfterBackslash:
      return "after a backslash";
    case ShellPlace::kAfterDollar:
      return "after a dollar sign";
    case ShellPlace::kComment:
      return "comment";
    case ShellPlace::kNested:
      return "substitution or expansion";
    case ShellPlace::kHereDocument:
      return "here-document";
    case ShellPlace::kSecondParser:
      return "argument read as code";
  }
  return "";
}

ShellPlace CheckShellTemplate(const std::string& command_template,
                              const std::vector<std::string>& macro_names) {
  // The text before each macro, with the macros before it standing as plain
  // letters: a value in a proven place is quoted, and so reads as a word.
  std::string before;
  const std::string upper = UpperText(command_template);
  std::size_t pos = 0;
  while (pos < command_template.size()) {
    std::size_t length = 0;
    for (const std::string& name : macro_names) {
      if (!name.empty() && name.size() > length &&
          upper.compare(pos, name.size(), UpperText(name)) == 0) {
        length = name.size();
      }
    }
    if (length == 0 || (pos > 0 && command_template[pos - 1] == '@')) {
      before += command_template[pos];
      ++pos;
      continue;
    }
    const ShellPlace place = ReadShellPlace(before);
    if (!IsQuotablePlace(place)) return place;
    before += 'x';
    pos += length;
  }
  return ShellPlace::kWord;
}

std::string QuoteForShell(const std::string& before, const std::string& value) {
  std::string out;
  switch (ReadShellPlace(before)) {
    case ShellPlace::kDoubleQuoted:
      for (char c : value) {
        if (c == '$' || c == '`' || c == '"' || c == '\\') out += '\\';
        out += c;
      }
      return out;
    case ShellPlace::kSingleQuoted:
      for (char c : value) {
        if (c == '\'') {
          out += "'\\''";
        } else {
          out += c;
        }
      }
      return out;
    default:
      out = "'";
      for (char c : value) {
        if (c == '\'') {
          out += "'\\''";
        } else {
          out += c;
        }
      }
      out += '\'';
      return out;
  }
}

}  // namespace zavo
