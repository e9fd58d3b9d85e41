#include "config/shell_quote.h"

#include <string>
#include <utility>
#include <vector>

namespace zavo {

namespace {

// Where the text before a macro leaves the shell's reader.
enum class ShellContext {
  kBare,     // at top level, inside $( ) or ` `
  kSingle,   // inside '...'
  kDouble,   // inside "..."
  kComment,  // after an unquoted "#" that starts a word
};

struct ShellState {
  ShellContext context = ShellContext::kBare;
  bool pending_escape = false;  // the text ends in an unescaped "\"
  bool after_dollar = false;    // the text ends in an unescaped "$"
  int backticks = 0;            // ` ` levels the value is read through
};

enum class Frame { kBare, kSingle, kDouble, kSubst, kBacktick, kParam };

bool StartsWord(const std::string& text, std::size_t pos) {
  if (pos == 0) return true;
  char c = text[pos - 1];
  return c == ' ' || c == '\t' || c == '\n' || c == ';' || c == '&' ||
         c == '|' || c == '(' || c == ')' || c == '<' || c == '>';
}

ShellState ReadShellState(const std::string& before) {
  struct Level {
    Frame frame;
    int parens;
  };
  std::vector<Level> stack{{Frame::kBare, 0}};
  bool comment = false;
  bool pending_escape = false;
  bool after_dollar = false;
  for (std::size_t i = 0; i < before.size(); ++i) {
    char c = before[i];
    char next = i + 1 < before.size() ? before[i + 1] : '\0';
    Frame frame = stack.back().frame;
    after_dollar = false;
    if (comment) {
      if (c == '\n') comment = false;
      continue;
    }
    if (frame == Frame::kSingle) {
      if (c == '\'') stack.pop_back();
      continue;
    }
    if (c == '\\') {
      if (i + 1 == before.size()) {
        pending_escape = true;
      } else {
        ++i;
      }
      continue;
    }
    if (c == '$' && next == '(') {
      stack.push_back({Frame::kSubst, 0});
      ++i;
      continue;
    }
    if (c == '$' && next == '{') {
      stack.push_back({Frame::kParam, 0});
      ++i;
      continue;
    }
    if (c == '$') {
      after_dollar = true;
      continue;
    }
    if (c == '`') {
      if (frame == Frame::kBacktick) {
        stack.pop_back();
      } else {
        stack.push_back({Frame::kBacktick, 0});
      }
      continue;
    }
    if (frame == Frame::kDouble) {
      if (c == '"') stack.pop_back();
      continue;
    }
    // Bare-like frames: top level, $( ), ` ` and ${ }.
    if (c == '\'') {
      stack.push_back({Frame::kSingle, 0});
    } else if (c == '"') {
      stack.push_back({Frame::kDouble, 0});
    } else if (frame == Frame::kSubst && c == '(') {
      ++stack.back().parens;
    } else if (frame == Frame::kSubst && c == ')') {
      if (stack.back().parens == 0) {
        stack.pop_back();
      } else {
        --stack.back().parens;
      }
    } else if (frame == Frame::kParam && c == '}') {
      stack.pop_back();
    } else if (c == '#' && frame != Frame::kParam && StartsWord(before, i)) {
      comment = true;
    }
  }
  ShellState state;
  state.pending_escape = pending_escape;
  state.after_dollar = after_dollar;
  for (const Level& level : stack) {
    if (level.frame == Frame::kBacktick) ++state.backticks;
  }
  if (comment) {
    state.context = ShellContext::kComment;
    return state;
  }
  // Inside ${ } a word is quoted as the text around the braces would quote
  // it.
  std::size_t top = stack.size() - 1;
  while (top > 0 && stack[top].frame == Frame::kParam) --top;
  switch (stack[top].frame) {
    case Frame::kSingle:
      state.context = ShellContext::kSingle;
      break;
    case Frame::kDouble:
      state.context = ShellContext::kDouble;
      break;
    default:
      state.context = ShellContext::kBare;
      break;
  }
  return state;
}

std::string SingleQuoted(const std::string& value) {
  std::string out = "'";
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

std::string DoubleQuoteEscaped(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '$' || c == '`' || c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// Each level of ` ` removes one backslash before "\", "`" and "$".
std::string EscapeForBackticks(const std::string& text, int levels) {
  std::string out = text;
  for (int level = 0; level < levels; ++level) {
    std::string next;
    for (char c : out) {
      if (c == '\\' || c == '`' || c == '$') next += '\\';
      next += c;
    }
    out = std::move(next);
  }
  return out;
}

}  // namespace

std::string QuoteForShell(const std::string& before, const std::string& value) {
  ShellState state = ReadShellState(before);
  std::string out;
  std::string rest = value;
  switch (state.context) {
    case ShellContext::kComment:
      // Nothing in a comment is read, except that a line end would start a
      // new command.
      for (char& c : rest) {
        if (c == '\n') c = ' ';
      }
      return rest;
    case ShellContext::kSingle:
      for (char c : rest) {
        if (c == '\'') {
          out += "'\\''";
        } else {
          out += c;
        }
      }
      return EscapeForBackticks(out, state.backticks);
    case ShellContext::kDouble:
      // A "\" already written takes the first character as it is; after a
      // "$", an empty "" keeps the value from continuing the expansion.
      if (state.pending_escape && !rest.empty()) {
        out += rest[0];
        rest.erase(0, 1);
      } else if (state.after_dollar) {
        out += "\"\"";
      }
      out += DoubleQuoteEscaped(rest);
      return EscapeForBackticks(out, state.backticks);
    case ShellContext::kBare:
      if (state.pending_escape) {
        // An empty value leaves the "\" to the template's next character,
        // as if the macro had not been written.
        if (rest.empty()) return rest;
        out += rest[0];
        rest.erase(0, 1);
        if (rest.empty()) return EscapeForBackticks(out, state.backticks);
      } else if (state.after_dollar) {
        // "$'" would start bash's escape-reading quotes; "$''" is empty in
        // bash and a plain "$" elsewhere.
        out += "''";
      }
      out += SingleQuoted(rest);
      return EscapeForBackticks(out, state.backticks);
  }
  return out;
}

}  // namespace zavo
