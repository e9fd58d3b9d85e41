// An advisory lock on a folder, so that two runs never convert in one
// folder at once. Only runs of this program look at it; it binds nobody
// else.

#ifndef ZAVO_PLATFORM_FOLDER_LOCK_H_
#define ZAVO_PLATFORM_FOLDER_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

namespace zavo {

class FolderLock {
 public:
  enum class Outcome {
    kTaken,  // this run holds the folder
    kBusy,   // another run holds it
    kError,  // the folder could not be locked (gone, not a folder, a file
             // system without locks); error() says why
  };

  // Tries once, without waiting, to lock `folder` (ending in a separator
  // or not). The lock is held until the object is destroyed, or until the
  // process ends, whichever comes first.
  static std::unique_ptr<FolderLock> Take(const std::string& folder,
                                          Outcome* outcome, std::string* error);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace zavo

#endif  // ZAVO_PLATFORM_FOLDER_LOCK_H_
