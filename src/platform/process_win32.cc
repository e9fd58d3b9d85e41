// Win32 child processes. Commands go to the interpreter named by COMSPEC as
// `"COMSPEC" /C command`, with the command exactly as written: cmd.exe has
// no quoting that protects every character, so a template quotes its own
// names. Programs run with argument vectors get a command line quoted so
// that the C runtime's parser gives every argument back whole. Children
// inherit the standard handles and start in the folder they are given; the
// converter's own current folder never changes.

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/end_lock_win32.h"
#include "platform/error_text_win32.h"
#include "platform/process.h"

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

// Interruptions come from the console, which sends Ctrl-C to the children
// that share it by itself.
volatile LONG g_interruption = 0;
constexpr DWORD kGraceMilliseconds = 10000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  LONG signal_number = 0;
  switch (event) {
    case CTRL_C_EVENT:
      signal_number = SIGINT;
      break;
    case CTRL_BREAK_EVENT:
      signal_number = SIGBREAK;
      break;
    case CTRL_CLOSE_EVENT:
      signal_number = SIGTERM;
      break;
    default:
      return FALSE;
  }
  ::InterlockedCompareExchange(&g_interruption, signal_number, 0);
  return TRUE;
}

// The environment block of this process with the "NAME=value" texts of
// `extra` put over it (names compared ignoring case, as Win32 does).
std::vector<char> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<char> block;
  char* strings = ::GetEnvironmentStringsA();
  for (const char* e = strings; e != nullptr && *e != '\0';
       e += std::strlen(e) + 1) {
    std::string entry(e);
    // Entries such as "=C:=C:\\" name the current folders of drives.
    std::size_t equals = entry.find('=', 1);
    bool replaced = false;
    for (const std::string& x : extra) {
      if (equals != std::string::npos && x.size() > equals &&
          x[equals] == '=' &&
          ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, x.c_str(),
                           static_cast<int>(equals), entry.c_str(),
                           static_cast<int>(equals)) == CSTR_EQUAL) {
        replaced = true;
      }
    }
    if (!replaced)
      block.insert(block.end(), entry.c_str(),
                   entry.c_str() + entry.size() + 1);
  }
  if (strings != nullptr) ::FreeEnvironmentStringsA(strings);
  for (const std::string& x : extra) {
    block.insert(block.end(), x.c_str(), x.c_str() + x.size() + 1);
  }
  block.push_back('\0');
  return block;
}

// Set by StopChildren: running children are ended, none starts any more.
std::atomic<bool> g_stopping{false};

ProcessResult Start(const std::string& command_line, const ChildSpec& launch) {
  const std::string& folder = launch.folder_path;
  const std::vector<std::string>& environment = launch.environment;
  HANDLE child_output =
      launch.output == -1 ? nullptr : reinterpret_cast<HANDLE>(launch.output);
  HANDLE child_errors =
      launch.errors == -1 ? nullptr : reinterpret_cast<HANDLE>(launch.errors);
  ProcessResult result;
  if (g_interruption != 0 || g_stopping) {
    result.error = g_stopping ? "stopped" : "interrupted";
    return result;
  }
  if (launch.keep_going && !launch.keep_going()) {
    // Not even started: what it may not go on with, it may not begin.
    result.stopped = true;
    result.error = "not started: it may not go on";
    return result;
  }
  std::vector<char> child_environment;
  if (!environment.empty()) child_environment = ChildEnvironment(environment);
  if (child_output == nullptr || child_errors == nullptr) {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }

  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');

  STARTUPINFOA startup;
  ::ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  if (child_output != nullptr || child_errors != nullptr) {
    // Handles meant for children are made inheritable when they are made
    // (CaptureFile); Win32 hands a child every inheritable handle.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = child_output != nullptr
                             ? child_output
                             : ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = child_errors != nullptr
                            ? child_errors
                            : ::GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION info;
  ::ZeroMemory(&info, sizeof(info));
  // A handed handle (the shared count) is inheritable only while this
  // child starts.
  for (std::intptr_t h : launch.inherit) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(h), HANDLE_FLAG_INHERIT,
                           HANDLE_FLAG_INHERIT);
  }
  BOOL started = ::CreateProcessA(
      nullptr, line.data(), nullptr, nullptr,
      /*bInheritHandles=*/TRUE, 0,
      child_environment.empty() ? nullptr : child_environment.data(),
      folder.empty() ? nullptr : folder.c_str(), &startup, &info);
  DWORD start_error = ::GetLastError();
  for (std::intptr_t h : launch.inherit) {
    ::SetHandleInformation(reinterpret_cast<HANDLE>(h), HANDLE_FLAG_INHERIT, 0);
  }
  if (!started) {
    DWORD code = start_error;
    result.error =
        "CreateProcess(" + command_line + "): " + Win32ErrorText(code);
    return result;
  }
  ::CloseHandle(info.hThread);
  DWORD exit_code = 0;
  // An interrupted child gets some time to end by itself (it has the
  // console's Ctrl-C too); then it is ended.
  DWORD waited_after_interruption = 0;
  bool stopped = false;
  DWORD wait;
  for (;;) {
    wait = ::WaitForSingleObject(info.hProcess, 100);
    if (wait != WAIT_TIMEOUT) break;
    if (g_stopping) ::TerminateProcess(info.hProcess, 128 + 15);
    if (launch.keep_going && !stopped && !launch.keep_going()) {
      stopped = true;
      ::TerminateProcess(info.hProcess, 128 + 9);
    }
    if (g_interruption == 0) continue;
    waited_after_interruption += 100;
    if (waited_after_interruption >= kGraceMilliseconds) {
      ::TerminateProcess(info.hProcess,
                         128 + static_cast<UINT>(g_interruption));
    }
  }
  if (wait != WAIT_OBJECT_0 ||
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
  } else if (stopped) {
    result.outcome = ProcessResult::Outcome::kSignaled;
    result.signal = 9;
    result.stopped = true;
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

ProcessResult RunChild(const ChildSpec& launch) {
  if (!launch.command.empty()) {
    return Start("\"" + Interpreter() + "\" /C " + launch.command, launch);
  }
  const std::vector<std::string>& argv = launch.argv;
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
  return Start(line, launch);
}

void CatchInterruptions() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int InterruptionSignal() { return static_cast<int>(g_interruption); }

void StopChildren() { g_stopping = true; }

void EndAsInterrupted(int signal_number) {
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  ::ExitProcess(128 + static_cast<UINT>(signal_number));
}

namespace {

// The count is the length of a temporary file, deleted when its last handle
// closes, after this header: one byte is appended per Add.
constexpr char kCountHeader[] = "zavo shared count\n";
constexpr DWORD kCountHeaderSize = sizeof(kCountHeader) - 1;

HANDLE AsHandle(long value) {
  return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value));
}

}  // namespace

