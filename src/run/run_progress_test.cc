#include "run/run_progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/os.h"

namespace zavo {
namespace {

TEST(RunProgressTest, HumanUnits) {
  EXPECT_EQ("0 B", HumanBytes(-5));
  EXPECT_EQ("1023 B", HumanBytes(1023));
  EXPECT_EQ("1.0 KB", HumanBytes(1024));
  EXPECT_EQ("1.5 MB", HumanBytes(3 << 19));
  EXPECT_EQ("2048.0 TB", HumanBytes(std::int64_t{1} << 51));
  EXPECT_EQ("0:00", HumanTime(-1));
  EXPECT_EQ("1:05", HumanTime(64.6));
  EXPECT_EQ("1:00:00", HumanTime(3600));
}

TEST(RunProgressTest, StatusLineEstimatesFromTheBytesDone) {
  // The status line names the archive by its last part, split where this
  // system splits paths.
  const std::string arc =
      std::string(1, kPathSeparator) + "arc" + kPathSeparator;
  double now = 100;
  std::ostringstream err;
  RunProgress progress(err, true, [&now] { return now; });
  progress.SetTotal(3, 3000);
  progress.Begin(arc + "a.zip", 1000);
  EXPECT_EQ("0/3 archives, 0 B of 2.9 KB, 0:00: a.zip", progress.StatusLine());
  now = 110;
  progress.Converted(1000, 600);
  now = 120;
  // A third of the bytes in 20 seconds: 40 more.
  progress.Begin(arc + std::string(100, 'n') + ".zip", 2000);
  // Cut in the middle to fit 80 columns less one.
  EXPECT_EQ(
      "1/3 archives, 1000 B of 2.9 KB, 0:20, about 0:40 left: "
      "nnnnnnnnnn...nnnnnnn.zip",
      progress.StatusLine());
  progress.Failed();
  // More archives than counted: the total follows.
  progress.Begin(arc + "c.zip", -1);
  progress.Left();
  progress.Begin(arc + "d.zip", 0);
  EXPECT_EQ("3/4 archives", progress.StatusLine().substr(0, 12));
  EXPECT_EQ(
      "summary: 1 converted, 1 failed, 1 left alone; 1000 bytes before, 600 "
      "after; 20.0 s",
      progress.Summary());

  // Erasing writes blanks over the whole line and goes back to its start.
  err.str("");
  progress.Hide();
  EXPECT_EQ("\r" + std::string(progress.StatusLine().size(), ' ') + "\r",
            err.str());
}

TEST(RunProgressTest, StatusLineFitsTheTerminalItIsDrawnOn) {
  double now = 0;
  int columns = 0;
  std::ostringstream err;
  RunProgress progress(
      err, true, [&now] { return now; }, [&columns] { return columns; });
  progress.SetTotal(304, std::int64_t{13} << 30);
  // The status line names the archive, not its folder.
  const std::string arc =
      std::string(1, kPathSeparator) + "arc" + std::string(1, kPathSeparator);
  progress.Begin(arc + "first.zip", 1 << 20);
  now = 30;
  progress.Converted(1 << 20, 1 << 19, true);
  progress.Begin(arc + "a long name with \x1b]0;title\x07 in it.zip", 10);
  struct {
    int columns;
    std::string line;
  } cases[] = {
      // Unknown: 80 columns.
      {0,
       "1/304 archives, 1.0 MB of 13.0 GB, 0:30, about 110:55:30 left: a "
       "long... it.zip"},
      {120,
       "1/304 archives, 1.0 MB of 13.0 GB, 0:30, about 110:55:30 left: a long "
       "name with \\x1b]0;title\\x07 in it.zip"},
      // The estimate goes first, then the bytes; the name is cut, never
      // inside an escape.
      {70,
       "1/304 archives, 1.0 MB of 13.0 GB, 0:30: a long name ... in it.zip"},
      {50, "1/304 archives, 0:30: a long name ... in it.zip"},
      {24, "1/304 archives, 0:30"},
      {10, "1/304 arc"},
  };
  for (const auto& c : cases) {
    columns = c.columns;
    EXPECT_EQ(c.line, progress.StatusLine()) << c.columns;
  }
  // Drawn in 120 columns, then the terminal shrinks: the blanks that erase
  // the old line never reach past the new width.
  columns = 120;
  progress.Refresh();
  columns = 30;
  err.str("");
  progress.Hide();
  EXPECT_EQ("\r" + std::string(29, ' ') + "\r", err.str());
  EXPECT_EQ(
      "summary: 0 converted, 1 kept, 0 failed, 0 left alone; 1048576 bytes "
      "before, 524288 after; 30.0 s",
      progress.Summary());
}

TEST(RunProgressTest, NothingDrawnWhenNotLive) {
  std::ostringstream err;
  RunProgress progress(err, false);
  progress.Begin("/a.zip", 1);
  progress.Converted(1, 1);
  progress.Hide();
  EXPECT_EQ("", err.str());
}

}  // namespace
}  // namespace zavo
