// A handle opened with FILE_APPEND_DATA and without FILE_WRITE_DATA writes
// every WriteFile at the current end of the file: the Win32 counterpart of
// O_APPEND. Each append holds the appenders' EndLock as well, since finding
// the end and writing there is not one step everywhere.

#include <windows.h>

#include <algorithm>

#include "platform/append_file.h"
#include "platform/end_lock_win32.h"
#include "platform/error_text_win32.h"

namespace zavo {

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
  return CheckRegular();
}

bool AppendFile::Adopt(std::intptr_t, const std::string& path) {
  return Open(path);
}

bool AppendFile::CheckRegular() {
  if (::GetFileType(static_cast<HANDLE>(handle_)) != FILE_TYPE_DISK) {
    error_ = "CreateFile(" + path_ + "): not a regular file";
    Close();
    return false;
  }
  return true;
}

std::intptr_t AppendFile::handle() const { return -1; }

bool AppendFile::Append(const std::string& data) {
  if (handle_ == nullptr) {
    error_ = "append(" + path_ + "): not open";
    return false;
  }
  std::string out = torn_ ? "\n" + data : data;
  EndLock lock(static_cast<HANDLE>(handle_));
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
