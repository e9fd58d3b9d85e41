#include "fs/file_digest.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/temp_dir.h"
#include "text/sha256.h"

namespace zavo {
namespace {

TEST(FileDigestTest, DigestAndSizeOfWholeFiles) {
  ScopedTempDir dir;
  // Larger than the read chunk, and not a multiple of it.
  std::string data;
  for (int i = 0; i < 200000; ++i) data += static_cast<char>(i * 7 % 251);
  WriteFile(dir / "a.bin", data);
  std::string hex, error;
  std::int64_t size = -1;
  ASSERT_TRUE(Sha256OfFile(dir / "a.bin", &hex, &size, &error)) << error;
  EXPECT_EQ(Sha256Hex(data), hex);
  EXPECT_EQ(200000, size);

  WriteFile(dir / "empty", "");
  ASSERT_TRUE(Sha256OfFile(dir / "empty", &hex, &size, &error));
  EXPECT_EQ(Sha256Hex(""), hex);
  EXPECT_EQ(0, size);

  hex = "kept";
  EXPECT_FALSE(Sha256OfFile(dir / "missing", &hex, &size, &error));
  EXPECT_EQ("kept", hex);
  EXPECT_NE(std::string::npos, error.find("missing")) << error;
  // A folder opens on POSIX but cannot be read: no digest of nothing.
  EXPECT_FALSE(Sha256OfFile(dir.path(), &hex, &size, &error));
  EXPECT_EQ("kept", hex);
}

}  // namespace
}  // namespace zavo
