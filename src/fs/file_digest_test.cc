#include "fs/file_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_dir.h"
#include "text/sha256.h"

namespace zavo {
namespace {

TEST(FileDigestTest, DigestAndSizeOfWholeHeldFiles) {
  ScopedTempDir dir;
  // Larger than the read chunk, and not a multiple of it.
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7 % 251);
  WriteFile(dir / "a.bin", data);
  WriteFile(dir / "empty", "");
  HeldFolder folder;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &folder).ok());
  struct {
    const char* name;
    std::string data;
  } cases[] = {{"a.bin", data}, {"empty", ""}};
  for (const auto& c : cases) {
    HeldFile file;
    ASSERT_TRUE(folder.OpenFile(c.name, &file).ok());
    std::string hex;
    std::int64_t size = -1;
    ASSERT_TRUE(Sha256OfFile(file, &hex, &size).ok()) << c.name;
    EXPECT_EQ(Sha256Hex(c.data), hex);
    EXPECT_EQ(static_cast<std::int64_t>(c.data.size()), size);
  }
  // A folder held as a file is no file to digest.
  HeldFile self;
  if (folder.OpenFile(".", &self).ok()) {
    std::string hex = "kept";
    std::int64_t size = -1;
    EXPECT_FALSE(Sha256OfFile(self, &hex, &size).ok());
    EXPECT_EQ("kept", hex);
  }
}

}  // namespace
}  // namespace zavo
