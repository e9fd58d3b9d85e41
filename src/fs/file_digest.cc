#include "fs/file_digest.h"

#include <vector>

#include "text/sha256.h"

namespace zavo {

Status Sha256OfFile(const HeldFile& file, std::string* hex,
                    std::int64_t* size) {
  EntryStatus status;
  Status looked = file.Stat(&status);
  if (!looked.ok()) return looked;
  if (status.kind != EntryStatus::Kind::kFile) {
    return Status::Error("read(" + file.path() + "): not a regular file");
  }
  Sha256 digest;
  std::vector<char> chunk(1 << 16);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t got = 0;
    // A failed read is never the end: a digest of part of a file must
    // never stand for the whole.
    Status read = file.ReadAt(total, chunk.data(), chunk.size(), &got);
    if (!read.ok()) return read;
    if (got == 0) break;
    digest.Update(chunk.data(), got);
    total += got;
  }
  *hex = digest.HexDigest();
  *size = static_cast<std::int64_t>(total);
  return Status();
}

}  // namespace zavo
