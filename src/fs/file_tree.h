// Operations on files and folders: tests, folder creation, tree removal,
// copying, moving and removing single files. None of them prints anything.
//
// Links are never followed when something is removed or written: a link is
// removed as a link, a copy onto a name that is a link replaces the link, and
// a tree removal never descends through one.

#ifndef ZAVO_FS_FILE_TREE_H_
#define ZAVO_FS_FILE_TREE_H_

#include <string>

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

// Removes the folder (given without a final separator) with everything in
// it; with recurse false, sub-folders are left. Refuses an empty path and a
// root. Links inside are removed as links. Returns true when the folder is
// gone afterwards.
bool RemoveTree(const std::string& folder, bool recurse = true);

// Copies source to destination with the source's file time and attributes.
// The data goes to a new file beside the destination that is renamed over it
// when complete, so a link in the destination's place is replaced, never
// written through. Does nothing when the source does not exist or both name
// the same file, and copies nothing over an existing read-only destination.
// Returns true when the destination holds the whole source afterwards.
bool CopyFileTo(const std::string& source, const std::string& destination,
                bool append = false);

// Moves source to destination, replacing an existing writable destination.
// Within one file system the destination is replaced atomically by a rename;
// across file systems the data is copied beside the destination, checked for
// its size and renamed over it, and only then is the source removed. A
// read-only destination is left as it is. Returns true when the destination
// holds the source's data and the source is gone.
bool MoveFileTo(const std::string& source, const std::string& destination);

// Erases the file (or link) when FileExists; a read-only file stays.
// Returns true when nothing of that name exists afterwards.
bool RemoveFile(const std::string& path);

// Writes data to a new file beside path and renames it over path, keeping
// the permissions of an existing path. Returns false, with path untouched,
// when any step failed; *error then says which.
bool ReplaceFileContents(const std::string& path, const std::string& data,
                         std::string* error = nullptr);

// Reads the whole file into *data. Returns false with *error set when the
// file cannot be opened or read to its end.
bool ReadWholeFile(const std::string& path, std::string* data,
                   std::string* error = nullptr);

// The reason in an error text of this layer or the platform's: what follows
// the call and its path ("open(/x): Permission denied" gives "Permission
// denied"); the whole text when it has no such form.
std::string ErrorReason(const std::string& error);

}  // namespace zavo

#endif  // ZAVO_FS_FILE_TREE_H_
