// A handle opened with FILE_APPEND_DATA and without FILE_WRITE_DATA writes
// every WriteFile at the current end of the file: the Win32 counterpart of
// O_APPEND. Finding the end and writing there is one step on a local NTFS
// volume, but not everywhere the file may live (Wine, for one, reads the
// size and then writes at it, so two appenders land on the same offset and
// one record overwrites the other). Each append therefore also holds an
// exclusive byte-range lock on one byte far past any data, which every
// appender of this file takes, so appends follow one another; readers are
// not held up, since no data lies in the locked range.

#include <windows.h>

#include <algorithm>

#include "platform/append_file.h"
#include "platform/error_text_win32.h"

namespace zavo {

namespace {

// The byte the appenders lock: the last one below 2^63, where no record
// ever lies.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

// Holds the appenders' lock while it lives. A handle without read access
// cannot lock (LockFileEx wants read or write data access); such a handle
// appends without it, as the file system alone allows.
class AppendLock {
 public:
  explicit AppendLock(HANDLE handle) : handle_(handle) {
    OVERLAPPED at = {};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    held_ = ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
  }
  ~AppendLock() {
    if (!held_) return;
    OVERLAPPED at = {};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(handle_, 0, 1, 0, &at);
  }
  AppendLock(const AppendLock&) = delete;
  AppendLock& operator=(const AppendLock&) = delete;

 private:
  HANDLE handle_;
  bool held_ = false;
};

}  // namespace

AppendFile::~AppendFile() { Close(); }

bool AppendFile::is_open() const { return handle_ != nullptr; }

void AppendFile::Close() {
  if (handle_ != nullptr) ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
}

bool AppendFile::Open(const std::string& path) {
  Close();
  path_ = path;
  error_.clear();
  torn_ = false;
  readable_ = true;
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // No SECURITY_ATTRIBUTES: the handle is not inherited by the archivers.
  HANDLE h = ::CreateFileA(
      path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE, share,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
    readable_ = false;
    h = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share,
                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (h == INVALID_HANDLE_VALUE) {
    error_ = "CreateFile(" + path + "): " + Win32ErrorText(::GetLastError());
    return false;
  }
  handle_ = h;
  return true;
}

bool AppendFile::Append(const std::string& data) {
  if (handle_ == nullptr) {
    error_ = "append(" + path_ + "): not open";
    return false;
  }
  std::string out = torn_ ? "\n" + data : data;
  AppendLock lock(static_cast<HANDLE>(handle_));
  DWORD written = 0;
  if (out.size() > 0xFFFFFFFFu ||
      !::WriteFile(static_cast<HANDLE>(handle_), out.data(),
                   static_cast<DWORD>(out.size()), &written, nullptr)) {
    error_ = "WriteFile(" + path_ + "): " + Win32ErrorText(::GetLastError());
    torn_ = torn_ || written > 0;
    return false;
  }
  if (written != out.size()) {
    torn_ = true;
    error_ = "WriteFile(" + path_ + "): only " + std::to_string(written) +
             " of " + std::to_string(out.size()) + " bytes written";
    return false;
  }
  torn_ = false;
  return true;
}

std::int64_t AppendFile::Size() {
  LARGE_INTEGER size;
  if (handle_ == nullptr ||
      ::GetFileType(static_cast<HANDLE>(handle_)) != FILE_TYPE_DISK ||
      !::GetFileSizeEx(static_cast<HANDLE>(handle_), &size)) {
    return -1;
  }
  return static_cast<std::int64_t>(size.QuadPart);
}

bool AppendFile::ReadFrom(std::int64_t offset, std::string* data) {
  data->clear();
  std::int64_t end = Size();
  if (!readable_ || end < 0 || offset < 0) return false;
  if (offset >= end) return true;
  data->resize(static_cast<std::size_t>(end - offset));
  std::size_t done = 0;
  while (done < data->size()) {
    // An explicit offset for each read: the handle's own position means
    // nothing to an append-only handle.
    OVERLAPPED at = {};
    std::uint64_t position = static_cast<std::uint64_t>(offset) + done;
    at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD want = static_cast<DWORD>(
        std::min<std::size_t>(data->size() - done, 1u << 20));
    DWORD got = 0;
    if (!::ReadFile(static_cast<HANDLE>(handle_), &(*data)[done], want, &got,
                    &at) ||
        got == 0) {
      break;
    }
    done += got;
  }
  data->resize(done);
  return true;
}

}  // namespace zavo
