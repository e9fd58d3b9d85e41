// What a zip file's central directory says that libarchive does not: the
// archive's own comment and the members' comments, which it reads past
// without a word, and times before 1970, which it misreads.

#ifndef ZAVO_VERIFY_ZIP_TRAILER_H_
#define ZAVO_VERIFY_ZIP_TRAILER_H_

#include <cstdint>
#include <map>
#include <string>

#include "platform/dir_handle.h"

namespace zavo {

struct ZipFacts {
  bool archive_comment = false;  // the end record holds a comment
  bool member_comments = false;  // some central directory entry holds one
  // The members whose extended timestamp (0x5455) holds a time before 1970,
  // by their names as stored: the field is a signed number of seconds, and
  // libarchive (7-Zip too) reads it unsigned, as a time after 2038.
  std::map<std::string, std::int64_t> early_times;
};

// Reads the end of central directory record of the zip file `file` (zip64
// included) and walks its central directory. A file without a readable
// end record has no facts here.
ZipFacts ReadZipFacts(const HeldFile& file);

}  // namespace zavo

#endif  // ZAVO_VERIFY_ZIP_TRAILER_H_
