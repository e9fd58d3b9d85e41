// POSIX child processes. The interpreter is COMSPEC when set, else /bin/sh,
// run as `INTERP -c COMMAND`. Children get their folder through chdir in the
// child, so the converter's own current folder never changes.

#include "platform/process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace zavo {

namespace {

// Exit status a child uses when exec fails, and the pipe that tells the
// parent why: a failed start must not look like a command's own result.
ProcessResult Spawn(const std::vector<std::string>& argv,
                    const std::string& folder) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = "no program to run";
    return result;
  }
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    return result;
  }
  if (pid == 0) {
    close(report[0]);
    // A parent shell may have ignored SIGPIPE, and the converter ignores
    // SIGXFSZ for itself; give the archiver the defaults, so that one that
    // cannot write its whole output ends as it normally would.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    int err = 0;
    const char* step = "chdir";
    if (!folder.empty() && chdir(folder.c_str()) != 0) {
      err = errno;
    } else {
      step = "exec";
      execvp(args[0], args.data());
      err = errno;
    }
    char message[512];
    int n = std::snprintf(message, sizeof(message), "%s(%s): %s", step,
                          step[0] == 'c' ? folder.c_str() : args[0],
                          std::strerror(err));
    if (n > 0) {
      ssize_t ignored = write(report[1], message, static_cast<size_t>(n));
      (void)ignored;
    }
    _exit(127);
  }
  close(report[1]);
  char message[512];
  ssize_t got;
  do {
    got = read(report[0], message, sizeof(message) - 1);
  } while (got < 0 && errno == EINTR);
  close(report[0]);

  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);

  if (got > 0) {
    message[got] = '\0';
    result.outcome = ProcessResult::Outcome::kNotStarted;
    result.error = message;
    return result;
  }
  if (waited < 0) {
    result.error = std::string("waitpid: ") + std::strerror(errno);
    return result;
  }
  if (WIFEXITED(status)) {
    result.outcome = ProcessResult::Outcome::kExited;
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.outcome = ProcessResult::Outcome::kSignaled;
    result.signal = WTERMSIG(status);
  } else {
    result.error = "child ended in an unknown way";
  }
  return result;
}

}  // namespace

ProcessResult RunShellCommand(const std::string& command,
                              const std::string& folder) {
  std::string interpreter = GetEnvironment("COMSPEC");
  if (interpreter.empty()) interpreter = "/bin/sh";
  return Spawn({interpreter, "-c", command}, folder);
}

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder) {
  return Spawn(argv, folder);
}

std::string ProgramPath(const char* argv0) {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n > 0) {
    buffer[n] = '\0';
    return buffer;
  }
  if (argv0 != nullptr && realpath(argv0, buffer) != nullptr) return buffer;
  return argv0 != nullptr ? argv0 : "";
}

std::string GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? value : "";
}

void SleepMilliseconds(int milliseconds) {
  struct timespec delay;
  delay.tv_sec = milliseconds / 1000;
  delay.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void IgnoreFileSizeLimitSignal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace zavo
