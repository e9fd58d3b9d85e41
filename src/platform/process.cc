// The parts of the process service that are the same on every platform.

#include "platform/process.h"

#include <cstring>

namespace zavo {

namespace {

// Characters that a POSIX shell reads as themselves outside quotes, in any
// place of a word: no expansion, redirection, pattern, comment or operator
// starts with one of them.
bool IsInertCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || std::strchr("_-./,:+@%^=", c) != nullptr;
}

// Words that the shell runs itself rather than as a program, or that begin
// a compound command: a command led by one keeps the shell.
bool IsShellOwnWord(const std::string& word) {
  static const char* const kOwn[] = {
      ".",        ":",       "[",       "alias",   "bg",       "break",
      "case",     "cd",      "chdir",   "command", "continue", "do",
      "done",     "echo",    "elif",    "else",    "esac",     "eval",
      "exec",     "exit",    "export",  "false",   "fc",       "fg",
      "fi",       "for",     "getopts", "hash",    "if",       "in",
      "jobs",     "kill",    "local",   "printf",  "pwd",      "read",
      "readonly", "return",  "set",     "shift",   "test",     "then",
      "time",     "times",   "trap",    "true",    "type",     "ulimit",
      "umask",    "unalias", "unset",   "until",   "wait",     "while"};
  for (const char* own : kOwn) {
    if (word == own) return true;
  }
  return false;
}

}  // namespace

unsigned char ProcessResult::Code() const {
  switch (outcome) {
    case Outcome::kExited:
      return static_cast<unsigned char>(exit_code & 0xFF);
    case Outcome::kSignaled:
      return static_cast<unsigned char>(128 + (signal & 0x7F));
    case Outcome::kNotStarted:
      break;
  }
  return 127;
}

std::string ChildSearchPath(const std::string& path) {
  std::string kept;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (end > start && path[start] == '/') {
      if (!kept.empty()) kept += ':';
      kept += path.substr(start, end - start);
    }
    start = end + 1;
  }
  return kept.empty() ? "/usr/bin:/bin" : kept;
}

bool PlainCommandWords(const std::string& command,
                       std::vector<std::string>* words) {
  words->clear();
  std::string word;
  bool in_word = false;
  std::size_t i = 0;
  while (i < command.size()) {
    char c = command[i];
    if (c == ' ' || c == '\t') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
      ++i;
    } else if (c == '\'') {
      // Everything up to the next quote is literal, line ends included.
      std::size_t end = command.find('\'', i + 1);
      if (end == std::string::npos) return false;
      word.append(command, i + 1, end - i - 1);
      in_word = true;
      i = end + 1;
    } else if (IsInertCharacter(c)) {
      // "NAME=value" before the program sets a variable.
      if (c == '=' && words->empty()) return false;
      word += c;
      in_word = true;
      ++i;
    } else {
      return false;
    }
  }
  if (in_word) words->push_back(word);
  return !words->empty() && !(*words)[0].empty() &&
         !IsShellOwnWord((*words)[0]);
}

}  // namespace zavo