std::unique_ptr<SharedCount> SharedCount::Create() {
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(sizeof(folder), folder);
  if (n == 0 || n > MAX_PATH ||
      ::GetTempFileNameA(folder, "zc", 0, name) == 0) {
    return nullptr;
  }
  HANDLE file = ::CreateFileA(
      name, GENERIC_READ | GENERIC_WRITE | DELETE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
      nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ::DeleteFileA(name);
    return nullptr;
  }
  DWORD written = 0;
  if (!::WriteFile(file, kCountHeader, kCountHeaderSize, &written, nullptr) ||
      written != kCountHeaderSize) {
    ::CloseHandle(file);
    return nullptr;
  }
  return std::unique_ptr<SharedCount>(
      new SharedCount(static_cast<long>(reinterpret_cast<INT_PTR>(file))));
}

std::unique_ptr<SharedCount> SharedCount::Open(const std::string& name) {
  if (name.empty() || name.size() > 9 ||
      name.find_first_not_of("0123456789") != std::string::npos) {
    return nullptr;
  }
  long value = std::atol(name.c_str());
  HANDLE file = AsHandle(value);
  DWORD flags = 0;
  char header[kCountHeaderSize];
  DWORD got = 0;
  OVERLAPPED at = {};
  if (value == 0 || !::GetHandleInformation(file, &flags) ||
      ::GetFileType(file) != FILE_TYPE_DISK ||
      !::ReadFile(file, header, kCountHeaderSize, &got, &at) ||
      got != kCountHeaderSize ||
      std::memcmp(header, kCountHeader, kCountHeaderSize) != 0) {
    return nullptr;
  }
  ::SetHandleInformation(file, HANDLE_FLAG_INHERIT, 0);
  return std::unique_ptr<SharedCount>(new SharedCount(value));
}

SharedCount::~SharedCount() { ::CloseHandle(AsHandle(handle_)); }

long SharedCount::Add() {
  HANDLE file = AsHandle(handle_);
  OVERLAPPED at_end = {};
  at_end.Offset = 0xFFFFFFFF;
  at_end.OffsetHigh = 0xFFFFFFFF;
  DWORD written = 0;
  LARGE_INTEGER size;
  // The byte and the size read after it are this add's own only while the
  // other holders wait.
  EndLock lock(file);
  if (!::WriteFile(file, "+", 1, &written, &at_end) || written != 1 ||
      !::GetFileSizeEx(file, &size)) {
    return -1;
  }
  return static_cast<long>(size.QuadPart) - static_cast<long>(kCountHeaderSize);
}

long SharedCount::Value() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return static_cast<long>(size.QuadPart) - static_cast<long>(kCountHeaderSize);
}

bool SharedCount::Reset() {
  HANDLE file = AsHandle(handle_);
  LARGE_INTEGER at;
  at.QuadPart = kCountHeaderSize;
  EndLock lock(file);
  return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         ::SetEndOfFile(file);
}

std::string SharedCount::Name() const { return std::to_string(handle_); }

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
bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void IgnoreFileSizeLimitSignal() {}

}  // namespace zavo

// The C runtime of some mingw-w64 builds expands wildcards in the command
// line before main() sees it, which would turn the file mask into the names
// it matches. The mask is the converter's to expand, on every toolchain.
extern "C" {
int _dowildcard = 0;
}
