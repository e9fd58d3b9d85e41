// POSIX child processes. The interpreter is /bin/sh, run as
// `/bin/sh -c COMMAND`; a command it would only split into words (and open
// files for) starts its program directly, with the shell as the way back when
// that fails. Children get their folder through chdir in the child, so the
// converter's own current folder never changes. Each child leads a session of
// its own: no terminal to ask a person on, and a process group that an
// interruption reaches as a whole.

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/process.h"

extern char** environ;

namespace zavo {

namespace {

// Changes into `folder`. "/dev/fd/N" names a folder the parent holds open:
// the child changes into that descriptor itself, so that no name is looked
// up again between the parent's checks and the child's start.
int ChangeFolder(const std::string& folder) {
  static const char kHeld[] = "/dev/fd/";
  if (folder.compare(0, sizeof(kHeld) - 1, kHeld) == 0) {
    const char* digits = folder.c_str() + sizeof(kHeld) - 1;
    char* end = nullptr;
    long fd = std::strtol(digits, &end, 10);
    if (end != digits && *end == '\0' && fd >= 0 && fd <= INT_MAX) {
      return fchdir(static_cast<int>(fd));
    }
  }
  return chdir(folder.c_str());
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};
// How long a child may take to end after an interruption was passed on to
// it before its group is killed: a nested run removes its own work folder
// first.
constexpr unsigned kGraceSeconds = 10;

volatile sig_atomic_t g_interruption = 0;
// The children that run now, one slot each: a pid, -1 for a slot taken by
// a child about to start, 0 for a free slot. Jobs running at once each have
// a child at most.
constexpr int kChildSlots = 1024;
std::atomic<pid_t> g_children[kChildSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free,
              "the signal handlers read the slots");
// Set by StopChildren: no child starts any more.
std::atomic<bool> g_stopping{false};
// Where the children that this thread starts write; -1 for the process's
// own standard output and error.
thread_local int t_child_output = -1;
thread_local int t_child_errors = -1;

int TakeChildSlot() {
  for (int i = 0; i < kChildSlots; ++i) {
    pid_t expected = 0;
    if (g_children[i].compare_exchange_strong(expected, -1)) return i;
  }
  return -1;
}
bool g_catching = false;
// Which of kInterruptions were ignored when the process started.
bool g_ignored[3] = {false, false, false};

// A child that has not called setsid yet has no group of its own; the signal
// then waits, blocked, until it has.
void SignalChild(pid_t child, int signal_number) {
  if (kill(-child, signal_number) != 0) kill(child, signal_number);
}

void SignalChildren(int signal_number) {
  for (auto& slot : g_children) {
    pid_t child = slot.load();
    if (child > 0) SignalChild(child, signal_number);
  }
}

extern "C" void OnInterruption(int signal_number) {
  int saved = errno;
  if (g_interruption == 0) {
    g_interruption = signal_number;
    alarm(kGraceSeconds);
  }
  SignalChildren(signal_number);
  errno = saved;
}

extern "C" void OnGraceOver(int) {
  int saved = errno;
  SignalChildren(SIGKILL);
  errno = saved;
}

sigset_t InterruptionSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kInterruptions) sigaddset(&set, s);
  sigaddset(&set, SIGALRM);
  return set;
}

// "NAME=value" texts of this process's environment with `extra` put over
// them; the texts stay owned by `storage` and environ.
std::vector<char*> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<char*> result;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* equals = std::strchr(*e, '=');
    std::size_t length =
        equals != nullptr ? static_cast<std::size_t>(equals - *e) : 0;
    bool replaced = false;
    for (const std::string& x : extra) {
      if (x.size() > length && x[length] == '=' &&
          x.compare(0, length, *e, length) == 0) {
        replaced = true;
      }
    }
    if (!replaced) result.push_back(*e);
  }
  for (const std::string& x : extra)
    result.push_back(const_cast<char*>(x.c_str()));
  result.push_back(nullptr);
  return result;
}

// The most redirections a command started without the shell may have.
constexpr std::size_t kMaxRedirections = 8;

// A redirection as the child applies it, made before the fork.
struct ChildRedirection {
  int fd;
  int from;          // a descriptor to copy, or -1
  const char* path;  // else the file to open
  int flags;
};

