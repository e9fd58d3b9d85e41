#include <windows.h>

#include "platform/capture_file.h"
#include "platform/error_text_win32.h"

namespace zavo {

Status CaptureFile::Create(std::unique_ptr<CaptureFile>* file) {
  char folder[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(sizeof(folder), folder);
  char path[MAX_PATH + 1];
  if (n == 0 || n > MAX_PATH ||
      ::GetTempFileNameA(folder, "zvo", 0, path) == 0) {
    return Status::Error("can't name a scratch file: " +
                         Win32ErrorText(::GetLastError()));
  }
  // Shared with nobody, gone when closed; inheritable from the start, as
  // it is made for children to write their output to.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE handle = ::CreateFileA(
      path, GENERIC_READ | GENERIC_WRITE, 0, &inheritable, CREATE_ALWAYS,
      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Status failed =
        Status::Error(std::string("can't make a scratch file [") + path +
                      "]: " + Win32ErrorText(::GetLastError()));
    ::DeleteFileA(path);
    return failed;
  }
  file->reset(new CaptureFile(reinterpret_cast<std::intptr_t>(handle)));
  return Status();
}

CaptureFile::~CaptureFile() {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool CaptureFile::Append(const std::string& text) {
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    DWORD put = 0;
    DWORD chunk = left > 65536 ? 65536 : static_cast<DWORD>(left);
    if (!::WriteFile(h, p, chunk, &put, nullptr) || put == 0) return false;
    p += put;
    left -= put;
  }
  return true;
}

bool CaptureFile::ForEachChunk(
    const std::function<void(const char*, std::size_t)>& take,
    std::int64_t from, std::int64_t to) {
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  LARGE_INTEGER start = {};
  start.QuadPart = from;
  if (!::SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) return false;
  char buffer[65536];
  std::int64_t at = from;
  bool whole = true;
  for (;;) {
    DWORD want = sizeof(buffer);
    if (to >= 0) {
      if (at >= to) break;
      if (static_cast<std::int64_t>(want) > to - at) {
        want = static_cast<DWORD>(to - at);
      }
    }
    DWORD got = 0;
    if (!::ReadFile(h, buffer, want, &got, nullptr)) {
      whole = false;
      break;
    }
    if (got == 0) break;
    take(buffer, got);
    at += got;
  }
  // Children and Append write where the handle points: at the end.
  LARGE_INTEGER zero = {};
  ::SetFilePointerEx(h, zero, nullptr, FILE_END);
  return whole;
}

std::int64_t CaptureFile::Size() const {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &size)) return -1;
  return size.QuadPart;
}

}  // namespace zavo
