// Starting child processes and the process's own facts: its path, its
// environment, a pause.

#ifndef ZAVO_PLATFORM_PROCESS_H_
#define ZAVO_PLATFORM_PROCESS_H_

#include <string>
#include <vector>

namespace zavo {

// How a child process ended.
struct ProcessResult {
  enum class Outcome { kNotStarted, kExited, kSignaled };
  Outcome outcome = Outcome::kNotStarted;
  int exit_code = 0;  // with kExited: the full exit code
  int signal = 0;     // with kSignaled
  std::string error;  // with kNotStarted: why

  // The 8-bit result the converter works with: the low 8 bits of the exit
  // code; 128 + signal for a killed child and 127 for one that did not start,
  // so that neither can read as success.
  unsigned char Code() const;
};

// Runs a command through the command interpreter and waits for it. On POSIX
// the interpreter is the program named by COMSPEC, else /bin/sh, run as
// `INTERP -c command`; on Win32 it is COMSPEC run with " /C " + command.
// The child inherits standard output and error and starts in `folder` (the
// process's own current folder when empty). Standard output is flushed first
// so that the child's lines follow ours.
ProcessResult RunShellCommand(const std::string& command,
                              const std::string& folder);

// Runs a program with an argument vector (argv[0] is the program's path);
// no interpreter parses it. Waits for it.
ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder);

// The full path of the running executable, links resolved; argv0 is used
// only where the platform cannot tell.
std::string ProgramPath(const char* argv0);

// The value of an environment variable; empty when it is not set.
std::string GetEnvironment(const std::string& name);

void SleepMilliseconds(int milliseconds);

// Makes a write past the file-size limit fail like any other failed write
// (POSIX: SIGXFSZ ignored) instead of ending the process mid-way, so the
// run can clean up after itself. Call once at start-up; nothing to do where
// the system has no such signal.
void IgnoreFileSizeLimitSignal();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_PROCESS_H_
