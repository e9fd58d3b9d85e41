// The platform's file services: attributes, listings, file times and the
// current folder. One implementation per operating system.

#ifndef ZAVO_PLATFORM_FILE_SYSTEM_H_
#define ZAVO_PLATFORM_FILE_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "text/status.h"

namespace zavo {

// Attribute bits of a directory entry, as the converter tests them.
enum : std::uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrVolume = 0x08,
  kAttrFolder = 0x10,
  kAttrArchive = 0x20,
  // A symbolic link, junction or other reparse point. It is never a folder
  // here, whatever it points to.
  kAttrLink = 0x400,
};

// A file's attributes as saved for putting back later. `bits` are the
// attribute bits above; `native` is the platform's own word (the POSIX mode)
// so that putting it back restores exactly what was there.
struct FileAttributes {
  std::uint32_t bits = 0;
  std::uint32_t native = 0;
};

// Reads the attributes of path without following a final link. Fails
// (missing() when there is no such entry) when it cannot be queried.
Status GetFileAttributes(const std::string& path, FileAttributes* attributes);

// Puts back attributes saved by GetFileAttributes. Never changes a link.
Status RestoreFileAttributes(const std::string& path,
                             const FileAttributes& attributes);

// Makes a file writable and erasable. Never changes a link.
Status MakeFileWritable(const std::string& path);

// Whether this process may replace the file at path with a new one written
// beside it: the file is not read-only and is writable for this process,
// and so is its folder. A missing file, a link and a folder are not.
bool CanReplaceFile(const std::string& path);

// A file's modification time. On POSIX the exact time in seconds and
// nanoseconds; on Win32 `seconds` holds the packed local DOS date-time
// (date in the high 16 bits) and `nanoseconds` is 0.
struct FileTime {
  std::int64_t seconds = 0;
  std::int64_t nanoseconds = 0;
};

Status GetFileTime(const std::string& path, FileTime* time);
// Sets the modification time of path (of a link itself, never its target).
Status SetFileTime(const std::string& path, const FileTime& time);

// One entry of a folder listing.
struct DirEntry {
  std::string name;              // without folder
  std::uint32_t attributes = 0;  // kAttr* bits
  // The entry's inode where the listing tells it (POSIX), else 0: what the
  // file found later under that name is compared with.
  std::uint64_t inode = 0;
};

// A listing of one folder's entries whose names match a mask. Masks hold
// "*" and "?", match regardless of letter case, and "*.*" matches every
// name, also one without a dot. "." and ".." are never returned.
class DirectoryListing {
 public:
  virtual ~DirectoryListing() = default;
  // Fills *entry with the next entry; false when the listing has ended.
  virtual bool Next(DirEntry* entry) = 0;
  // Why the listing ended early, if it did.
  virtual Status error() const { return Status(); }
};

// Win32: opens a listing of pattern, a folder path followed by a mask (for
// example "C:\arc\*.zip") into *listing, for the held folders of that
// build. Fails when the folder cannot be listed. The POSIX build lists
// folders through their descriptors only (HeldFolder::List).
Status ListFolder(const std::string& pattern,
                  std::unique_ptr<DirectoryListing>* listing);

// Whether name matches mask: "*" any run, "?" one character, letter case
// ignored, "*.*" everything.
bool MatchesMask(const std::string& mask, const std::string& name);

// Whether a mask holds wildcards.
bool HasWildcards(const std::string& text);

// Win32: creates one folder, for the held folders of that build.
Status MakeFolder(const std::string& path);
// Removes one empty folder.
Status RemoveEmptyFolder(const std::string& path);
// Removes one file or link, never a folder.
Status EraseFile(const std::string& path);
// Renames source to destination, replacing destination atomically where the
// platform can.
Status RenameFile(const std::string& source, const std::string& destination);

// Whether path names a root ("/" on POSIX, "C:\" or "\" on Win32).
bool IsRootFolder(const std::string& path);

// The bytes this user may still write on the file system of `path` (Win32;
// POSIX asks a held folder instead).
Status FreeSpaceAt(const std::string& path, std::int64_t* bytes);

// The process's current folder; empty when it cannot be told.
std::string GetCurrentFolder();

// Raises this process's soft limit of open descriptors to its hard limit
// (POSIX): jobs and deep trees hold many. Nothing elsewhere.
void RaiseDescriptorLimit();

}  // namespace zavo

#endif  // ZAVO_PLATFORM_FILE_SYSTEM_H_
