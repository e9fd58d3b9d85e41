#include "fs/file_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/file_handle.h"
#include "text/sha256.h"

namespace zavo {

bool Sha256OfFile(const std::string& path, std::string* hex, std::int64_t* size,
                  std::string* error) {
  std::FILE* file = OpenFile(path, FileOpenMode::kRead);
  if (file == nullptr) {
    *error = "open(" + path + "): " + std::strerror(errno);
    return false;
  }
  Sha256 digest;
  std::vector<unsigned char> chunk(1 << 16);
  std::int64_t total = 0;
  for (;;) {
    std::size_t got = std::fread(chunk.data(), 1, chunk.size(), file);
    digest.Update(chunk.data(), got);
    total += static_cast<std::int64_t>(got);
    if (got < chunk.size()) break;
  }
  // A short read is the end of the file unless it was an error: a digest
  // of part of a file must never stand for the whole.
  bool failed = std::ferror(file) != 0;
  int read_errno = errno;
  std::fclose(file);
  if (failed) {
    *error = "read(" + path + "): " + std::strerror(read_errno);
    return false;
  }
  *hex = digest.HexDigest();
  *size = total;
  return true;
}

}  // namespace zavo
