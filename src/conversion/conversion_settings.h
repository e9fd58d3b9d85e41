// What the settings and switches ask of the conversion of one archive: the
// part of the run's options a conversion reads, and never changes.

#ifndef ZAVO_CONVERSION_CONVERSION_SETTINGS_H_
#define ZAVO_CONVERSION_CONVERSION_SETTINGS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "text/sorted_text_list.h"

namespace zavo {

// Bounds on what one archive may unpack. The defaults let real archives
// through and stop a bomb before it fills the disk.
struct UnpackLimits {
  // The largest single file an archiver may write (MaxFileSize).
  std::int64_t max_file_size = std::int64_t{64} << 30;
  // The free space (and the share of free inodes, in per mille of the
  // file system's) an archive's unpacking must leave on the file system of
  // its work folder (KeepFree); an archiver that goes below it is stopped
  // and the archive fails.
  std::int64_t keep_free = std::int64_t{128} << 20;
  // The most entries an unpacked archive may hold (MaxEntries), and the
  // deepest folder in it (MaxDepth).
  std::int64_t max_entries = 1000000;
  int max_depth = 512;
};

struct ConversionSettings {
  // Named as the settings keys name them.
  bool keep_time = false;
  bool stop_on_error = false;
  bool kill_exist = false;
  bool verify = false;
  // Fidelity exact: with Verify, what the new archive cannot keep of the
  // old one (owners, hard links, comments...) fails it instead of being
  // named on standard error.
  bool fidelity_exact = false;
  bool nested = false;
  // --keep or KeepOriginal: the new archive goes beside the old one, which
  // stays as it was; never replaced, not even by a new archive of its name.
  bool keep_original = false;
  // The archivers-file definition every archive is packed with (the first
  // section unless chosen otherwise).
  std::size_t target = 0;
  // The setting lists; on Win32 upper-cased, as names ignore case there.
  SortedTextList scan_commands;
  // ScanFailCodes: the exit codes with which a scanner says it could not
  // scan (a daemon that could not open the folder): they fail the archive,
  // as a scanner that could not start does.
  std::vector<int> scan_fail_codes;
  SortedTextList delete_masks;
  SortedTextList add_masks;
  // The folder relative AddFile masks start from.
  std::string start_folder;
  UnpackLimits limits;
};

}  // namespace zavo

#endif  // ZAVO_CONVERSION_CONVERSION_SETTINGS_H_
