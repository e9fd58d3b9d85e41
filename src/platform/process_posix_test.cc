// Child processes on POSIX: what they inherit from the converter.

#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>

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

}  // namespace
}  // namespace zavo
