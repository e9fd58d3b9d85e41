// The text of a Win32 error code, for the Win32 implementations of the
// platform services only.

#ifndef ZAVO_PLATFORM_ERROR_TEXT_WIN32_H_
#define ZAVO_PLATFORM_ERROR_TEXT_WIN32_H_

#include <string>

namespace zavo {

// The system's message for `code` without its final line end and full
// stop; "error N" when the system has none.
std::string Win32ErrorText(unsigned long code);

}  // namespace zavo

#endif  // ZAVO_PLATFORM_ERROR_TEXT_WIN32_H_
