#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/error_text_win32.h"
#include "platform/job_tokens.h"

namespace zavo {

// One inheritable semaphore holds the shared tokens; both ends are its
// handle, named in kVariable in decimal.
Status JobTokens::Join(int count, std::unique_ptr<JobTokens>* tokens) {
  char text[32];
  DWORD n = ::GetEnvironmentVariableA(kVariable, text, sizeof(text));
  if (n > 0 && n < sizeof(text)) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 10);
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
    DWORD flags = 0;
    if (end != text && *end == '\0' && ::GetHandleInformation(handle, &flags)) {
      std::intptr_t h = reinterpret_cast<std::intptr_t>(handle);
      tokens->reset(new JobTokens(h, h));
      return Status();
    }
  }
  SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  LONG shared = count > 1 ? count - 1 : 0;
  HANDLE semaphore =
      ::CreateSemaphoreA(&inherit, shared, shared > 0 ? shared : 1, nullptr);
  if (semaphore == nullptr) {
    return Status::Error("CreateSemaphore: " +
                         Win32ErrorText(::GetLastError()));
  }
  std::intptr_t h = reinterpret_cast<std::intptr_t>(semaphore);
  std::string value = std::to_string(static_cast<unsigned long long>(h));
  if (!::SetEnvironmentVariableA(kVariable, value.c_str())) {
    Status failed = Status::Error("SetEnvironmentVariable: " +
                                  Win32ErrorText(::GetLastError()));
    ::CloseHandle(semaphore);
    return failed;
  }
  tokens->reset(new JobTokens(h, h));
  return Status();
}

JobTokens::~JobTokens() = default;

JobTokens::Wait JobTokens::TakeShared(int milliseconds) {
  switch (::WaitForSingleObject(reinterpret_cast<HANDLE>(take_),
                                static_cast<DWORD>(milliseconds))) {
    case WAIT_OBJECT_0:
      return Wait::kTaken;
    case WAIT_TIMEOUT:
      return Wait::kTimedOut;
    default:
      return Wait::kBroken;
  }
}

void JobTokens::GiveShared() {
  ::ReleaseSemaphore(reinterpret_cast<HANDLE>(give_), 1, nullptr);
}

}  // namespace zavo
