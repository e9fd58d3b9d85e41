// Win32 child processes. Commands go to the interpreter named by COMSPEC as
// `"COMSPEC" /C command`, with the command exactly as written: cmd.exe has
// no quoting that protects every character, so a template quotes its own
// names. Programs run with argument vectors get a command line quoted so
// that the C runtime's parser gives every argument back whole. Children
// inherit the standard handles and start in the folder they are given; the
// converter's own current folder never changes.

#include "platform/process.h"

#include <windows.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "platform/error_text_win32.h"

namespace zavo {

namespace {

// The exit code of a process ended by an unhandled exception (or killed
// with such a status) is an NTSTATUS error, 0xC0000000 and above. Its low
// 8 bits alone could read as success (0xC0000100) or as "no command"
// (66, from 0xC0000142), so such an end counts like a POSIX signal.
constexpr DWORD kErrorStatus = 0xC0000000;

// Appends one argument as the C runtime splits command lines: inside double
// quotes, backslashes are literal except before a quote, where 2n of them
// give n, and 2n+1 give n and a literal quote.
void AppendQuoted(const std::string& argument, std::string* line) {
  if (!argument.empty() &&
      argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    *line += argument;
    return;
  }
  *line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line->append(backslashes * 2 + 1, '\\');
    } else {
      line->append(backslashes, '\\');
    }
    backslashes = 0;
    *line += c;
  }
  // Doubled, so that the closing quote stays a quote.
  line->append(backslashes * 2, '\\');
  *line += '"';
}

ProcessResult Start(const std::string& command_line,
                    const std::string& folder) {
  ProcessResult result;
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);

  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');

  STARTUPINFOA startup;
  ::ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info;
  ::ZeroMemory(&info, sizeof(info));
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr,
                        /*bInheritHandles=*/TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup,
                        &info)) {
    DWORD code = ::GetLastError();
    result.error = "CreateProcess(" + command_line + "): " + Win32ErrorText(code);
    return result;
  }
  ::CloseHandle(info.hThread);
  DWORD exit_code = 0;
  if (::WaitForSingleObject(info.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(info.hProcess, &exit_code)) {
    DWORD code = ::GetLastError();
    ::CloseHandle(info.hProcess);
    result.error = "WaitForSingleObject: " + Win32ErrorText(code);
    return result;
  }
  ::CloseHandle(info.hProcess);
  result.exit_code = static_cast<int>(exit_code);
  if ((exit_code & kErrorStatus) == kErrorStatus) {
    result.outcome = ProcessResult::Outcome::kSignaled;
    result.signal = static_cast<int>(exit_code);
  } else {
    result.outcome = ProcessResult::Outcome::kExited;
  }
  return result;
}

std::string Interpreter() {
  std::string comspec = GetEnvironment("COMSPEC");
  if (!comspec.empty()) return comspec;
  // Without COMSPEC the system's own cmd.exe is the interpreter.
  char system[MAX_PATH];
  UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return "cmd.exe";
  return std::string(system, n) + "\\cmd.exe";
}

}  // namespace

ProcessResult RunShellCommand(const std::string& command,
                              const std::string& folder) {
  return Start("\"" + Interpreter() + "\" /C " + command, folder);
}

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder) {
  if (argv.empty() || argv[0].empty()) {
    ProcessResult result;
    result.error = "no program to run";
    return result;
  }
  // The program's name ends at the next quote, backslashes and all, so it
  // is quoted plainly; a Win32 path holds no quote.
  std::string line = "\"" + argv[0] + "\"";
  for (std::size_t i = 1; i < argv.size(); ++i) {
    line += ' ';
    AppendQuoted(argv[i], &line);
  }
  return Start(line, folder);
}

std::string ProgramPath(const char* argv0) {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(),
                                   static_cast<DWORD>(buffer.size()));
    if (n == 0) break;
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
    if (buffer.size() > 65536) break;
  }
  return argv0 != nullptr ? argv0 : "";
}

std::string GetEnvironment(const std::string& name) {
  std::vector<char> buffer(256);
  for (;;) {
    DWORD n = ::GetEnvironmentVariableA(name.c_str(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(n);
  }
}

void SleepMilliseconds(int milliseconds) {
  ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

// Win32 has no file-size signal: a write past a limit already fails.
void IgnoreFileSizeLimitSignal() {}

}  // namespace zavo

// The C runtime of some mingw-w64 builds expands wildcards in the command
// line before main() sees it, which would turn the file mask into the names
// it matches. The mask is the converter's to expand, on every toolchain.
extern "C" {
int _dowildcard = 0;
}
