// The SHA-256 of a whole file, as evidence of what a file held.

#ifndef ZAVO_FS_FILE_DIGEST_H_
#define ZAVO_FS_FILE_DIGEST_H_

#include <cstdint>
#include <string>

namespace zavo {

// Reads the file at path from start to end and puts its digest into *hex
// and its length into *size. Returns false, with *error saying why, when the
// file cannot be opened or a read fails; *hex and *size are then unchanged.
bool Sha256OfFile(const std::string& path, std::string* hex, std::int64_t* size,
                  std::string* error);

}  // namespace zavo

#endif  // ZAVO_FS_FILE_DIGEST_H_
