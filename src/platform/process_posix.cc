// POSIX child processes. The interpreter is /bin/sh, run as
// `/bin/sh -c COMMAND`; a command it would only split into words (and open
// files for) starts its program directly, with the shell as the way back when
// that fails. Children get their folder (fchdir into a held descriptor, or
// chdir) and the descriptors they are handed in the child itself, so the
// converter's own current folder and its descriptors' flags never change. Each
// child leads a session of its own: no terminal to ask a person on, and a
// process group that an interruption reaches as a whole.

#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
bool ApplyRedirections(const ChildRedirection* redirections,
                       std::size_t count) {
  int opened[kMaxRedirections];
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

// The capabilities an unpacking archiver never needs: making device nodes,
// keeping set-ID bits it was not entitled to, giving away its own ids or
// file capabilities.
constexpr int kRestrictedCapabilities[] = {
    CAP_MKNOD, CAP_FSETID, CAP_SETUID, CAP_SETGID, CAP_SETFCAP, CAP_CHOWN,
};

// In the child: takes the restricted capabilities out of the sets that an
// exec computes the new ones from, and forbids gaining any through a
// set-ID program. Plain system calls only. A process without privileges
// has none to lose: the calls then fail harmlessly.
void Restrict() {
  for (int capability : kRestrictedCapabilities) {
    prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
  }
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  struct __user_cap_header_struct header;
  struct __user_cap_data_struct data[2];
  std::memset(&header, 0, sizeof(header));
  std::memset(data, 0, sizeof(data));
  header.version = _LINUX_CAPABILITY_VERSION_3;
  if (syscall(SYS_capget, &header, data) == 0) {
    for (int capability : kRestrictedCapabilities) {
      data[capability / 32].inheritable &= ~(1u << (capability % 32));
    }
    syscall(SYS_capset, &header, data);
  }
  prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

// The full path of `program` as the child's exec would find it on `path`
// (a ':'-separated list): a name with a '/' stands for itself. Empty when
// no entry holds an executable file of that name.
std::string FindProgram(const std::string& program, const std::string& path) {
  if (program.find('/') != std::string::npos) return program;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string candidate = path.substr(start, end - start) + "/" + program;
    struct stat st;
    if (end > start && stat(candidate.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

// What a child that could not start tells its parent through the pipe: the
// step and the error number. The parent words it; the child may not.
struct StartFailure {
  int step;  // kStepChdir, kStepExec
  int error;
};
constexpr int kStepChdir = 1;
constexpr int kStepExec = 2;

std::vector<char*> Pointers(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (const std::string& t : texts)
    pointers.push_back(const_cast<char*>(t.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `argv` (argv[0] found already) as `launch` says and waits for it.
// `fallback`, when not empty, is run instead when a redirection cannot be
// applied or argv's program cannot be started.
ProcessResult Spawn(const std::vector<std::string>& argv,
                    const std::string& program, const ChildSpec& launch,
                    const std::vector<std::string>& fallback = {},
                    const std::vector<Redirection>& redirections = {}) {
  ProcessResult result;
  // Every child gets a PATH that finds programs only in absolute folders.
  std::vector<std::string> extra = launch.environment;
  const char* path = std::getenv("PATH");
  if (path != nullptr) extra.push_back("PATH=" + ChildSearchPath(path));
  std::vector<char*> child_environment = ChildEnvironment(extra);
  const int child_output = static_cast<int>(launch.output);
  const int child_errors = static_cast<int>(launch.errors);
  if (child_output < 0 || child_errors < 0) {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
  }

  // Everything the child needs is made here: between fork and exec a
  // threaded process may only make async-signal-safe calls.
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> fallback_args = Pointers(fallback);
  std::vector<int> inherit;
  for (std::intptr_t handle : launch.inherit) {
    if (handle > 2) inherit.push_back(static_cast<int>(handle));
  }
  const int folder_fd = static_cast<int>(launch.folder);
  const char* folder_path =
      launch.folder_path.empty() ? nullptr : launch.folder_path.c_str();
  struct rlimit file_limit;
  const bool limit_files = launch.max_file_size >= 0;
  if (limit_files) {
    file_limit.rlim_cur = file_limit.rlim_max =
        static_cast<rlim_t>(launch.max_file_size);
  }
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
  if (launch.keep_going && !launch.keep_going()) {
    // Not even started: what it may not go on with, it may not begin.
    result.stopped = true;
    result.error = "not started: it may not go on";
    return result;
  }
  sigset_t blocked = InterruptionSet(), saved_mask;
  pthread_sigmask(SIG_BLOCK, &blocked, &saved_mask);
  if (g_interruption != 0 || g_stopping) {
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    result.error = g_stopping ? "stopped" : "interrupted";
    return result;
  }
  int slot = TakeChildSlot();
  if (slot < 0) {
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    result.error = "too many children at once";
    return result;
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    g_children[slot] = 0;
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    return result;
  }
  pid_t pid = fork();
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    close(report[0]);
    close(report[1]);
    g_children[slot] = 0;
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    return result;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on: other threads of the
    // parent may have held locks at the fork.
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
    // cannot write its whole output, or passes the size limit, ends as it
    // normally would.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
    if (launch.restricted) Restrict();
    if (limit_files) setrlimit(RLIMIT_FSIZE, &file_limit);
    if (child_output >= 0) dup2(child_output, 1);
    if (child_errors >= 0) dup2(child_errors, 2);
    // This child's copies of the handed descriptors stay open across exec;
    // the parent's keep their flags.
    for (int fd : inherit) fcntl(fd, F_SETFD, 0);
    StartFailure failure = {kStepChdir, 0};
    if ((folder_fd >= 0 && fchdir(folder_fd) != 0) ||
        (folder_fd < 0 && folder_path != nullptr && chdir(folder_path) != 0)) {
      failure.error = errno;
    } else {
      failure.step = kStepExec;
      if (ApplyRedirections(child_redirections.data(),
                            child_redirections.size()) &&
          !program.empty()) {
        execve(program.c_str(), args.data(), child_environment.data());
      }
      failure.error = errno;
      if (fallback_args[0] != nullptr) {
        execve(fallback_args[0], fallback_args.data(),
               child_environment.data());
        failure.error = errno;
      }
    }
    ssize_t ignored = write(report[1], &failure, sizeof(failure));
    (void)ignored;
    _exit(127);
  }
  g_children[slot] = pid;
  // An interruption taken by another thread while this slot still said
  // "about to start" passed this child over: it gets it now (twice does no
  // harm).
  const int pending = g_interruption;
  if (pending != 0) {
    SignalChild(pid, pending);
  } else if (g_stopping) {
    SignalChild(pid, SIGTERM);
  }
  pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
  close(report[1]);
  StartFailure failure = {0, 0};
  ssize_t got;
  do {
    got = read(report[0], &failure, sizeof(failure));
  } while (got < 0 && errno == EINTR);
  close(report[0]);

  int status = 0;
  pid_t waited = -1;
  bool stopped = false;
  if (launch.keep_going && got == 0) {
    // Woken when the child ends, and otherwise every tenth of a second to
    // ask whether it may go on.
    int watch = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    while (watch >= 0) {
      struct pollfd ended = {watch, POLLIN, 0};
      int ready = poll(&ended, 1, 100);
      if (ready != 0) break;
      if (!stopped && !launch.keep_going()) {
        stopped = true;
        SignalChild(pid, SIGKILL);
      }
    }
    if (watch >= 0) close(watch);
  }
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  g_children[slot] = 0;

  if (got == static_cast<ssize_t>(sizeof(failure))) {
    result.outcome = ProcessResult::Outcome::kNotStarted;
    result.error =
        failure.step == kStepChdir
            ? "chdir(" +
                  (folder_fd >= 0 ? "/dev/fd/" + std::to_string(folder_fd)
                                  : launch.folder_path) +
                  "): " + std::strerror(failure.error)
            : "exec(" + argv[0] + "): " + std::strerror(failure.error);
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
    result.stopped = stopped;
  } else {
    result.error = "child ended in an unknown way";
  }
  return result;
}

}  // namespace

ProcessResult RunChild(const ChildSpec& launch) {
  const char* path = std::getenv("PATH");
  const std::string search = ChildSearchPath(path != nullptr ? path : "");
  if (launch.command.empty()) {
    ProcessResult result;
    if (launch.argv.empty() || launch.argv[0].empty()) {
      result.error = "no program to run";
      return result;
    }
    std::string program = FindProgram(launch.argv[0], search);
    if (program.empty()) {
      result.error = "exec(" + launch.argv[0] + "): " + std::strerror(ENOENT);
      return result;
    }
    return Spawn(launch.argv, program, launch);
  }
  // COMSPEC names a Windows interpreter; a bash or fish named there would
  // read the command's quoting otherwise than it was written for.
  std::vector<std::string> shell = {"/bin/sh", "-c", launch.command};
  // A command the shell would only split into words and open files for
  // skips the shell: one process start less for every archiver command.
  PlainCommand plain;
  if (ParsePlainCommand(launch.command, &plain) &&
      plain.redirections.size() <= kMaxRedirections) {
    std::string program = FindProgram(plain.words[0], search);
    if (!program.empty()) {
      return Spawn(plain.words, program, launch, shell, plain.redirections);
    }
  }
  return Spawn(shell, shell[0], launch);
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

long SharedCount::Value() const {
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) return -1;
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
