// A private scratch file that collects what one job writes, its children's
// output included, until the job's turn to show it comes. It has no name
// another process could open (unlinked at once on POSIX, deleted on close
// on Win32), and its data lives in the system's file cache, not in this
// process: however much an archiver writes, the run's memory stays the
// same.

#ifndef ZAVO_PLATFORM_CAPTURE_FILE_H_
#define ZAVO_PLATFORM_CAPTURE_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "text/status.h"

namespace zavo {

class CaptureFile {
 public:
  // A new scratch file in *file; fails when none can be made.
  static Status Create(std::unique_ptr<CaptureFile>* file);
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Appends `text` after whatever the children wrote so far.
  bool Append(const std::string& text);
  // For ChildSpec::output and errors: children write through it at the same
  // position.
  std::intptr_t handle() const { return handle_; }
  // Hands what was collected from byte `from` up to byte `to` (-1: to the
  // end) to `take`, in pieces of at most 64 KiB, in order; false when it
  // could not be read whole.
  bool ForEachChunk(const std::function<void(const char*, std::size_t)>& take,
                    std::int64_t from = 0, std::int64_t to = -1);
  // How many bytes were collected so far; -1 when that cannot be told.
  std::int64_t Size() const;

 private:
  explicit CaptureFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace zavo

#endif  // ZAVO_PLATFORM_CAPTURE_FILE_H_
