// Whole files opened by name as C streams, in binary mode: the one way the
// layers above read and write file contents. One implementation per
// operating system.

#ifndef ZAVO_PLATFORM_FILE_HANDLE_H_
#define ZAVO_PLATFORM_FILE_HANDLE_H_

#include <cstdio>
#include <string>

namespace zavo {

enum class FileOpenMode {
  kRead,       // an existing file, from its start
  kCreate,     // a new or emptied file
  kAppend,     // writes go to the end of an existing or new file
  kCreateNew,  // a new file only: never an existing file or a link's target
};

// Opens path; null on failure, with errno telling why. The caller closes the
// stream with std::fclose.
std::FILE* OpenFile(const std::string& path, FileOpenMode mode);

// Writes the stream's buffer out and asks the system to put the file's data
// on the disk (fsync), so that a rename that publishes the file never
// outlives its contents in a power loss. False when either fails.
bool FlushToDisk(std::FILE* file);

// Puts the folder holding path on the disk (its entries: a rename just made
// in it). False when the folder cannot be opened or flushed; Win32 has no such
// call and returns true.
bool FlushFolderOf(const std::string& path);

}  // namespace zavo

#endif  // ZAVO_PLATFORM_FILE_HANDLE_H_
