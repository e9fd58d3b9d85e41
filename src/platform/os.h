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
// cmd.exe refuses longer command lines.
constexpr std::size_t kMaxCommandLength = 8191;
// cmd.exe has no quoting that protects every character; the template's
// author quotes the macros there, and zavo substitutes names as they are.
constexpr bool kQuotesForShell = false;
// What "@FileName" stands for when packing and extracting: Win32 archivers
// take "*.*" for "every file".
constexpr const char* kPackFileName = "*.*";
constexpr const char* kExtractFileName = "*.*";
#else
constexpr bool kIsWin32 = false;
constexpr char kPathSeparator = '/';
constexpr bool kHasDrives = false;
constexpr bool kNamesIgnoreCase = false;
constexpr bool kDashSwitches = true;
constexpr const char* kHelpWords[] = {"-h", "--help"};
constexpr bool kShellExpandsWildcards = true;
// The command is one argument of "sh -c"; Linux takes no single argument
// longer than 32 pages, its terminating zero included.
constexpr std::size_t kMaxCommandLength = 131072 - 1;
// Commands run through "sh -c": zavo quotes every substituted name.
constexpr bool kQuotesForShell = true;
// "*.*" means "names with a dot" to a shell and to 7z alike, so packing
// names the work folder itself, ".", which takes in every file, dot-names,
// sub-folders and empty folders; extracting names the archiver's own
// wildcard "*" (quoted, so the shell never expands it).
constexpr const char* kPackFileName = ".";
constexpr const char* kExtractFileName = "*";
#endif

}  // namespace zavo

#endif  // ZAVO_PLATFORM_OS_H_