// In the child, after the fork: opens every file first, then sets the
// descriptors in order, so that a file that cannot be opened leaves them as
// they were for the shell that runs the command after all. Only
// async-signal-safe calls.
bool ApplyRedirections(const std::vector<ChildRedirection>& redirections) {
  int opened[kMaxRedirections];
  std::size_t count = redirections.size();
  for (std::size_t i = 0; i < count; ++i) {
    const ChildRedirection& r = redirections[i];
    opened[i] = r.from;
    if (r.from < 0) {
      opened[i] = open(r.path, r.flags | O_CLOEXEC, 0666);
      if (opened[i] < 0) return false;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    int fd = redirections[i].fd;
    // dup2 onto itself would keep the close-on-exec flag.
    if (opened[i] == fd ? fcntl(fd, F_SETFD, 0) != 0
                        : dup2(opened[i], fd) < 0) {
      return false;
    }
  }
  return true;
}

// Exit status a child uses when exec fails, and the pipe that tells the
// parent why: a failed start must not look like a command's own result.
// `fallback`, when not empty, is run instead when a redirection cannot be
// applied or argv's program cannot be started.
ProcessResult Spawn(const std::vector<std::string>& argv,
                    const std::string& folder,
                    const std::vector<std::string>& environment = {},
                    int shared_descriptor = -1,
                    const std::vector<std::string>& fallback = {},
                    const std::vector<Redirection>& redirections = {}) {
  ProcessResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = "no program to run";
    return result;
  }
  // Every child gets a PATH that finds programs only in absolute folders.
  std::vector<std::string> extra = environment;
  const char* path = std::getenv("PATH");
  if (path != nullptr) extra.push_back("PATH=" + ChildSearchPath(path));
  std::vector<char*> child_environment = ChildEnvironment(extra);
  int child_output = t_child_output, child_errors = t_child_errors;
  if (child_output < 0) {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> fallback_args;
  for (const std::string& a : fallback)
    fallback_args.push_back(const_cast<char*>(a.c_str()));
  fallback_args.push_back(nullptr);
  std::vector<ChildRedirection> child_redirections;
  for (const Redirection& r : redirections) {
    int flags = O_RDONLY;
    if (r.kind == Redirection::Kind::kWrite) {
      flags = O_WRONLY | O_CREAT | O_TRUNC;
    } else if (r.kind == Redirection::Kind::kAppend) {
      flags = O_WRONLY | O_CREAT | O_APPEND;
    }
    bool copy = r.kind == Redirection::Kind::kDuplicate;
    child_redirections.push_back(
        {r.fd, copy ? r.from : -1, copy ? nullptr : r.path.c_str(), flags});
  }

  // Interruptions wait until the parent knows the child, so that the
  // handler can pass them on; the child takes them only once it leads its
  // own group with the default actions.
  sigset_t blocked = InterruptionSet(), saved_mask;
  sigprocmask(SIG_BLOCK, &blocked, &saved_mask);
  if (g_interruption != 0 || g_stopping) {
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    result.error = g_stopping ? "stopped" : "interrupted";
    return result;
  }
  int slot = TakeChildSlot();
  if (slot < 0) {
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    result.error = "too many children at once";
    return result;
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    g_children[slot] = 0;
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    g_children[slot] = 0;
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    return result;
  }
  if (pid == 0) {
    close(report[0]);
    // No controlling terminal: an archiver that opens /dev/tty to ask for a
    // passphrase fails instead of waiting for a person who may not be there.
    setsid();
    for (std::size_t i = 0; i < 3; ++i) {
      signal(kInterruptions[i], g_ignored[i] ? SIG_IGN : SIG_DFL);
    }
    signal(SIGALRM, SIG_DFL);
    // A parent shell may have ignored SIGPIPE, and the converter ignores
    // SIGXFSZ for itself; give the archiver the defaults, so that one that
    // cannot write its whole output ends as it normally would.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (shared_descriptor >= 0) fcntl(shared_descriptor, F_SETFD, 0);
    // Only async-signal-safe calls here: other threads of the parent may
    // have held locks at the fork.
    if (child_output >= 0) dup2(child_output, 1);
    if (child_errors >= 0) dup2(child_errors, 2);
    int err = 0;
    const char* step = "chdir";
    if (!folder.empty() && ChangeFolder(folder) != 0) {
      err = errno;
    } else {
      step = "exec";
      // execvpe would search the parent's PATH; execvp after the switch
      // searches the child's.
      environ = child_environment.data();
      if (ApplyRedirections(child_redirections)) execvp(args[0], args.data());
      if (fallback_args[0] != nullptr) {
        execv(fallback_args[0], fallback_args.data());
      }
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
  g_children[slot] = pid;
  sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
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
  g_children[slot] = 0;

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
                              const std::string& folder,
                              const std::vector<std::string>& environment) {
  // COMSPEC names a Windows interpreter; a bash or fish named there would
  // read the command's quoting otherwise than it was written for.
  std::vector<std::string> shell = {"/bin/sh", "-c", command};
  // A command the shell would only split into words and open files for
  // skips the shell: one process start less for every archiver command.
  PlainCommand plain;
  if (ParsePlainCommand(command, &plain) &&
      plain.redirections.size() <= kMaxRedirections) {
    return Spawn(plain.words, folder, environment, -1, shell,
                 plain.redirections);
  }
  return Spawn(shell, folder, environment);
}

ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder,
                         const std::vector<std::string>& environment,
                         const SharedCount* shared) {
  return Spawn(argv, folder, environment,
               shared != nullptr ? static_cast<int>(shared->handle()) : -1);
}

void CatchInterruptions() {
  if (g_catching) return;
  g_catching = true;
  struct sigaction action = {};
  action.sa_handler = OnInterruption;
  action.sa_mask = InterruptionSet();
  // Restarted, so that a write to a pipe or a wait is never cut short; the
  // handler passes the signal on by itself.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < 3; ++i) {
    struct sigaction old = {};
    sigaction(kInterruptions[i], nullptr, &old);
    g_ignored[i] = old.sa_handler == SIG_IGN;
    if (!g_ignored[i]) sigaction(kInterruptions[i], &action, nullptr);
  }
  struct sigaction grace = {};
  grace.sa_handler = OnGraceOver;
  grace.sa_mask = InterruptionSet();
  grace.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &grace, nullptr);
}

