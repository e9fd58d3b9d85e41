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

TEST(FileDigestTest, VolumesAreDigestedAsTheirJoinedBytes) {
  ScopedTempDir dir;
  std::string first(70000, 'a'), second = "tail";
  WriteFile(dir / "x.001", first);
  WriteFile(dir / "x.002", second);
  HeldFolder folder;
  ASSERT_TRUE(HeldFolder::Open(dir.path(), &folder).ok());
  HeldFile a, b;
  ASSERT_TRUE(folder.OpenFile("x.001", &a).ok());
  ASSERT_TRUE(folder.OpenFile("x.002", &b).ok());
  std::string hex;
  std::int64_t size = -1;
  ASSERT_TRUE(Sha256OfFiles({&a, &b}, &hex, &size).ok());
  EXPECT_EQ(Sha256Hex(first + second), hex);
  EXPECT_EQ(70004, size);
}

}  // namespace
}  // namespace zavo
