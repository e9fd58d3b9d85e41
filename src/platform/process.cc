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

std::string ProcessResult::Describe() const {
  switch (outcome) {
    case Outcome::kExited:
      return "exited with " + std::to_string(exit_code);
    case Outcome::kSignaled:
      return "killed by signal " + std::to_string(signal);
    case Outcome::kNotStarted:
      break;
  }
  return "could not start: " + error;
}

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

ProcessResult RunShellCommand(const std::string& command,
                              const std::string& folder,
                              const std::vector<std::string>& environment) {
  ChildSpec launch;
  launch.command = command;
  launch.folder_path = folder;
  launch.environment = environment;
  return RunChild(launch);
}

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder,
                         const std::vector<std::string>& environment,
                         const SharedCount* shared) {
  ChildSpec launch;
  launch.argv = argv;
  launch.folder_path = folder;
  launch.environment = environment;
  if (shared != nullptr) launch.inherit.push_back(shared->handle());
  return RunChild(launch);
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

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsRedirectionOperator(char c) { return c == '<' || c == '>'; }

// Reads one word from command[*i] on: inert characters and '...' quoting,
// up to a blank, an operator or the end. False at any other character, at
// a quote that is not closed, or when nothing was read.
bool ReadPlainWord(const std::string& command, std::size_t* i,
                   std::string* word) {
  word->clear();
  bool any = false;
  while (*i < command.size()) {
    char c = command[*i];
    if (IsBlank(c) || IsRedirectionOperator(c)) break;
    if (c == '\'') {
      // Everything up to the next quote is literal, line ends included.
      std::size_t end = command.find('\'', *i + 1);
      if (end == std::string::npos) return false;
      word->append(command, *i + 1, end - *i - 1);
      *i = end + 1;
    } else if (IsInertCharacter(c)) {
      *word += c;
      ++*i;
    } else {
      return false;
    }
    any = true;
  }
  return any;
}

// Reads a redirection of descriptor `fd` from the operator at command[*i]:
// "<file", ">file", ">>file" or ">&N" (N 0 to 2), blanks allowed before
// the file. False for any other form ("<<", "<>", ">|", "<&").
bool ReadRedirection(const std::string& command, std::size_t* i, int fd,
                     std::vector<Redirection>* redirections) {
  Redirection r;
  r.fd = fd;
  char op = command[(*i)++];
  char next = *i < command.size() ? command[*i] : '\0';
  if (op == '<') {
    if (IsRedirectionOperator(next) || next == '&') return false;
    r.kind = Redirection::Kind::kRead;
  } else if (next == '>') {
    r.kind = Redirection::Kind::kAppend;
    ++*i;
  } else if (next == '&') {
    ++*i;
    if (*i >= command.size() || command[*i] < '0' || command[*i] > '2') {
      return false;
    }
    r.kind = Redirection::Kind::kDuplicate;
    r.from = command[(*i)++] - '0';
    if (*i < command.size() && !IsBlank(command[*i])) return false;
    redirections->push_back(r);
    return true;
  } else if (next == '|' || next == '<') {
    return false;
  } else {
    r.kind = Redirection::Kind::kWrite;
  }
  while (*i < command.size() && IsBlank(command[*i])) ++*i;
  if (!ReadPlainWord(command, i, &r.path) || r.path.empty()) return false;
  redirections->push_back(r);
  return true;
}

}  // namespace

bool ParsePlainCommand(const std::string& command, PlainCommand* plain) {
  plain->words.clear();
  plain->redirections.clear();
  std::size_t i = 0;
  for (;;) {
    while (i < command.size() && IsBlank(command[i])) ++i;
    if (i >= command.size()) break;
    if (IsRedirectionOperator(command[i])) {
      if (!ReadRedirection(command, &i, command[i] == '<' ? 0 : 1,
                           &plain->redirections)) {
        return false;
      }
      continue;
    }
    std::size_t start = i;
    std::string word;
    if (!ReadPlainWord(command, &i, &word)) return false;
    if (i < command.size() && IsRedirectionOperator(command[i])) {
      // "2>file": one unquoted digit right before the operator names the
      // descriptor; anything else joined to an operator is left to the
      // shell.
      if (i - start != 1 || word.size() != 1 || word[0] < '0' ||
          word[0] > '2') {
        return false;
      }
      if (!ReadRedirection(command, &i, word[0] - '0', &plain->redirections)) {
        return false;
      }
      continue;
    }
    // "NAME=value" before the program sets a variable.
    if (plain->words.empty() && word.find('=') != std::string::npos) {
      return false;
    }
    plain->words.push_back(word);
  }
  return !plain->words.empty() && !plain->words[0].empty() &&
         !IsShellOwnWord(plain->words[0]);
}

}  // namespace zavo