int InterruptionSignal() { return g_interruption; }

void SetChildOutput(std::intptr_t output, std::intptr_t errors) {
  t_child_output = static_cast<int>(output);
  t_child_errors = static_cast<int>(errors);
}

void StopChildren() {
  g_stopping = true;
  SignalChildren(SIGTERM);
}

void EndAsInterrupted(int signal_number) {
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);
}

namespace {

// The count is the length of an unlinked file after this header: one byte
// is appended per Add, and every holder shares the one open file.
constexpr char kCountHeader[] = "zavo shared count\n";
constexpr std::size_t kCountHeaderSize = sizeof(kCountHeader) - 1;

int MakeCountFile() {
  int fd = -1;
#ifdef MFD_CLOEXEC
  fd = memfd_create("zavo-count", MFD_CLOEXEC);
  if (fd >= 0) return fd;
#endif
  const char* folder = std::getenv("TMPDIR");
  std::string pattern =
      std::string(folder != nullptr && folder[0] != '\0' ? folder : "/tmp") +
      "/zavo-count-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.data());
  return fd;
}

}  // namespace

std::unique_ptr<SharedCount> SharedCount::Create() {
  int fd = MakeCountFile();
  if (fd < 0) return nullptr;
  if (write(fd, kCountHeader, kCountHeaderSize) !=
          static_cast<ssize_t>(kCountHeaderSize) ||
      fcntl(fd, F_SETFL, O_APPEND) != 0) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<SharedCount>(new SharedCount(fd));
}

std::unique_ptr<SharedCount> SharedCount::Open(const std::string& name) {
  if (name.empty() || name.size() > 9 ||
      name.find_first_not_of("0123456789") != std::string::npos) {
    return nullptr;
  }
  int fd = std::atoi(name.c_str());
  // Only an unlinked regular file that starts with the header is a count:
  // a descriptor of that number may be anything else in this process.
  struct stat st;
  char header[kCountHeaderSize];
  if (fd <= 2 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_nlink != 0 ||
      pread(fd, header, kCountHeaderSize, 0) !=
          static_cast<ssize_t>(kCountHeaderSize) ||
      std::memcmp(header, kCountHeader, kCountHeaderSize) != 0 ||
      (fcntl(fd, F_GETFL) & O_APPEND) == 0) {
    return nullptr;
  }
  // Handed on to nested runs only, never to archivers.
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  return std::unique_ptr<SharedCount>(new SharedCount(fd));
}

SharedCount::~SharedCount() { close(static_cast<int>(handle_)); }

long SharedCount::Add() {
  int fd = static_cast<int>(handle_);
  ssize_t n;
  do {
    n = write(fd, "+", 1);
  } while (n < 0 && errno == EINTR);
  struct stat st;
  if (n != 1 || fstat(fd, &st) != 0) return -1;
  return static_cast<long>(st.st_size) - static_cast<long>(kCountHeaderSize);
}

bool SharedCount::Reset() {
  return ftruncate(static_cast<int>(handle_),
                   static_cast<off_t>(kCountHeaderSize)) == 0;
}

std::string SharedCount::Name() const { return std::to_string(handle_); }

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

bool StandardErrorIsTerminal() {
  if (!isatty(STDERR_FILENO)) return false;
  pid_t foreground = tcgetpgrp(STDERR_FILENO);
  return foreground != -1 && foreground == getpgrp();
}

void IgnoreFileSizeLimitSignal() { signal(SIGXFSZ, SIG_IGN); }

}  // namespace zavo
