#include "text/printable.h"

#include <gtest/gtest.h>

namespace zavo {
namespace {

TEST(PrintableNameTest, EscapesControlCharactersOnly) {
  struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"plain name.zip", "plain name.zip"},
      {"", ""},
      {"caf\xc3\xa9 \\ back.zip", "caf\xc3\xa9 \\ back.zip"},
      {"x.zip\n[x.zip] -> [x.7z] done!", "x.zip\\n[x.zip] -> [x.7z] done!"},
      {"\x1b[2Jclear.zip", "\\x1b[2Jclear.zip"},
      {"a\rb\tc\x7f"
       "d\x01",
       "a\\rb\\tc\\x7fd\\x01"},
      {std::string("nul\0.zip", 8), "nul\\x00.zip"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.out, PrintableName(c.in)) << c.out;
}

}  // namespace
}  // namespace zavo
