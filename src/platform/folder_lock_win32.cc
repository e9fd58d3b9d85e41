#include <windows.h>

#include "platform/error_text_win32.h"
#include "platform/folder_lock.h"

namespace zavo {

namespace {
// A folder cannot be locked itself: a file of this name in it, opened with
// no sharing, stands for the lock and goes when its handle is closed.
constexpr char kLockName[] = "zavo-lock.tmp";
}  // namespace

bool MayWriteFolder(std::uint32_t, std::uint32_t, const std::string&,
                    std::uint32_t, std::uint32_t, std::uint32_t) {
  return true;
}

std::unique_ptr<FolderLock> FolderLock::Take(const HeldFolder& folder,
                                             Outcome* outcome, Status* error,
                                             std::string* note) {
  note->clear();
  std::string path = folder.path();
  if (path.empty() || path.back() != '\\') path += '\\';
  path += kLockName;
  HANDLE handle = CreateFileA(
      path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    *outcome = code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED
                   ? Outcome::kBusy
                   : Outcome::kError;
    *error = Status::Error("CreateFile(" + path + "): " + Win32ErrorText(code),
                           static_cast<int>(code));
    return nullptr;
  }
  *outcome = Outcome::kTaken;
  return std::unique_ptr<FolderLock>(
      new FolderLock(reinterpret_cast<std::intptr_t>(handle), -1));
}

FolderLock::~FolderLock() { CloseHandle(reinterpret_cast<HANDLE>(own_)); }

}  // namespace zavo
