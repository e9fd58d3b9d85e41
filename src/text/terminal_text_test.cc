#include "text/terminal_text.h"

#include <gtest/gtest.h>

#include "platform/os.h"
#include "text/printable.h"

namespace zavo {
namespace {

TEST(TerminalTextTest, ColumnsOfPrintableText) {
  struct {
    std::string text;
    std::size_t columns;
  } cases[] = {
      {"", 0},
      {"plain.zip", 9},
      {"\\x1b]0;x\\x07", 12},  // escapes are plain ASCII
      {"caf\xc3\xa9", 4},
      {"\xe4\xb8\xad\xe6\x96\x87.zip", 8},  // two CJK characters, two wide
      {"\xf0\x9f\x98\x80!", 3},             // an emoji is wide
      {"\xea\xb0\x80", 2},                  // a Hangul syllable
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kIsWin32 ? c.text.size() : c.columns, TerminalColumns(c.text))
        << c.text;
  }
}

TEST(TerminalTextTest, NamesAreEscapedAndCutInTheMiddle) {
  struct {
    std::string name;
    std::size_t columns;
    std::string fitted;
  } cases[] = {
      {"short.zip", 20, "short.zip"},
      {"short.zip", 9, "short.zip"},
      {"abcdefghijklmnop.zip", 11, "abcd....zip"},
      {"abcdefghijklmnop.zip", 4, ""},
      // An escape is never cut: what does not fit on one side goes to the
      // other.
      {"\x1b]0;title\x07.zip", 40, "\\x1b]0;title\\x07.zip"},
      {"ab\x1b"
       "cdefghij.zip",
       10, "ab...j.zip"},
  };
  for (const auto& c : cases) {
    const std::string fitted = FitName(c.name, c.columns);
    EXPECT_EQ(c.fitted, fitted) << c.name << " in " << c.columns;
    EXPECT_LE(TerminalColumns(fitted), c.columns) << c.name;
  }
  if (kIsWin32) return;
  // Wide characters: every cut of a name of them fits and is whole UTF-8.
  std::string wide;
  for (int i = 0; i < 30; ++i) wide += "\xe4\xb8\xad";
  for (std::size_t columns = 5; columns < 70; ++columns) {
    const std::string fitted = FitName(wide + ".zip", columns);
    EXPECT_LE(TerminalColumns(fitted), columns);
    EXPECT_EQ(fitted, PrintableName(fitted)) << columns;
    // Its end is the name's end.
    const std::string tail = fitted.substr(fitted.find("...") + 3);
    EXPECT_EQ(tail, (wide + ".zip").substr(wide.size() + 4 - tail.size()));
    if (columns >= 9) {
      EXPECT_EQ(".zip", fitted.substr(fitted.size() - 4));
    }
  }
}

}  // namespace
}  // namespace zavo
