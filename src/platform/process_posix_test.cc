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
  EXPECT_TRUE(count->Reset());
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
  // Each accepted command: its words must be the shell's own.
  struct Case {
    const char* command;
    bool accepted;
  } cases[] = {
      {"7z a -t7z -mx=9 -- 'x.7z' '/dev/fd/5/a b'", true},
      {"tar\t-xf 'a'b'c' '' -", true},
      {"prog 'line\nend' ,:+@%^ '$HOME' '*' '#x' '`q`' 'A=b'", true},
      {"unzip -q -o 'it'\\''s'", false},  // the shell's own quote escape
      {"A=b prog", false},
      {"prog $HOME", false},
      {"prog *.zip", false},
      {"prog ~/x", false},
      {"prog a # b", false},
      {"prog a; rm x", false},
      {"prog a > out", false},
      {"prog \"a\"", false},
      {"prog 'open", false},
      {"prog a\nrm x", false},
      {"cd x", false},
      {"exec prog", false},
      {"if true", false},
      {"'' x", false},
      {"", false},
      {"   ", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words;
    EXPECT_EQ(c.accepted, PlainCommandWords(c.command, &words)) << c.command;
    if (!c.accepted) continue;
    // The shell's reading of the same words, one per line with a mark.
    ScopedTempDir dir;
    RunShellCommand(std::string("set -- ") + c.command +
                        "; for w; do printf '%s<' \"$w\"; done > seen",
                    dir.path());
    std::string joined;
    for (const std::string& w : words) joined += w + "<";
    EXPECT_EQ(ReadFile(dir / "seen"), joined) << c.command;
  }
}

TEST(ProcessTest, APlainCommandWhoseProgramCannotStartIsTheShells) {
  // Run directly the program starts without a shell; one that is not there
  // gets the shell's answer (127), not a start failure of its own.
  ScopedTempDir dir;
  WriteFile(dir / "args", "#!/bin/sh\nprintf '%s|' \"$@\" > seen\n");
  ASSERT_EQ(0, chmod((dir / "args").c_str(), 0755));
  ProcessResult ran = RunShellCommand("./args 'a b' '' c", dir.path());
  EXPECT_EQ(ProcessResult::Outcome::kExited, ran.outcome);
  EXPECT_EQ(0, ran.exit_code);
  EXPECT_EQ("a b||c|", ReadFile(dir / "seen"));
  ProcessResult missing = RunShellCommand("no-such-program-here x", dir.path());
  EXPECT_EQ(ProcessResult::Outcome::kExited, missing.outcome);
  EXPECT_EQ(127, missing.exit_code);
}

}  // namespace
}  // namespace zavo
