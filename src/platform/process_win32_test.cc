#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/process.h"
#include "testing/temp_dir.h"
#include "text/text_utils.h"

namespace zavo {
namespace {

// The test binary doubles as the child process. ZAVO_TEST_CHILD picks what
// it does, before any test runs:
//   "exit"    ends with the exit code in ZAVO_TEST_EXIT (decimal, 32 bits);
//   "args"    writes its current folder and its arguments, as the C runtime
//             parsed them, one a line, to the file ZAVO_TEST_OUT;
//   "cmdline" writes its raw command line to ZAVO_TEST_OUT.
std::string Env(const char* name) {
  char buffer[4096];
  DWORD n = ::GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

bool RunAsChildWhenAsked() {
  const std::string mode = Env("ZAVO_TEST_CHILD");
  if (mode.empty()) return false;
  std::string out;
  if (mode == "exit") {
    ::ExitProcess(static_cast<UINT>(
        std::strtoul(Env("ZAVO_TEST_EXIT").c_str(), nullptr, 10)));
  } else if (mode == "args") {
    out = GetCurrentFolder() + "\n";
    for (int i = 1; i < __argc; ++i) out += std::string(__argv[i]) + "\n";
  } else if (mode == "cmdline") {
    out = ::GetCommandLineA();
  }
  WriteFile(Env("ZAVO_TEST_OUT"), out);
  ::ExitProcess(0);
  return true;
}

[[maybe_unused]] const bool kRanAsChild = RunAsChildWhenAsked();

// Sets an environment variable for the length of a test.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value)
      : name_(name), old_(Env(name)), had_(!old_.empty()) {
    ::SetEnvironmentVariableA(name, value.c_str());
  }
  ~ScopedEnv() {
    ::SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_;
};

class ProcessWin32Test : public ::testing::Test {
 protected:
  std::string Self() const { return ProgramPath(nullptr); }

  ProcessResult RunChild(const char* mode, std::vector<std::string> args,
                         const std::string& folder = std::string()) {
    ScopedEnv child("ZAVO_TEST_CHILD", mode);
    ScopedEnv out("ZAVO_TEST_OUT", out_);
    args.insert(args.begin(), Self());
    return RunProgram(args, folder);
  }

  ProcessResult ExitWith(unsigned long code) {
    ScopedEnv exit("ZAVO_TEST_EXIT", std::to_string(code));
    return RunChild("exit", {});
  }

  ScopedTempDir dir_;
  std::string out_ = dir_ / "out.txt";
};

TEST_F(ProcessWin32Test, ProgramArgumentsArriveWhole) {
  const std::vector<std::string> args = {"plain",
                                         "with blank",
                                         "",
                                         "tab\there",
                                         "say \"hi\"",
                                         "trailing\\",
                                         "C:\\my dir\\",
                                         "a\\\\\"b",
                                         "C:\\ARC\\1f0c33a7.tmp\\*.*",
                                         "/r"};
  ProcessResult r = RunChild("args", args, dir_.path());
  ASSERT_EQ(ProcessResult::Outcome::kExited, r.outcome) << r.error;
  EXPECT_EQ(0, r.exit_code);
  std::string expected = dir_.path() + "\n";
  for (const std::string& a : args) expected += a + "\n";
  EXPECT_EQ(expected, ReadFile(out_));
  // The child got its folder; ours stayed.
  EXPECT_FALSE(EqualNoCase(dir_.path(), GetCurrentFolder()));
}

TEST_F(ProcessWin32Test, CommandGoesToComspecAsWritten) {
  ScopedEnv comspec("COMSPEC", Self());
  ScopedEnv child("ZAVO_TEST_CHILD", "cmdline");
  ScopedEnv out("ZAVO_TEST_OUT", out_);
  const std::string command = "pk a \"C:\\my arc\\x.rar\" *.* & echo %X%";
  ProcessResult r = RunShellCommand(command, std::string());
  ASSERT_EQ(ProcessResult::Outcome::kExited, r.outcome) << r.error;
  EXPECT_EQ("\"" + Self() + "\" /C " + command, ReadFile(out_));
}

TEST_F(ProcessWin32Test, CmdRunsInTheGivenFolderAndReportsItsExitCode) {
  ProcessResult r = RunShellCommand("cd > where.txt", dir_.path());
  ASSERT_EQ(ProcessResult::Outcome::kExited, r.outcome) << r.error;
  EXPECT_EQ(0, r.Code());
  EXPECT_TRUE(EqualNoCase(dir_.path() + "\r\n", ReadFile(dir_ / "where.txt")))
      << ReadFile(dir_ / "where.txt");

  EXPECT_EQ(3, RunShellCommand("exit 3", std::string()).Code());
  r = RunShellCommand("exit 256", std::string());
  EXPECT_EQ(256, r.exit_code);
  EXPECT_EQ(0, r.Code());
}

TEST_F(ProcessWin32Test, ExitCodesAndCrashes) {
  ProcessResult r = ExitWith(7);
  EXPECT_EQ(ProcessResult::Outcome::kExited, r.outcome);
  EXPECT_EQ(7, r.Code());
  EXPECT_EQ(0, ExitWith(0).Code());

  // An access violation ends like a killed POSIX child: 128 and more.
  r = ExitWith(0xC0000005);
  EXPECT_EQ(ProcessResult::Outcome::kSignaled, r.outcome);
  EXPECT_EQ(128 + 5, r.Code());
  // Statuses whose low byte would read as success or as "nothing run".
  EXPECT_EQ(128, ExitWith(0xC0000100).Code());
  EXPECT_EQ(128 + 0x42, ExitWith(0xC0000142).Code());
  EXPECT_EQ(255, ExitWith(0xFFFFFFFF).Code());
}

TEST_F(ProcessWin32Test, ProgramThatCannotStart) {
  ProcessResult r = RunProgram({dir_ / "no such.exe", "x"}, std::string());
  EXPECT_EQ(ProcessResult::Outcome::kNotStarted, r.outcome);
  EXPECT_EQ(127, r.Code());
  EXPECT_NE(std::string::npos, r.error.find("no such.exe")) << r.error;

  ScopedEnv comspec("COMSPEC", dir_ / "cmd.exe");
  r = RunShellCommand("exit 0", std::string());
  EXPECT_EQ(ProcessResult::Outcome::kNotStarted, r.outcome);
  EXPECT_NE(0, r.Code());

  EXPECT_EQ(ProcessResult::Outcome::kNotStarted, RunProgram({}, "").outcome);
}

TEST_F(ProcessWin32Test, OwnPathAndEnvironment) {
  const std::string self = Self();
  EXPECT_TRUE(EqualNoCase("zavo_test.exe", PathFileName(self))) << self;
  EXPECT_EQ(":\\", self.substr(1, 2)) << self;

  EXPECT_EQ("", GetEnvironment("ZAVO_TEST_UNSET_VARIABLE"));
  const std::string long_value(1000, 'v');
  ScopedEnv value("ZAVO_TEST_LONG", long_value);
  EXPECT_EQ(long_value, GetEnvironment("ZAVO_TEST_LONG"));
}

TEST(SharedCountWin32Test, AddsAtOnceAreEachCountedOnce) {
  // Nested runs of several jobs add to one count at once. Each add must
  // land, and each must see its own total.
  std::unique_ptr<SharedCount> count = SharedCount::Create();
  ASSERT_NE(nullptr, count);
  constexpr int kThreads = 4;
  constexpr int kAdds = 100;
  std::vector<std::vector<long>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&count, &seen, t] {
      for (int i = 0; i < kAdds; ++i) seen[t].push_back(count->Add());
    });
  }
  for (std::thread& t : threads) t.join();
  std::vector<int> times(kThreads * kAdds + 2, 0);
  for (const std::vector<long>& totals : seen) {
    for (long total : totals) {
      ASSERT_GE(total, 1);
      ASSERT_LE(total, kThreads * kAdds);
      ++times[total];
    }
  }
  for (int total = 1; total <= kThreads * kAdds; ++total) {
    EXPECT_EQ(1, times[total]) << "total " << total;
  }
  EXPECT_EQ(kThreads * kAdds + 1, count->Add());
}

}  // namespace
}  // namespace zavo
