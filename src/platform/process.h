// Starting child processes and the process's own facts: its path, its
// environment, a pause.

#ifndef ZAVO_PLATFORM_PROCESS_H_
#define ZAVO_PLATFORM_PROCESS_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zavo {

class SharedCount;

// How a child process ended.
struct ProcessResult {
  enum class Outcome { kNotStarted, kExited, kSignaled };
  Outcome outcome = Outcome::kNotStarted;
  int exit_code = 0;  // with kExited: the full exit code
  int signal = 0;     // with kSignaled
  std::string error;  // with kNotStarted: why
  // The child was stopped (kSignaled), or never started (kNotStarted),
  // because ChildSpec::keep_going said so.
  bool stopped = false;

  bool succeeded() const {
    return outcome == Outcome::kExited && exit_code == 0;
  }
  // "exited with 3", "killed by signal 9", "could not start: <why>".
  std::string Describe() const;

  // The 8-bit result where a message needs one: the low 8 bits of the exit
  // code; 128 + signal for a killed child and 127 for one that did not
  // start, so that neither can read as success.
  unsigned char Code() const;
};

// Everything a child process gets, said explicitly: nothing reaches it
// through state this process keeps for all its threads.
struct ChildSpec {
  // The program and its arguments (argv[0] is looked for on the child's
  // PATH when it holds no separator) ...
  std::vector<std::string> argv;
  // ... or, when not empty, a command for the interpreter (argv is then
  // unused). On POSIX a command the shell would only split into words and
  // open files for starts its program directly (see ParsePlainCommand).
  std::string command;
  // Where the child starts: a held folder's handle (POSIX: the descriptor
  // it changes into), else a path, else this process's current folder.
  std::intptr_t folder = -1;
  std::string folder_path;
  // "NAME=value" texts put over this process's environment.
  std::vector<std::string> environment;
  // Handles the child keeps, under the numbers they have here. POSIX: no
  // other descriptor of this process reaches it but 0 to 2 (everything this
  // process opens is close-on-exec; the child clears the flag on these for
  // itself). Win32 hands the standard handles and these.
  std::vector<std::intptr_t> inherit;
  // Where its standard output and error go; -1 for this process's own.
  std::intptr_t output = -1;
  std::intptr_t errors = -1;
  // The largest file it may write, in bytes (-1: no limit of ours). A write
  // past it fails, and kills a child that does not expect that (POSIX
  // RLIMIT_FSIZE with the default SIGXFSZ).
  std::int64_t max_file_size = -1;
  // An archiver that unpacks what others made: it may not create device
  // nodes, keep set-user or set-group-ID bits it was not entitled to, give
  // files away or gain privileges by running a set-ID program (POSIX: those
  // capabilities leave its bounding and inheritable sets, and no_new_privs
  // is set). Nothing changes for a process that has none of them.
  bool restricted = false;
  // Asked a few times a second while the child runs, when set: false stops
  // the child with its group (SIGKILL on POSIX). Called on the thread that
  // runs the child.
  std::function<bool()> keep_going;
  // What the child is for, as messages name it ("zip extract"); empty when
  // its starter did not say. Nothing of it reaches the child.
  std::string label;
};

// Runs the child that `launch` describes and waits for it. On POSIX the
// interpreter is /bin/sh, run as `/bin/sh -c command` (COMSPEC is a Windows
// name and means nothing there); on Win32 it is COMSPEC run with " /C " +
// command. When a plain command's program cannot be started or one of its
// files opened, the shell runs the command after all, so that what is said
// and returned is the shell's own. Standard output is flushed first when the
// child writes there, so that its lines follow ours.
//
// On POSIX every child's PATH keeps only its absolute entries (see
// ChildSearchPath): an empty or relative entry would find programs in
// whatever folder the child runs in, such as one an archive was just
// unpacked into.
ProcessResult RunChild(const ChildSpec& launch);

// RunChild for `command` in `folder` (a path; our current folder when
// empty) with `environment`.
ProcessResult RunShellCommand(const std::string& command,
                              const std::string& folder,
                              const std::vector<std::string>& environment = {});

