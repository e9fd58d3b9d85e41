#include "fs/file_digest.h"

#include <vector>

#include "text/sha256.h"

namespace zavo {

Status Sha256OfFile(const HeldFile& file, std::string* hex,
                    std::int64_t* size) {
  return Sha256OfFiles({&file}, hex, size);
}

Status Sha256OfFiles(const std::vector<const HeldFile*>& files,
                     std::string* hex, std::int64_t* size) {
  Sha256 digest;
  std::vector<char> chunk(1 << 16);
  std::uint64_t total = 0;
  for (const HeldFile* file : files) {
    EntryStatus status;
    Status looked = file->Stat(&status);
    if (!looked.ok()) return looked;
    if (status.kind != EntryStatus::Kind::kFile) {
      return Status::Error("read(" + file->path() + "): not a regular file");
    }
    for (std::uint64_t at = 0;;) {
      std::size_t got = 0;
      // A failed read is never the end: a digest of part of a file must
      // never stand for the whole.
      Status read = file->ReadAt(at, chunk.data(), chunk.size(), &got);
      if (!read.ok()) return read;
      if (got == 0) break;
      digest.Update(chunk.data(), got);
      at += got;
      total += got;
    }
  }
  *hex = digest.HexDigest();
  *size = static_cast<std::int64_t>(total);
  return Status();
}

}  // namespace zavo
