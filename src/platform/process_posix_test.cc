// Child processes on POSIX: what they inherit from the converter.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"
#include "testing/temp_dir.h"

namespace zavo {
namespace {

TEST(ProcessTest, ChildrenGetTheDefaultFileSizeSignal) {
  // The converter ignores SIGXFSZ; an archiver writing past a file-size
  // limit must still end as it would anywhere else, not go on with a
  // failed write it may not check.
  ScopedTempDir dir;
  struct sigaction ignore = {}, saved = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &saved);
  ProcessResult result = RunShellCommand(
      "ulimit -f 1 && exec head -c 8192 /dev/zero > big", dir.path());
  sigaction(SIGXFSZ, &saved, nullptr);
  EXPECT_EQ(ProcessResult::Outcome::kSignaled, result.outcome);
  EXPECT_EQ(SIGXFSZ, result.signal);
}

TEST(ProcessTest, ChildLeadsASessionWithoutATerminal) {
  // An archiver that asks for a passphrase on /dev/tty must fail at once,
  // also when zavo runs in a terminal.
  ScopedTempDir dir;
  ProcessResult result = RunShellCommand(
      "read -r pid comm state ppid pgrp session rest </proc/$$/stat &&"
      " test \"$session\" = $$ && test \"$pgrp\" = $$ &&"
      " ! (exec </dev/tty) 2>/dev/null",
      dir.path());
  EXPECT_EQ(ProcessResult::Outcome::kExited, result.outcome);
  EXPECT_EQ(0, result.exit_code);
}

TEST(ProcessTest, ProgramsGetExtraEnvironmentOverTheirOwn) {
  ::setenv("ZAVO_TEST_OLD", "old", 1);
  ProcessResult result = RunProgram(
      {"/bin/sh", "-c", "test \"$ZAVO_TEST_OLD/$ZAVO_TEST_NEW\" = new/2"}, "",
      {"ZAVO_TEST_OLD=new", "ZAVO_TEST_NEW=2"});
  ::unsetenv("ZAVO_TEST_OLD");
  EXPECT_EQ(0, result.Code());
}

TEST(ProcessTest, SharedCountReachesOnlyTheChildItIsHandedTo) {
  std::unique_ptr<SharedCount> count = SharedCount::Create();
  ASSERT_NE(nullptr, count);
  EXPECT_EQ(1, count->Add());
  std::string add = "printf + >&" + count->Name();
  // An archiver does not get it; a nested run does, and counts with us.
  EXPECT_NE(0, RunShellCommand("exec 2>/dev/null; " + add, "").Code());
  EXPECT_EQ(0, RunProgram({"/bin/sh", "-c", add}, "", {}, count.get()).Code());
  EXPECT_EQ(3, count->Add());
  EXPECT_EQ(3, count->Value());
  EXPECT_TRUE(count->Reset());
  EXPECT_EQ(0, count->Value());
  EXPECT_EQ(1, count->Add());
  // Descriptors that are no count: standard output, none, not a number.
  for (const char* name : {"1", "987", "", "3x", "-4"}) {
    EXPECT_EQ(nullptr, SharedCount::Open(name)) << name;
  }
}

// The interruption state lasts for the process, so these run in a child.
TEST(ProcessDeathTest, InterruptionReachesTheChildsGroupAndStopsNewOnes) {
  ScopedTempDir dir;
  std::string pid_file = dir.path() + "/sleeper";
  auto interrupted_run = [&]() {
    CatchInterruptions();
    auto start = std::chrono::steady_clock::now();
    // The shell's own child must end too, not only the shell.
    ProcessResult r = RunShellCommand(
        "sleep 30 & echo $! >sleeper; kill -TERM $PPID; wait", dir.path());
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
    std::ifstream in(pid_file);
    pid_t sleeper = 0;
    in >> sleeper;
    bool sleeper_gone = false;
    for (int i = 0; i < 100 && !sleeper_gone; ++i) {
      sleeper_gone = sleeper > 0 && ::kill(sleeper, 0) != 0;
      if (!sleeper_gone) ::usleep(20000);
    }
    bool refused = RunShellCommand("true", "").outcome ==
                   ProcessResult::Outcome::kNotStarted;
    if (r.outcome == ProcessResult::Outcome::kSignaled && r.signal == SIGTERM &&
        seconds < 10 && sleeper_gone && refused &&
        InterruptionSignal() == SIGTERM) {
      EndAsInterrupted(SIGTERM);
    }
    std::_Exit(3);
  };
  EXPECT_EXIT(interrupted_run(), ::testing::KilledBySignal(SIGTERM), "");
}

TEST(ProcessDeathTest, ASignalIgnoredAtStartStaysIgnored) {
  auto run = []() {
    ::signal(SIGHUP, SIG_IGN);
    CatchInterruptions();
    ::raise(SIGHUP);
    // The child must not get SIGHUP's default either (nohup).
    ProcessResult r = RunShellCommand("kill -HUP $$; exit 4", "");
    std::_Exit(InterruptionSignal() == 0 && r.Code() == 4 ? 0 : 3);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST(ProcessTest, ChildSearchPathKeepsOnlyAbsoluteEntries) {
  EXPECT_EQ("/usr/bin:/bin", ChildSearchPath("/usr/bin:/bin"));
  EXPECT_EQ("/a:/b", ChildSearchPath(".::/a:bin:./x:/b:"));
  EXPECT_EQ("/usr/bin:/bin", ChildSearchPath(""));
  EXPECT_EQ("/usr/bin:/bin", ChildSearchPath(".:tools"));
}

TEST(ProcessTest, ShellIsBinShWithASafePathAndTheGivenVariables) {
  // An archive unpacked into the child's folder may bring a "7z" along; a
  // COMSPEC on POSIX may name another shell. Neither takes effect.
  ScopedTempDir dir;
  WriteFile(dir / "7z", "#!/bin/sh\necho planted > planted\n");
  ASSERT_EQ(0, chmod((dir / "7z").c_str(), 0755));
  const std::string saved_path = GetEnvironment("PATH");
  setenv("PATH", (".::" + saved_path).c_str(), 1);
  setenv("COMSPEC", (dir / "7z").c_str(), 1);
  const ProcessResult result =
      RunShellCommand("7z; printf '%s|%s' \"$PATH\" \"$ZAVO_X\" > seen",
                      dir.path(), {"ZAVO_X=a b\n$(x)"});
  setenv("PATH", saved_path.c_str(), 1);
  unsetenv("COMSPEC");
  EXPECT_EQ(ProcessResult::Outcome::kExited, result.outcome);
  EXPECT_NE(0, access((dir / "planted").c_str(), F_OK));
  EXPECT_EQ(ChildSearchPath(saved_path) + "|a b\n$(x)", ReadFile(dir / "seen"));
}

TEST(ProcessTest, PlainCommandsSplitExactlyAsTheShellSplitsThem) {
  struct Case {
    const char* command;
    bool accepted;
    const char* redirections;  // "fd<path", "fd>path", "fd>>path", "fd&from"
  } cases[] = {
      {"7z a -t7z -mx=9 -- 'x.7z' '/dev/fd/5/a b' </dev/null", true,
       "0</dev/null"},
      {"tar\t-xf 'a'b'c' '' - >out 2>&1", true, "1>out 2&1"},
      {"prog 'line\nend' ,:+@%^ '$HOME' '*' '#x' '`q`' 'A=b'", true, ""},
      {"prog 2 >'a b' 2>>log <   in", true, "1>a b 2>>log 0<in"},
      {"<in prog >&2", true, "0<in 1&2"},
      {"unzip -q -o 'it'\\''s'", false, ""},  // the shell's own quote escape
      {"A=b prog", false, ""},
      {"prog $HOME", false, ""},
      {"prog *.zip", false, ""},
      {"prog ~/x", false, ""},
      {"prog a # b", false, ""},
      {"prog a; rm x", false, ""},
      {"prog a | wc", false, ""},
      {"prog a>out", false, ""},  // a word joined to an operator
      {"prog 12>out", false, ""},
      {"prog <<EOF", false, ""},
      {"prog <>x", false, ""},
      {"prog >|x", false, ""},
      {"prog >&3", false, ""},
      {"prog 2>&1x", false, ""},
      {"prog >", false, ""},
      {"prog > ''", false, ""},
      {"prog \"a\"", false, ""},
      {"prog 'open", false, ""},
      {"prog a\nrm x", false, ""},
      {"cd x", false, ""},
      {"exec prog", false, ""},
      {"if true", false, ""},
      {"'' x", false, ""},
      {">out", false, ""},
      {"", false, ""},
      {"   ", false, ""},
  };
  for (const Case& c : cases) {
    PlainCommand plain;
    EXPECT_EQ(c.accepted, ParsePlainCommand(c.command, &plain)) << c.command;
    if (!c.accepted) continue;
    std::string redirections;
    for (const Redirection& r : plain.redirections) {
      if (!redirections.empty()) redirections += ' ';
      redirections += std::to_string(r.fd);
      switch (r.kind) {
        case Redirection::Kind::kRead:
          redirections += "<" + r.path;
          break;
        case Redirection::Kind::kWrite:
          redirections += ">" + r.path;
          break;
        case Redirection::Kind::kAppend:
          redirections += ">>" + r.path;
          break;
        case Redirection::Kind::kDuplicate:
          redirections += "&" + std::to_string(r.from);
          break;
      }
    }
    EXPECT_EQ(c.redirections, redirections) << c.command;
    // The shell's reading of the same words, each with a mark.
    ScopedTempDir dir;
    WriteFile(dir / "in", "");
    RunShellCommand(std::string("set -- ") + c.command +
                        "; for w; do printf '%s<' \"$w\"; done > seen",
                    dir.path());
    std::string joined;
    for (const std::string& w : plain.words) joined += w + "<";
    EXPECT_EQ(ReadFile(dir / "seen"), joined) << c.command;
  }
}

TEST(ProcessTest, PlainCommandsGetTheShellsFilesAndAnswers) {
  // Run directly, a program gets its words and its files as the shell
  // would give them; a file or program that cannot be opened or started
  // gets the shell's own answer, not a start failure of its own.
  ScopedTempDir dir;
  WriteFile(dir / "args",
            "#!/bin/sh\nprintf '%s|' \"$@\"; read -r line; echo \"$line\"\n"
            "echo err >&2\n");
  ASSERT_EQ(0, chmod((dir / "args").c_str(), 0755));
  WriteFile(dir / "in", "from the file\n");
  ProcessResult ran =
      RunShellCommand("./args 'a b' '' c <in >out 2>&1", dir.path());
  EXPECT_EQ(ProcessResult::Outcome::kExited, ran.outcome);
  EXPECT_EQ(0, ran.exit_code);
  EXPECT_EQ("a b||c|from the file\nerr\n", ReadFile(dir / "out"));
  RunShellCommand("./args x </dev/null >>out 2>/dev/null", dir.path());
  EXPECT_EQ("a b||c|from the file\nerr\nx|\n", ReadFile(dir / "out"));

  for (const char* failing :
       {"no-such-program-here x", "./args <missing", "./args >no/such/dir"}) {
    ProcessResult direct = RunShellCommand(failing, dir.path());
    ProcessResult shell = RunProgram({"/bin/sh", "-c", failing}, dir.path());
    EXPECT_EQ(ProcessResult::Outcome::kExited, direct.outcome) << failing;
    EXPECT_EQ(shell.exit_code, direct.exit_code) << failing;
    EXPECT_NE(0, direct.exit_code) << failing;
  }
}

}  // namespace
}  // namespace zavo
