// What the rest of zavo needs to know about the operating system it runs on:
// the facts that change a name, a switch or a limit. This header and the
// `*_posix.cc` / `*_win32.cc` files beside it are the only places that ask
// which system this is; everything above reads these constants instead.

#ifndef ZAVO_PLATFORM_OS_H_
#define ZAVO_PLATFORM_OS_H_

#include <cstddef>

namespace zavo {

#ifdef _WIN32
constexpr bool kIsWin32 = true;
// The folder separator; only Win32 knows drive names ("C:"), so only there
// ":" ends a folder part.
constexpr char kPathSeparator = '\\';
constexpr bool kHasDrives = true;
// Names differ only in letter case there: lists and paths compare without it.
constexpr bool kNamesIgnoreCase = true;
// Switches are written "/r"; POSIX also takes "-r".
constexpr bool kDashSwitches = false;
// The parameters that ask for the usage.
constexpr const char* kHelpWords[] = {"/?"};
// Whether the shell expands wildcards before zavo sees them: then several
// masks on the command line are one mask the user forgot to quote.
constexpr bool kShellExpandsWildcards = false;
#else
constexpr bool kIsWin32 = false;
constexpr char kPathSeparator = '/';
constexpr bool kHasDrives = false;
constexpr bool kNamesIgnoreCase = false;
constexpr bool kDashSwitches = true;
constexpr const char* kHelpWords[] = {"-h", "--help"};
constexpr bool kShellExpandsWildcards = true;
#endif

}  // namespace zavo

#endif  // ZAVO_PLATFORM_OS_H_
