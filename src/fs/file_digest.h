// The SHA-256 of a whole file, as evidence of what a file held.

#ifndef ZAVO_FS_FILE_DIGEST_H_
#define ZAVO_FS_FILE_DIGEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dir_handle.h"
#include "text/status.h"

namespace zavo {

// Reads the open `file` from its start to its end, without moving its
// position, and puts its digest into *hex and its length into *size. Only
// a regular file is read: anything else (a device that never ends, a pipe)
// fails. Fails, with *hex and *size unchanged, when a read fails.
Status Sha256OfFile(const HeldFile& file, std::string* hex, std::int64_t* size);

// The same over the bytes of several open files one after the other (the
// volumes of a set, as "cat" would join them), none of them null: *size is
// their total length.
Status Sha256OfFiles(const std::vector<const HeldFile*>& files,
                     std::string* hex, std::int64_t* size);

}  // namespace zavo

#endif  // ZAVO_FS_FILE_DIGEST_H_
