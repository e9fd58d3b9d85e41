// What a zip file holds after its members: the archive's own comment and
// the members' comments, which libarchive reads past without a word.

#ifndef ZAVO_VERIFY_ZIP_TRAILER_H_
#define ZAVO_VERIFY_ZIP_TRAILER_H_

#include "platform/dir_handle.h"

namespace zavo {

struct ZipComments {
  bool archive = false;  // the end record holds a comment
  bool members = false;  // some central directory entry holds one
};

// Reads the end of central directory record of the zip file `file` (zip64
// included) and walks its central directory. A file without a readable
// end record holds no comments here. The file's position moves.
ZipComments ReadZipComments(HeldFile* file);

}  // namespace zavo

#endif  // ZAVO_VERIFY_ZIP_TRAILER_H_
