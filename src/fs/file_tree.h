// Operations on files and folders named by path: tests, folder creation,
// copying, whole files. None of them prints anything. They serve the files
// outside the tree a run converts (settings, the archivers file, added
// files on Win32); the tree itself is only reached through held folders.
//
// Links are never followed when something is removed or written: a link is
// removed as a link, a copy onto a name that is a link replaces the link, and
// a tree removal never descends through one.

#ifndef ZAVO_FS_FILE_TREE_H_
#define ZAVO_FS_FILE_TREE_H_

#include <string>

#include "text/status.h"

namespace zavo {

// True when path names an existing entry that is not a folder (a link counts
// as the entry it is, not as its target). False for a folder, an empty path,
// a name with wildcards, or a missing file.
bool FileExists(const std::string& path);

// True when path (with or without a final separator) names an existing
// folder; an empty path asks about the current folder. A link to a folder is
// not a folder here.
bool FolderExists(const std::string& path);

// Creates every missing folder of the path's folder part: "a/b/" makes a and
// a/b, "a/b" makes only a. Returns false when a creation failed (an existing
// file in the place of a folder, no permission); folders made before stay.
bool ForceFolders(const std::string& path);

// Copies source to destination with the source's file time and attributes.
// The data goes to a new file beside the destination that is renamed over it
// when complete, so a link in the destination's place is replaced, never
// written through. Does nothing when the source does not exist or both name
// the same file, and copies nothing over an existing read-only destination.
// Returns true when the destination holds the whole source afterwards.
bool CopyFileTo(const std::string& source, const std::string& destination,
                bool append = false);

// Writes data to a new file beside path and renames it over path, keeping
// the permissions of an existing path. Fails, with path untouched, when any
// step failed.
Status ReplaceFileContents(const std::string& path, const std::string& data);

// Reads the whole file into *data. Fails when the file cannot be opened or
// read to its end.
Status ReadWholeFile(const std::string& path, std::string* data);

}  // namespace zavo

#endif  // ZAVO_FS_FILE_TREE_H_
