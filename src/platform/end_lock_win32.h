// Appending processes and threads taking turns on one file, for the Win32
// implementations of the platform services only.
//
// A write at the end of a file (a FILE_APPEND_DATA handle, or the offset
// FILE_WRITE_TO_END_OF_FILE) finds the end and writes there in one step on
// a local NTFS volume, but not everywhere a file may live: Wine, for one,
// reads the size and then writes at it, so that two writers land on the
// same offset and one overwrites the other. Whoever appends to a file that
// others append to holds this lock meanwhile: an exclusive byte-range lock
// on one byte far past any data, so writers follow one another and readers
// are never held up. A handle without read or write data access cannot
// lock (LockFileEx wants one of them); it then appends as the file system
// alone allows.

#ifndef ZAVO_PLATFORM_END_LOCK_WIN32_H_
#define ZAVO_PLATFORM_END_LOCK_WIN32_H_

#include <windows.h>

namespace zavo {

class EndLock {
 public:
  explicit EndLock(HANDLE handle) : handle_(handle) {
    OVERLAPPED at = Where();
    held_ = ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
  }
  ~EndLock() {
    if (!held_) return;
    OVERLAPPED at = Where();
    ::UnlockFileEx(handle_, 0, 1, 0, &at);
  }
  EndLock(const EndLock&) = delete;
  EndLock& operator=(const EndLock&) = delete;

 private:
  // The last byte below 2^63, where no data ever lies.
  static OVERLAPPED Where() {
    OVERLAPPED at = {};
    at.Offset = 0xFFFFFFFEu;
    at.OffsetHigh = 0x7FFFFFFFu;
    return at;
  }

  HANDLE handle_;
  bool held_ = false;
};

}  // namespace zavo

#endif  // ZAVO_PLATFORM_END_LOCK_WIN32_H_
