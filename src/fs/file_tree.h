// Files named by path: whether one is there, and whole files read and
// replaced. None of these prints anything. They serve the files outside the
// tree a run converts (the settings, the archivers file); the tree itself is
// only reached through held folders.
//
// A file replaced where a link stands replaces the link: it is never written
// through.

#ifndef ZAVO_FS_FILE_TREE_H_
#define ZAVO_FS_FILE_TREE_H_

#include <string>

#include "text/status.h"

namespace zavo {

// True when path names an existing entry that is not a folder (a link counts
// as the entry it is, not as its target). False for a folder, an empty path,
// a name with wildcards, or a missing file.
bool FileExists(const std::string& path);

// Writes data to a new file beside path and renames it over path, keeping
// the permissions of an existing path. Fails, with path untouched, when any
// step failed.
Status ReplaceFileContents(const std::string& path, const std::string& data);

// Reads the whole file into *data. Fails when the file cannot be opened or
// read to its end.
Status ReadWholeFile(const std::string& path, std::string* data);

}  // namespace zavo

#endif  // ZAVO_FS_FILE_TREE_H_
