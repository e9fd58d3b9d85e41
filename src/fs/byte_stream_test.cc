#include "fs/byte_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/temp_dir.h"

namespace zavo {
namespace {

// The lines of the file; *ends, when given, gets the end of each.
std::vector<std::string> ReadLines(const std::string& path,
                                   std::size_t limit = kMaxText,
                                   std::vector<std::string>* ends = nullptr) {
  ByteStream s;
  EXPECT_TRUE(s.Open(path, ByteStream::Mode::kRead));
  std::vector<std::string> lines;
  while (s.Position() < s.Size()) {
    std::string line;
    std::string end;
    ReadTextLine(&s, &line, limit, nullptr, ends != nullptr ? &end : nullptr);
    lines.push_back(line);
    if (ends != nullptr) ends->push_back(end);
    EXPECT_FALSE(s.failed());
  }
  return lines;
}

TEST(ReadTextLineTest, EveryLineEndCountsOnce) {
  ScopedTempDir dir;
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
    std::vector<std::string> ends;
  } cases[] = {
      {"a\r\nb\n\rc", {"a", "b", "c"}, {"\r\n", "\n\r", ""}},
      {"a\r\rb", {"a", "", "b"}, {"\r", "\r", ""}},
      {"a\n\nb\n", {"a", "", "b"}, {"\n", "\n", "\n"}},
      {"a\rb\rc\r", {"a", "b", "c"}, {"\r", "\r", "\r"}},
      {"\n", {""}, {"\n"}},
      {"last", {"last"}, {""}},
  };
  for (const Case& c : cases) {
    WriteFile(dir / "f", c.bytes);
    std::vector<std::string> ends;
    EXPECT_EQ(c.lines, ReadLines(dir / "f", kMaxText, &ends)) << c.bytes;
    EXPECT_EQ(c.ends, ends) << c.bytes;
    EXPECT_EQ(c.lines, ReadLines(dir / "f")) << c.bytes;
  }
}

TEST(ReadTextLineTest, LongLinesAreCutButSkippedWhole) {
  ScopedTempDir dir;
  std::string long_line(300, 'x');
  WriteFile(dir / "f", long_line + "\r\nnext\r\n");
  ByteStream s;
  ASSERT_TRUE(s.Open(dir / "f", ByteStream::Mode::kRead));
  std::string line;
  bool cut = false;
  ReadTextLine(&s, &line, kMaxText, &cut);
  EXPECT_EQ(std::string(255, 'x'), line);
  EXPECT_TRUE(cut);
  ReadTextLine(&s, &line, kMaxText, &cut);
  EXPECT_EQ("next", line);
  EXPECT_FALSE(cut);
  EXPECT_EQ(s.Size(), s.Position());
  EXPECT_EQ(std::vector<std::string>({long_line, "next"}),
            ReadLines(dir / "f", std::string::npos));
}

TEST(ReadTextLineTest, LinesAcrossTheBufferBoundary) {
  ScopedTempDir dir;
  // A CR LF pair split between two buffer fills must still end one line.
  std::string first(4095, 'a');
  WriteFile(dir / "f", first + "\r\nb");
  EXPECT_EQ(std::vector<std::string>({first, "b"}),
            ReadLines(dir / "f", std::string::npos));
}

TEST(ByteStreamTest, WritesAndReportsFailures) {
  ScopedTempDir dir;
  ByteStream out;
  ASSERT_TRUE(out.Open(dir / "w", ByteStream::Mode::kCreate));
  std::string big(10000, 'q');
  EXPECT_TRUE(WriteTexts(&out, big, "\r\n"));
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(big + "\r\n", ReadFile(dir / "w"));

  ByteStream missing;
  EXPECT_FALSE(missing.Open(dir / "none/x", ByteStream::Mode::kRead));
  EXPECT_NE(std::string::npos, missing.error().find("none/x"));

  // A read past the end fails, and keeps failing until cleared.
  ByteStream in;
  ASSERT_TRUE(in.Open(dir / "w", ByteStream::Mode::kRead));
  char buffer[20000];
  EXPECT_EQ(10002u, in.Read(buffer, sizeof(buffer)));
  EXPECT_TRUE(in.failed());
  EXPECT_FALSE(in.io_error());
  EXPECT_TRUE(in.Seek(0));
  EXPECT_EQ(0u, in.Read(buffer, 1));
  in.ClearError();
  EXPECT_EQ(1u, in.Read(buffer, 1));
}

}  // namespace
}  // namespace zavo