// RunChild for the argument vector `argv` (argv[0] is the program's path),
// with no interpreter in between; `shared`, when given, is handed on to this
// child alone.
ProcessResult RunProgram(const std::vector<std::string>& argv,
                         const std::string& folder,
                         const std::vector<std::string>& environment = {},
                         const SharedCount* shared = nullptr);

// A count shared by a run and the nested runs it starts, whichever process
// adds to it: it bounds the work that one archive may cause however deep its
// nested archives go.
class SharedCount {
 public:
  // A new count at zero; null when the system cannot make one.
  static std::unique_ptr<SharedCount> Create();
  // The count that the run which started this process handed on under
  // `name` (see Name); null when `name` names no such count, such as a text
  // set by hand or a handle that means something else in this process.
  static std::unique_ptr<SharedCount> Open(const std::string& name);

  ~SharedCount();
  SharedCount(const SharedCount&) = delete;
  SharedCount& operator=(const SharedCount&) = delete;

  // Adds one and returns the new total, counted over every process that
  // holds the count; -1 when it could not be counted.
  long Add();
  // The count now, over every holder; -1 when it cannot be read.
  long Value() const;
  // Sets the count back to zero, for every holder.
  bool Reset();
  // What a child given this count (RunProgram's `shared`) passes to Open.
  std::string Name() const;
  // The system's handle; for RunProgram.
  long handle() const { return handle_; }

 private:
  explicit SharedCount(long handle) : handle_(handle) {}
  long handle_;
};

// Every child runs without a way to ask a person: on POSIX it starts in a
// session of its own with no controlling terminal (opening /dev/tty fails),
// so an archiver that would ask for a passphrase there fails at once; on
// Win32 it shares the console.
//
// Interruption. After CatchInterruptions, SIGINT, SIGTERM and SIGHUP (on
// Win32 Ctrl-C, Ctrl-Break and closing the console) no longer end the
// process: the first one is recorded, and the child that runs at that moment
// gets the same signal in its whole process group (a child in a session of
// its own does not get the terminal's Ctrl-C by itself). A child that has not
// ended some seconds later is killed with its group. The caller then asks
// InterruptionSignal after each command, cleans up and calls
// EndAsInterrupted. A signal that was ignored when the process started (nohup,
// a background job) stays ignored, for the converter and its children.
void CatchInterruptions();

// The signal of the first interruption since CatchInterruptions; 0 when none
// came.
int InterruptionSignal();

// Ends the process as the interruption would have ended it without
// CatchInterruptions: POSIX re-raises the signal with its default action (a
// shell then sees 128 + signal, 130 for SIGINT); the exit code is 128 +
// signal where that is not possible.
[[noreturn]] void EndAsInterrupted(int signal);

// PATH as POSIX children get it: the absolute entries of `path`, in order;
// "/usr/bin:/bin" when none is left. An unset PATH stays unset.
std::string ChildSearchPath(const std::string& path);

// A redirection of a plain command, applied in the child in order.
struct Redirection {
  enum class Kind { kRead, kWrite, kAppend, kDuplicate };
  Kind kind = Kind::kRead;
  int fd = 0;        // the descriptor the program gets
  int from = -1;     // kDuplicate: the descriptor it is a copy of
  std::string path;  // the others: the file opened for it
};

// A command line as a POSIX shell reads it when it does nothing but split
// it into words and open files for it.
struct PlainCommand {
  std::vector<std::string> words;
  std::vector<Redirection> redirections;
};

// Reads `command` into *plain when the shell would only split it into
// words and open its redirections: blanks between words, characters that
// are themselves anywhere (letters, digits, "_-./,:+@%^=") and '...'
// quoting; "<file", ">file", ">>file" and ">&N" for descriptors 0 to 2;
// no variable set before the program, and a program that is not one of
// the shell's own words (cd, exec, if, ...). False when the shell would do
// more, or the command is empty.
bool ParsePlainCommand(const std::string& command, PlainCommand* plain);

// Stops every child running now (its whole group gets SIGTERM; on Win32 it
// is ended) and refuses every child asked for from now on, which then fails
// to start. For a run that stops while jobs still run.
void StopChildren();

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

// Whether a status line may be drawn on standard error: it is a terminal,
// and on POSIX this process is in that terminal's foreground (a background
// job, or a child that leads a session of its own, is not).
bool StandardErrorIsTerminal();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_PROCESS_H_
