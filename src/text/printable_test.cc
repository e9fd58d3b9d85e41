#include "text/printable.h"

#include <gtest/gtest.h>

#include "platform/os.h"

namespace zavo {
namespace {

TEST(PrintableNameTest, EscapesWhatIsNotPrintable) {
  struct {
    std::string in;
    std::string out;
    bool posix_only;  // a code page's upper half is letters on Win32
  } cases[] = {
      {"plain name.zip", "plain name.zip", false},
      {"", "", false},
      {"caf\xc3\xa9 \\ back.zip", "caf\xc3\xa9 \\ back.zip", false},
      {"x.zip\n[x.zip] -> [x.7z] done!", "x.zip\\n[x.zip] -> [x.7z] done!",
       false},
      {"\x1b[2Jclear.zip", "\\x1b[2Jclear.zip", false},
      {"a\rb\tc\x7f"
       "d\x01",
       "a\\rb\\tc\\x7fd\\x01", false},
      {std::string("nul\0.zip", 8), "nul\\x00.zip", false},
      // CSI as a C1 control in UTF-8 and as a lone byte; a cut sequence.
      {"\xc2\x9b"
       "2J",
       "\\xc2\\x9b2J", true},
      {"\x9b"
       "31m",
       "\\x9b31m", true},
      {"end\xe2\x82", "end\\xe2\\x82", true},
      // Overlong "/" and a surrogate are no characters; a right-to-left
      // override turns what follows around unseen.
      {"\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80", true},
      {"a\xe2\x80\xae"
       "cod.exe",
       "a\\xe2\\x80\\xaecod.exe", true},
      {"\xf0\x9f\x98\x80 \xe4\xb8\xad", "\xf0\x9f\x98\x80 \xe4\xb8\xad", true},
  };
  for (const auto& c : cases) {
    if (c.posix_only && kIsWin32) continue;
    EXPECT_EQ(c.out, PrintableName(c.in)) << c.out;
    // The pieces are the same text, never an escape or a character split.
    std::string joined;
    for (const std::string& piece : PrintablePieces(c.in)) {
      EXPECT_TRUE(piece.size() == 1 || piece[0] == '\\' ||
                  static_cast<unsigned char>(piece[0]) >= 0xC2)
          << piece;
      joined += piece;
    }
    EXPECT_EQ(c.out, joined);
  }
}

TEST(PrintableNameTest, LinesInPiecesAreEscapedWhole) {
  const std::string text = "one \xc3\xa9\r\nt\x1bwo\nlast";
  std::string whole;
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    PrintableLines lines;
    std::string out;
    lines.Feed(text.data(), cut, &out);
    lines.Feed(text.data() + cut, text.size() - cut, &out);
    lines.Finish(&out);
    EXPECT_EQ("one \xc3\xa9\nt\\x1bwo\nlast\n", out) << cut;
  }
}

}  // namespace
}  // namespace zavo
